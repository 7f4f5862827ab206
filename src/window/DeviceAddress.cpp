#include "DeviceAddress.h"

#include <QStringList>

#include "HostAddress.h"
#include "NetworkInterfaces.h"
#include "NetworkInterfaces.h"

#include <algorithm>

namespace
{

bool IsAsciiDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

bool IsCanonicalIPv4(const QString& text)
{
    return nasfinder::ParseCanonicalIPv4(text.toStdString()).has_value();
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
    if (const std::optional<std::uint32_t> address = nasfinder::ParseCanonicalIPv4(text.toStdString()))
        return IsDeviceUnicastIPv4(*address);
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

namespace
{
// Why one address of a device may not be opened; empty when it may.
QString RefusalFor(std::uint32_t address, const std::vector<LocalInterface>& local)
{
    if (!IsDeviceUnicastIPv4(address))
        return QStringLiteral("not a device on the network");
    if (IsLocalAddress(address, local))
        return QStringLiteral("an address of this computer");
    if (IsLocalSubnetEdge(address, local))
        return QStringLiteral("the network or broadcast address of a local subnet");
    return QString();
}
} // namespace

OpenTarget CheckedOpenTarget(const QString& text, const std::vector<LocalInterface>& local,
                             NameResolver resolve)
{
    OpenTarget target;
    if (!IsSafeDeviceAddress(text))
    {
        target.refusal = QStringLiteral("not an IPv4 address or host name");
        return target;
    }
    const std::string name = text.toStdString();
    if (const std::optional<std::uint32_t> literal = nasfinder::ParseCanonicalIPv4(name))
    {
        target.refusal = RefusalFor(*literal, local);
        if (target.refusal.isEmpty())
            target.address = text;
        return target;
    }
    const nasfinder::ResolvedName resolved = resolve(name);
    if (resolved.addresses.empty())
    {
        target.refusal = QStringLiteral("the name does not resolve to an IPv4 address (%1)")
                             .arg(QString::fromStdString(resolved.error));
        return target;
    }
    for (std::uint32_t address : resolved.addresses)
    {
        const QString refusal = RefusalFor(address, local);
        if (!refusal.isEmpty())
        {
            target.refusal = QStringLiteral("the name resolves to %1, %2")
                                 .arg(QString::fromStdString(nasfinder::IPv4Text(address)), refusal);
            return target;
        }
    }
    target.address = QString::fromStdString(nasfinder::IPv4Text(resolved.addresses.front()));
    return target;
}

std::vector<LocalInterface> LocalInterfacesNow()
{
    std::vector<LocalInterface> interfaces;
    if (!ListLocalInterfaces(interfaces))
        interfaces.clear();
    return interfaces;
}
