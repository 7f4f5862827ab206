#include "protocol/SsdpProtocol.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace
{
using std::string_view;
constexpr string_view::size_type npos = string_view::npos;

// End of the line that starts at or contains pos: the next CR or LF, or the end.
string_view::size_type LineEnd(string_view msg, string_view::size_type pos)
{
    string_view::size_type end = msg.find_first_of("\r\n", pos);
    return end == npos ? msg.size() : end;
}

// Where the text after the first `marker` at or past pos begins, on one line;
// npos when the line has no such marker.
string_view::size_type After(string_view line, string_view::size_type pos, string_view marker)
{
    string_view::size_type at = line.find(marker, pos);
    return at == npos ? npos : at + marker.size();
}

string_view TrimTrailingBlanks(string_view text)
{
    string_view::size_type last = text.find_last_not_of(" \t");
    return last == npos ? string_view() : text.substr(0, last + 1);
}

void CopyField(char (&dest)[kDeviceFieldSize], string_view value)
{
    CopyDeviceField(dest, value.data(), value.size());
}

bool ParseLocation(string_view msg, const char* sender, deviceinfo& info)
{
    string_view::size_type loc = msg.find("LOCATION:");
    if (loc == npos)
    {
        CopyDeviceField(info.ip, sender);
        return true;
    }
    // The URL and its host must stand on the LOCATION line itself: a search that
    // runs on into later lines would take the address from another header.
    string_view::size_type lineEnd = LineEnd(msg, loc);
    string_view line = msg.substr(0, lineEnd);
    string_view::size_type hostStart = After(line, loc, "//");
    if (hostStart == npos)
        return false;
    string_view::size_type hostEnd = line.find_first_of(":/", hostStart);
    if (hostEnd == npos)
    {
        // A host that nothing ends was cut off with the datagram: its first
        // digits are another, real-looking address, so the message is dropped.
        if (lineEnd == msg.size())
            return false;
        hostEnd = line.size();
    }
    string_view host = TrimTrailingBlanks(line.substr(hostStart, hostEnd - hostStart));
    // A bracketed IPv6 literal cannot be held as an IPv4 address, and an empty
    // host names nothing; the datagram's own sender is the device then.
    if (host.empty() || host.front() == '[')
        CopyDeviceField(info.ip, sender);
    else
        CopyField(info.ip, host);
    return true;
}

// SERVER: VEXA/<version>, <anything>, <vendor>/<host>/<product>[/<rest>]
// Everything is read from the SERVER line itself: a version or description
// taken from a later header would be another header's text. Whatever is not
// found leaves its fields empty; the message is still used.
void ParseServer(string_view msg, deviceinfo& info)
{
    string_view::size_type server = msg.find("SERVER:");
    if (server == npos)
        return;
    string_view::size_type lineEnd = LineEnd(msg, server);
    string_view line = msg.substr(0, lineEnd);
    string_view::size_type os = line.find("VEXA/", server);
    if (os == npos)
        return;
    string_view::size_type versionStart = os + 5;
    // The version is known only once its ',' is found: without one, the rest
    // of the line is no version.
    string_view::size_type comma1 = line.find(',', versionStart);
    if (comma1 == npos)
        return;
    CopyField(info.osversion, line.substr(versionStart, comma1 - versionStart));
    string_view::size_type comma2 = line.find(',', comma1 + 1);
    // The description follows the second comma and its space, and ends at the
    // CR of the line: a line without one (LF alone, or cut off) gives none.
    if (comma2 == npos || lineEnd >= msg.size() || msg[lineEnd] != '\r')
        return;
    string_view::size_type descStart = comma2 + 2;
    if (descStart > line.size())
        return;
    string_view desc = line.substr(descStart).substr(0, kSsdpMaxDescription);

    string_view::size_type slash1 = desc.find('/');
    if (slash1 == npos)
        return;
    CopyField(info.factory, desc.substr(0, slash1));
    string_view::size_type slash2 = desc.find('/', slash1 + 1);
    if (slash2 == npos)
        return;
    CopyField(info.host, desc.substr(slash1 + 1, slash2 - slash1 - 1));
    string_view::size_type slash3 = desc.find('/', slash2 + 1);
    if (slash3 == npos)
    {
        CopyField(info.product, desc.substr(slash2 + 1));
        return;
    }
    CopyField(info.product, desc.substr(slash2 + 1, slash3 - slash2 - 1));
    CopyField(info.extra, desc.substr(slash3 + 1));
}

bool ParseUsn(string_view msg, deviceinfo& info)
{
    string_view::size_type usn = msg.find("USN:");
    if (usn == npos)
        return false;
    // The identifier ends at "::" on the USN line; one that runs on into other
    // headers is no identifier.
    string_view line = msg.substr(0, LineEnd(msg, usn));
    string_view::size_type idStart = After(line, usn, "uuid:");
    if (idStart == npos)
        return false;
    string_view::size_type idEnd = line.find("::", idStart);
    if (idEnd == npos)
        return false;
    CopyField(info.id, line.substr(idStart, idEnd - idStart));
    return true;
}

SsdpParseStatus ParseKind(string_view msg, int& kind)
{
    if (msg.substr(0, 4) == "HTTP")
    {
        kind = kReportSearchReply;
        return SsdpParseStatus::Accepted;
    }
    if (msg.substr(0, 6) != "NOTIFY")
        return SsdpParseStatus::UnknownStart;
    if (msg.find("rootdevice") == npos)
        return SsdpParseStatus::NotRootDevice;
    string_view::size_type nts = msg.find("NTS:");
    if (nts == npos)
        return SsdpParseStatus::NoNts;
    string_view::size_type value = msg.find_first_not_of(" \t", nts + 4);
    string_view rest = value == npos ? string_view() : msg.substr(value);
    if (rest.substr(0, 10) == "ssdp:alive")
        kind = kReportAlive;
    else if (rest.substr(0, 11) == "ssdp:byebye")
        kind = kReportByebye;
    else
        kind = kSsdpTypeOther;
    return SsdpParseStatus::Accepted;
}

SsdpParseStatus ParseInto(const char* text, std::size_t len, const char* sender, deviceinfo& info)
{
    if (text == nullptr)
        return SsdpParseStatus::NoDeviceOs;
    string_view msg(text, ::strnlen(text, len));

    if (msg.find("VEXA") == npos)
        return SsdpParseStatus::NoDeviceOs;
    if (!ParseLocation(msg, sender, info))
        return SsdpParseStatus::BadLocation;
    ParseServer(msg, info);
    if (!ParseUsn(msg, info))
        return SsdpParseStatus::BadUsn;
    int kind = kSsdpTypeOther;
    SsdpParseStatus status = ParseKind(msg, kind);
    if (status != SsdpParseStatus::Accepted)
        return status;
    info.type = kind;
    return SsdpParseStatus::Accepted;
}
} // namespace

SsdpParseStatus ParseSsdpMessage(const char* text, std::size_t len, const char* sender, deviceinfo& info)
{
    info.clear();
    SsdpParseStatus status = ParseInto(text, len, sender, info);
    // A dropped message never leaves a half-filled record behind.
    if (status != SsdpParseStatus::Accepted)
        info.clear();
    return status;
}

std::string SsdpSearchRequestTo(std::uint32_t address)
{
    const string_view group(upnp_searchfmt, sizeof(upnp_searchfmt) - 1);
    const string_view host = "HOST: ";
    // The group's address between "HOST: " and the port's colon makes way for
    // the device's; every other byte is the group search's own.
    const string_view::size_type at = group.find(host) + host.size();
    const string_view::size_type port = group.find(':', at);
    char dotted[16];
    std::snprintf(dotted, sizeof(dotted), "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFFu,
                  (address >> 8) & 0xFFu, address & 0xFFu);
    std::string request(group.substr(0, at));
    request += dotted;
    request += group.substr(port);
    return request;
}
