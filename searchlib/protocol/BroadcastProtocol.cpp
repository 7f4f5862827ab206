#include "protocol/BroadcastProtocol.h"

#include <cstddef>
#include <cstring>

dhcppacket MakeStandardSearchPacket()
{
    dhcppacket packet;
    std::memset(&packet, 0, sizeof(packet));
    packet.code = kSearchRequestCode;
    packet.type = 1;
    std::memset(packet.magic, 0xFF, sizeof(packet.magic));
    return packet;
}

int FindStringValue(const char* text, std::size_t textLen, char* dest, int maxlen, const char* key,
                    int keylen)
{
    if (text == nullptr || dest == nullptr || key == nullptr || keylen <= 0 || maxlen < 0)
        return 0;
    std::size_t len = ::strnlen(text, textLen);
    std::size_t klen = static_cast<std::size_t>(keylen);
    // A plain substring search: the key need not begin a pair, so "id=" also
    // matches inside "uuid=" when that comes first.
    const void* match = ::memmem(text, len, key, klen);
    if (match == nullptr)
        return 0;
    std::size_t start = static_cast<std::size_t>(static_cast<const char*>(match) - text) + klen;
    std::size_t end = start;
    while (end < len && text[end] != '&')
        ++end;
    std::size_t n = end - start;
    if (n > static_cast<std::size_t>(maxlen))
        n = static_cast<std::size_t>(maxlen);
    std::memcpy(dest, text + start, n);
    return 1;
}

int FillDeviceInfoFromPacket(const dhcppacket& packet, deviceinfo& info)
{
    info.type = packet.type;
    const int maxlen = static_cast<int>(kDeviceFieldMaxLen);
    FindStringValue(packet.text, sizeof(packet.text), info.id, maxlen, "id=", 3);
    FindStringValue(packet.text, sizeof(packet.text), info.host, maxlen, "host=", 5);
    FindStringValue(packet.text, sizeof(packet.text), info.factory, maxlen, "vendor=", 7);
    FindStringValue(packet.text, sizeof(packet.text), info.product, maxlen, "product=", 8);
    return 1;
}

BroadcastReplyStatus CheckBroadcastReply(const char* data, std::size_t size)
{
    if (data == nullptr || size != sizeof(dhcppacket))
        return BroadcastReplyStatus::WrongLength;
    if (static_cast<std::uint8_t>(data[offsetof(dhcppacket, code)]) != kSearchReplyCode)
        return BroadcastReplyStatus::NotDevice;
    return BroadcastReplyStatus::Accepted;
}

BroadcastReplyStatus ParseBroadcastReply(const char* data, int nLen, const char* sender, deviceinfo& info)
{
    const BroadcastReplyStatus status =
        CheckBroadcastReply(data, nLen > 0 ? static_cast<std::size_t>(nLen) : 0);
    if (status != BroadcastReplyStatus::Accepted)
        return status;
    dhcppacket packet;
    std::memcpy(&packet, data, sizeof(packet));
    info.clear();
    CopyDeviceField(info.ip, sender, kDeviceFieldMaxLen);
    FillDeviceInfoFromPacket(packet, info);
    return BroadcastReplyStatus::Accepted;
}
