#include "HostAddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <iterator>

#include "NetworkInterfaces.h"

namespace nasfinder
{
namespace
{
// Whether the resolver reads text as a number ("010.0.0.1", "0x7f.1", "1.2.3"),
// which would name another host than the one the user sees, or the text is
// meant as one though no resolver reads it so ("999.1.1.1": no name is all
// digits and dots, since no top-level domain is a number).
bool ReadsAsNumber(const std::string& text)
{
    if (!text.empty() && text.find_first_not_of("0123456789.") == std::string::npos)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* list = nullptr;
    if (getaddrinfo(text.c_str(), nullptr, &hints, &list) != 0)
        return false;
    freeaddrinfo(list);
    return true;
}

// The device addresses one --address text stands for; error says why none.
std::vector<std::uint32_t> DeviceAddressesOf(const std::string& text,
                                             const std::vector<LocalInterface>& local, std::string& error)
{
    const std::string option = "--address '" + text + "'";
    if (const std::optional<std::uint32_t> address = ParseCanonicalIPv4(text))
    {
        if (!IsDeviceUnicastIPv4(*address))
            error =
                option + " is no device's address (multicast, broadcast, 0.0.0.0/8, 127.0.0.0/8 or reserved)";
        else if (IsLocalSubnetEdge(*address, local))
            error = option + " is the network or broadcast address of a local subnet, no device's address";
        else
            return {*address};
        return {};
    }
    if (ReadsAsNumber(text))
    {
        error = option +
                " is not an IPv4 address in dotted decimal form (four numbers 0 to 255, no leading zero)";
        return {};
    }
    const ResolvedName resolved = ResolveIPv4(text);
    if (!resolved.error.empty())
    {
        error = option + ": the name cannot be resolved (" + resolved.error + ")";
        return {};
    }
    std::vector<std::uint32_t> devices;
    std::copy_if(resolved.addresses.begin(), resolved.addresses.end(), std::back_inserter(devices),
                 [&local](std::uint32_t address) { return IsSearchableUnicastAddress(address, local); });
    if (devices.empty())
        error = option + " resolves to no device's address (" + IPv4Text(resolved.addresses.front()) + ")";
    return devices;
}
} // namespace

std::optional<std::uint32_t> ParseCanonicalIPv4(const std::string& text)
{
    std::uint32_t address = 0;
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part)
    {
        if (part > 0)
        {
            if (at >= text.size() || text[at] != '.')
                return std::nullopt;
            ++at;
        }
        const std::size_t start = at;
        unsigned value = 0;
        while (at < text.size() && at - start < 4 && text[at] >= '0' && text[at] <= '9')
            value = value * 10 + static_cast<unsigned>(text[at++] - '0');
        const std::size_t digits = at - start;
        // A leading zero reads as octal in some resolvers and URL parsers.
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[start] == '0'))
            return std::nullopt;
        address = (address << 8) | value;
    }
    if (at != text.size())
        return std::nullopt;
    return address;
}

std::string IPv4Text(std::uint32_t address)
{
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xff) + "." +
           std::to_string((address >> 8) & 0xff) + "." + std::to_string(address & 0xff);
}

ResolvedName ResolveIPv4(const std::string& name)
{
    ResolvedName resolved;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    const int rc = getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (rc != 0)
    {
        resolved.error = gai_strerror(rc);
        return resolved;
    }
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next)
    {
        if (ai->ai_family != AF_INET || ai->ai_addr == nullptr)
            continue;
        const std::uint32_t address =
            ntohl(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr);
        if (std::find(resolved.addresses.begin(), resolved.addresses.end(), address) ==
            resolved.addresses.end())
            resolved.addresses.push_back(address);
    }
    freeaddrinfo(list);
    if (resolved.addresses.empty())
        resolved.error = "no IPv4 address";
    return resolved;
}
SearchAddresses ResolveSearchAddresses(const std::vector<std::string>& texts)
{
    SearchAddresses result;
    std::vector<LocalInterface> local;
    if (!texts.empty())
        ListLocalInterfaces(local);
    for (const std::string& text : texts)
    {
        const std::vector<std::uint32_t> found = DeviceAddressesOf(text, local, result.error);
        if (found.empty())
        {
            result.addresses.clear();
            return result;
        }
        for (std::uint32_t address : found)
        {
            if (std::find(result.addresses.begin(), result.addresses.end(), address) ==
                result.addresses.end())
                result.addresses.push_back(address);
        }
    }
    return result;
}
} // namespace nasfinder
