// The check a device's address passes before it goes into a URL that the
// desktop opens.
#ifndef NASFINDER_DEVICEADDRESS_H
#define NASFINDER_DEVICEADDRESS_H

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

#include "HostAddress.h"
#include "NetworkInterfaces.h"

// True for a text that can follow "http://" or "smb://" and name exactly the
// host shown: a dotted IPv4 address in canonical form, or a host name of
// letters, digits, '-' and '.' that no URL parser would read as a number.
// Anything else (an '@', ':', '/', '%', a space, "0x7f.1", "010.0.0.1") could
// make a URL whose host is not the text the user sees. Addresses and names of
// the user's own machine, "this network", multicast and the reserved block
// (with 255.255.255.255) are refused too, as is a name that begins with a
// dotted IPv4 address: none of them is a device on the LAN.
bool IsSafeDeviceAddress(const QString& text);

// What the window opens for a device's address: a literal address that passes
// IsSafeDeviceAddress and is neither one of this computer's own nor the network
// or broadcast address of one of its subnets (local lists them), or for a name, the
// first address it resolves to now, when every address it resolves to passes the
// same check. The URL then holds what was checked, so that a second look-up by
// the browser cannot lead it elsewhere (to this computer, say). An empty
// address comes with the reason in refusal.
struct OpenTarget
{
    QString address;
    QString refusal;
};

using NameResolver = nasfinder::ResolvedName (*)(const std::string& name);

OpenTarget CheckedOpenTarget(const QString& text, const std::vector<LocalInterface>& local,
                             NameResolver resolve = &nasfinder::ResolveIPv4);

// This computer's interfaces, up or down, with their IPv4 addresses; none when
// the system cannot list them.
std::vector<LocalInterface> LocalInterfacesNow();

#endif
