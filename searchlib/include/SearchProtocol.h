// The facts of the two searches that a program may name: their ports and the
// SSDP search request. The library's protocols (its private protocol/ layer)
// are built on these.
#ifndef SEARCHLIB_SEARCHPROTOCOL_H
#define SEARCHLIB_SEARCHPROTOCOL_H

// The broadcast search leaves from port 67 to 255.255.255.255 port 68, and the
// devices answer to port 67: DHCP's two ports, though not its layout.
constexpr unsigned short kBroadcastPort = 67;
constexpr unsigned short kBroadcastDevicePort = 68;

// The devices listen on their own group, not on SSDP's usual 239.255.255.250.
constexpr char kSsdpGroup[] = "239.143.255.250";
constexpr unsigned short kSsdpPort = 1900;

// The search request, sent without its terminating NUL (129 bytes).
constexpr char upnp_searchfmt[] = "M-SEARCH * HTTP/1.1\r\n"
                                  "HOST: 239.143.255.250:1900\r\n"
                                  "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
                                  "MAN: \"ssdp:discover\"\r\n"
                                  "MX: 3\r\n"
                                  "\r\n";
static_assert(sizeof(upnp_searchfmt) - 1 == 129, "the SSDP search request is 129 bytes");

#endif
