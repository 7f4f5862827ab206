// The made-up devices the benchmarks fill the registry with: device i has its own
// address in 198.18.0.0/15, identity DEV<i> and host nas<i>.
#ifndef NASFINDER_BENCHDEVICES_H
#define NASFINDER_BENCHDEVICES_H

#include <string>

#include "SearchDeviceInfo.h"

inline deviceinfo BenchDevice(int i, const char* vendor = "TAVIK", const char* product = nullptr)
{
    deviceinfo d;
    std::string id = "DEV" + std::to_string(i);
    std::string ip = "198.18." + std::to_string(1 + i / 254) + "." + std::to_string(1 + i % 254);
    std::string host = "nas" + std::to_string(i);
    std::string prod = product != nullptr ? product : "P" + std::to_string(i);
    CopyDeviceField(d.id, id.c_str());
    CopyDeviceField(d.ip, ip.c_str());
    CopyDeviceField(d.host, host.c_str());
    CopyDeviceField(d.product, prod.c_str());
    CopyDeviceField(d.osversion, "2.1");
    CopyDeviceField(d.factory, vendor);
    d.type = 1;
    return d;
}

#endif
