// The two fixed layouts at the discovery library's boundary: the 240-byte device
// record handed to the device callback, and the 148-byte search packet of the
// broadcast protocol. Both are copied byte for byte, so their layouts are part of
// the library's interface and are checked at compile time below.
#ifndef SEARCHLIB_SEARCHDEVICEINFO_H
#define SEARCHLIB_SEARCHDEVICEINFO_H

#include <cstddef>
#include <cstdint>
#include <cstring>

// Width of every text field of the record; a field holds at most 31 characters
// and always ends in a NUL inside the field.
constexpr std::size_t kDeviceFieldSize = 32;
constexpr std::size_t kDeviceFieldMaxLen = kDeviceFieldSize - 1;

// Copies at most 31 characters of src (stopping at its NUL or after srcLen bytes)
// into a 32-byte field and zero-fills the rest, so the field stays terminated
// whatever the source holds.
inline void CopyDeviceField(char (&dest)[kDeviceFieldSize], const char* src, std::size_t srcLen)
{
    std::memset(dest, 0, kDeviceFieldSize);
    if (src == nullptr)
        return;
    std::size_t n = 0;
    while (n < srcLen && n < kDeviceFieldMaxLen && src[n] != '\0')
        ++n;
    std::memcpy(dest, src, n);
}

inline void CopyDeviceField(char (&dest)[kDeviceFieldSize], const char* src)
{
    CopyDeviceField(dest, src, kDeviceFieldMaxLen);
}

// What a record reports, in its `type`: an answer to a search, an alive or a
// leave announcement (an announcement of any other kind carries 0). A broadcast
// reply carries its packet's own type byte, whatever it is.
constexpr std::int32_t kReportSearchReply = 1;
constexpr std::int32_t kReportAlive = 2;
constexpr std::int32_t kReportByebye = 4;

struct deviceinfo
{
    char id[kDeviceFieldSize];
    char ip[kDeviceFieldSize];
    char host[kDeviceFieldSize];
    char product[kDeviceFieldSize];
    char extra[kDeviceFieldSize];
    char osversion[kDeviceFieldSize];
    char factory[kDeviceFieldSize];
    std::int32_t type;
    // Aligned explicitly: on 32-bit targets a 64-bit integer may otherwise sit at
    // offset 228, and the record would no longer match what peers copy.
    alignas(8) std::int64_t life;

    deviceinfo() { clear(); }

    void clear()
    {
        std::memset(static_cast<void*>(this), 0, sizeof(*this));
        type = 0;
        life = 60;
    }

    // Same seven texts and same type; life is an age counter, not identity.
    bool compare(const deviceinfo& other) const
    {
        return type == other.type && SameField(id, other.id) && SameField(ip, other.ip) &&
               SameField(host, other.host) && SameField(product, other.product) &&
               SameField(extra, other.extra) && SameField(osversion, other.osversion) &&
               SameField(factory, other.factory);
    }

    bool compareIP(const deviceinfo& other) const { return SameField(ip, other.ip); }

    void alterValue(const deviceinfo& other)
    {
        CopyDeviceField(id, other.id, kDeviceFieldSize);
        CopyDeviceField(ip, other.ip, kDeviceFieldSize);
        CopyDeviceField(host, other.host, kDeviceFieldSize);
        CopyDeviceField(product, other.product, kDeviceFieldSize);
        CopyDeviceField(extra, other.extra, kDeviceFieldSize);
        CopyDeviceField(osversion, other.osversion, kDeviceFieldSize);
        CopyDeviceField(factory, other.factory, kDeviceFieldSize);
        life = other.life;
        type = other.type;
    }

    static bool SameField(const char* a, const char* b) { return std::strncmp(a, b, kDeviceFieldSize) == 0; }
};

static_assert(sizeof(deviceinfo) == 240, "deviceinfo must be 240 bytes");
static_assert(offsetof(deviceinfo, ip) == 32, "deviceinfo layout");
static_assert(offsetof(deviceinfo, factory) == 192, "deviceinfo layout");
static_assert(offsetof(deviceinfo, type) == 224, "deviceinfo layout");
static_assert(offsetof(deviceinfo, life) == 232, "deviceinfo layout");

// Search packet of the broadcast protocol (BroadcastProtocol.h builds the
// request and reads the replies): a request carries code 11, type 1 and the
// magic FF FF FF FF; a device reply carries code 12 and its identity as
// key=value pairs joined by '&' in text.
struct dhcppacket
{
    std::uint8_t code;
    std::uint8_t type;
    std::uint8_t reserved[2];
    std::uint8_t magic[4];
    std::uint32_t spare[3];
    char text[128];
};

static_assert(sizeof(dhcppacket) == 148, "dhcppacket must be 148 bytes");
static_assert(offsetof(dhcppacket, magic) == 4, "dhcppacket layout");
static_assert(offsetof(dhcppacket, spare) == 8, "dhcppacket layout");
static_assert(offsetof(dhcppacket, text) == 20, "dhcppacket layout");

#endif
