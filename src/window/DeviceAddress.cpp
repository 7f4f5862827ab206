#include "DeviceAddress.h"

#include <QStringList>

namespace
{

bool IsAsciiDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

bool IsCanonicalIPv4(const QString& text)
{
    const QStringList parts = text.split(u'.');
    if (parts.size() != 4)
        return false;
    for (const QString& part : parts)
    {
        if (part.isEmpty() || part.size() > 3)
            return false;
        for (QChar c : part)
        {
            if (!IsAsciiDigit(c))
                return false;
        }
        // A leading zero reads as octal in some resolvers and URL parsers.
        if (part.size() > 1 && part.at(0) == u'0')
            return false;
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

bool IsNumberLike(const QString& label)
{
    bool allDigits = true;
    for (QChar c : label)
        allDigits = allDigits && IsAsciiDigit(c);
    if (allDigits)
        return true;
    return label.size() >= 2 && label.at(0) == u'0' && (label.at(1) == u'x' || label.at(1) == u'X');
}

// Addresses that never name a device on the LAN: "this network" (0/8), the
// user's own machine (127/8), multicast (224/4) and the reserved block with the
// limited broadcast (240/4). A device announcing one would point the browser or
// the file client at the user's own computer or at nothing.
bool IsDeviceUnicastIPv4(const QString& text)
{
    const int first = text.section(u'.', 0, 0).toInt();
    return first != 0 && first != 127 && first < 224;
}

bool IsLocalHostName(const QString& text)
{
    const QString lower = text.toLower();
    return lower == QLatin1String("localhost") || lower.endsWith(QLatin1String(".localhost"));
}

} // namespace

bool IsSafeDeviceAddress(const QString& text)
{
    if (text.isEmpty())
        return false;
    if (IsCanonicalIPv4(text))
        return IsDeviceUnicastIPv4(text);
    if (IsLocalHostName(text))
        return false;
    const QStringList labels = text.split(u'.');
    // "198.18.1.1.example" reads as a device's address but names some other host.
    if (labels.size() > 4 && IsCanonicalIPv4(QStringList(labels.mid(0, 4)).join(u'.')))
        return false;
    for (const QString& label : labels)
    {
        if (label.isEmpty())
            return false;
        for (QChar c : label)
        {
            const char16_t u = c.unicode();
            const bool ok =
                (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || IsAsciiDigit(c) || u == u'-';
            if (!ok)
                return false;
        }
    }
    // URL parsers read a name whose last label is a number as an IPv4
    // address in some other notation ("1.2.3", "0x7f.1"); that is not the
    // host the user sees.
    return !IsNumberLike(labels.last());
}
