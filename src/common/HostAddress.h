// IPv4 addresses as users write them, the one look-up of a name, and the
// addresses searched beyond the local network: shared by both programs, for
// the addresses a user names and the ones a device announces. Which addresses
// may be a device's is the library's rule (NetworkInterfaces.h).
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

// What --address texts stand for: the device addresses (host byte order), in
// order and without repeats (an address as it is, a name as the resolver
// answers it, asked once, now; the answers that are no device's address are
// left out), or one line about the first text that gives none.
struct SearchAddresses
{
    std::vector<std::uint32_t> addresses;
    std::string error; // empty when every text gave an address
};
SearchAddresses ResolveSearchAddresses(const std::vector<std::string>& texts);
} // namespace nasfinder

#endif
