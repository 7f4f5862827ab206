// IPv4 addresses as users write them, and the one look-up of a name: plain
// functions shared by both programs, for the addresses a user names and the
// ones a device announces. Which addresses may be a device's is the library's
// rule (net/UnicastAddress.h).
#ifndef NASFINDER_HOSTADDRESS_H
#define NASFINDER_HOSTADDRESS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nasfinder
{
// A dotted IPv4 address in canonical form ("198.18.0.5": four decimal parts,
// no leading zero, none above 255), in host byte order. Other spellings that
// some parsers accept ("010.0.0.1", "0x7f.1", "2130706433") are not addresses
// here: they would not name the host the user sees.
std::optional<std::uint32_t> ParseCanonicalIPv4(const std::string& text);

std::string IPv4Text(std::uint32_t address);

struct ResolvedName
{
    std::vector<std::uint32_t> addresses; // in the resolver's order, without repeats
    std::string error;                    // why there is none
};

// Every IPv4 address the system's resolver gives for a name (hosts file, DNS),
// asked once.
ResolvedName ResolveIPv4(const std::string& name);
} // namespace nasfinder

#endif
