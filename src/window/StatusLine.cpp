#include "StatusLine.h"

#include "Captions.h"
#include "InterfaceChoice.h"

#include <QStringList>

namespace
{
const char kRowsShownText[] = "Devices shown: %1 (%2 answering)";
const char kRowsFilteredKey[] = "Rows Shown Filtered";
const char kRowsFilteredText[] = "Devices shown: %1 of %2 (%3 answering)";
// Between the row count and each notice.
const char kStatusSeparator[] = "  \u00b7  ";
const char kBroadcastUnavailableKey[] = "Broadcast Unavailable";
const char kBroadcastUnavailableText[] =
    "Only the SSDP search is running: the broadcast helper %1 lacks the privilege to use UDP port %2 for "
    "the broadcast search. Restore it: sudo setcap cap_net_bind_service=+ep %1";
const char kBroadcastHelperMissingKey[] = "Broadcast Helper Missing";
const char kBroadcastHelperMissingText[] =
    "Only the SSDP search is running: the broadcast helper %1, which the broadcast search needs, is missing. "
    "Install the nasfinder-common package.";
const char kBroadcastHelperNotAllowedKey[] = "Broadcast Helper Not Allowed";
const char kBroadcastHelperNotAllowedText[] =
    "Only the SSDP search is running: only the members of the group nasfinder may use the broadcast helper "
    "%1, which the broadcast search needs. Ask the administrator for membership in nasfinder, then log in "
    "again.";
const char kBroadcastPortBusyKey[] = "Broadcast Port Busy";
const char kBroadcastPortBusyText[] =
    "Only the SSDP search is running: another program holds UDP port %1, which the broadcast search needs. "
    "Ports %1 and %2 are the DHCP ports: a DHCP server on this computer (such as dnsmasq, or a "
    "virtual-machine network) may hold it.";
const char kFirewallHintKey[] = "Firewall Hint";
const char kFirewallHintText[] =
    "A firewall may drop the devices' answers: see the FIREWALL section of \"man nasfinder\".";
const char kNoInterfaceKey[] = "No Interface";
const char kNoInterfaceText[] = "No interface to search on: every interface is down, a loopback interface, "
                                "without an IPv4 address or excluded.";
const char kListFullKey[] = "List Full";
const char kListFullText[] = "The list is full: it holds %1 devices, and further new devices are not added.";

// A chosen interface that cannot carry every search, by what keeps it; the
// English text is the scan's, with the interface as %1.
const char* InterfaceLimitKey(InterfaceLimit limit)
{
    switch (limit)
    {
    case InterfaceLimit::None:
        break;
    case InterfaceLimit::Loopback:
        return "Interface Loopback";
    case InterfaceLimit::Down:
        return "Interface Down";
    case InterfaceLimit::NoAddress:
        return "Interface Without Address";
    case InterfaceLimit::NoBroadcast:
        return "Interface Without Broadcast";
    }
    return nullptr;
}
} // namespace

const char kStatusLineFontKey[] = "Rows Shown";

QString StatusLineText(const StatusLineState& state, const Captions& captions)
{
    QStringList parts{state.rowsShown == state.rowsTotal
                          ? Filled(captions.Text(kStatusLineFontKey, kRowsShownText),
                                   {QString::number(state.rowsShown), QString::number(state.answeringShown)})
                          : Filled(captions.Text(kRowsFilteredKey, kRowsFilteredText),
                                   {QString::number(state.rowsShown), QString::number(state.rowsTotal),
                                    QString::number(state.answeringShown)})};
    const nasfinder::SessionStatus& session = state.session;
    const QString helperPath = QString::fromStdString(session.helperPath);
    switch (session.Broadcast().state)
    {
    case nasfinder::PortCheck::Available:
        break;
    case nasfinder::PortCheck::HelperMissing:
        parts.append(
            Filled(captions.Text(kBroadcastHelperMissingKey, kBroadcastHelperMissingText), helperPath));
        break;
    case nasfinder::PortCheck::HelperNotAllowed:
        parts.append(
            Filled(captions.Text(kBroadcastHelperNotAllowedKey, kBroadcastHelperNotAllowedText), helperPath));
        break;
    case nasfinder::PortCheck::NoPrivilege:
        parts.append(Filled(captions.Text(kBroadcastUnavailableKey, kBroadcastUnavailableText),
                            {helperPath, QString::number(session.library.broadcast_port)}));
        break;
    case nasfinder::PortCheck::InUse:
    case nasfinder::PortCheck::Failed:
        parts.append(Filled(captions.Text(kBroadcastPortBusyKey, kBroadcastPortBusyText),
                            {QString::number(session.library.broadcast_port),
                             QString::number(session.library.broadcast_device_port)}));
        break;
    }
    for (const ChosenInterface& iface : session.chosenInterfaces)
    {
        if (const char* key = InterfaceLimitKey(iface.limit))
            parts.append(Filled(captions.Text(key, InterfaceLimitText("%1", iface.limit).c_str()),
                                QString::fromStdString(iface.name)));
    }
    // Once a search is over and nothing was found: the commonest cause, or
    // that no interface could carry the search at all.
    if (state.searchEndedEmpty && session.NowhereToSearch())
        parts.append(captions.Text(kNoInterfaceKey, kNoInterfaceText));
    else if (state.searchEndedEmpty)
        parts.append(captions.Text(kFirewallHintKey, kFirewallHintText));
    if (session.refusedForFullList > 0)
        parts.append(Filled(captions.Text(kListFullKey, kListFullText), QString::number(session.maxDevices)));
    for (const QString* notice : {&state.actionNotice, &state.knownNotice, &state.wakeNotice})
    {
        if (!notice->isEmpty())
            parts.append(*notice);
    }
    return parts.join(QString::fromUtf8(kStatusSeparator));
}
