// The made-up devices the benchmarks fill the registry with: device i has its own
// address in 198.18.0.0/15, identity DEV<i> and host nas<i>.
#ifndef NASFINDER_BENCHDEVICES_H
#define NASFINDER_BENCHDEVICES_H

#include <string>

#include "DeviceRecord.h"
#include "SearchDeviceInfo.h"

inline deviceinfo BenchDevice(int i, const char* vendor = "TAVIK", const char* product = nullptr)
{
    const std::string n = std::to_string(i);
    return testsupport::MakeRecord()
        .Id("DEV" + n)
        .Ip("198.18." + std::to_string(1 + i / 254) + "." + std::to_string(1 + i % 254))
        .Host("nas" + n)
        .Product(product != nullptr ? std::string(product) : "P" + n)
        .OsVersion("2.1")
        .Factory(vendor);
}

#endif
