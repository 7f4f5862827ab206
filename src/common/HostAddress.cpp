#include "HostAddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>

namespace nasfinder
{
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
} // namespace nasfinder
