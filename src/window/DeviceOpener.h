// Opening a device's web page or file share with the desktop: the address is
// checked (and a name looked up, once) before it goes into the URL, and what
// could not be opened is said in words the user can act on.
#ifndef NASFINDER_DEVICEOPENER_H
#define NASFINDER_DEVICEOPENER_H

#include "DeviceAddress.h"

#include <QString>

class Captions;
class QUrl;

// Opens scheme://address through the desktop. Returns the status line's
// notice, in the window's language: empty when the desktop took the URL,
// otherwise why nothing was opened, naming the address.
QString OpenDeviceAddress(const QString& scheme, const QString& address, NameResolver resolve,
                          const Captions& captions);

#endif
