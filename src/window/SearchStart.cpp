#include "SearchStart.h"

#include "DeviceSearchInterface.h"
#include "SearchAddresses.h"

void StartSearchLibrary(const QStringList& searchAddresses)
{
    UseSearchAddresses(searchAddresses);
    CDeviceSearchInterface::GetInstance()->DeviceSearchDllInit(nullptr, false, nullptr, true);
}
