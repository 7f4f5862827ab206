// The check a device's address passes before it goes into a URL that the
// desktop opens.
#ifndef NASFINDER_DEVICEADDRESS_H
#define NASFINDER_DEVICEADDRESS_H

#include <QString>

// True for a text that can follow "http://" or "smb://" and name exactly the
// host shown: a dotted IPv4 address in canonical form, or a host name of
// letters, digits, '-' and '.' that no URL parser would read as a number.
// Anything else (an '@', ':', '/', '%', a space, "0x7f.1", "010.0.0.1") could
// make a URL whose host is not the text the user sees. Addresses and names of
// the user's own machine, "this network", multicast and the reserved block
// (with 255.255.255.255) are refused too, as is a name that begins with a
// dotted IPv4 address: none of them is a device on the LAN.
bool IsSafeDeviceAddress(const QString& text);

#endif
