#include "InterfaceChoice.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{
bool AnyMatches(const LocalInterface& iface, const std::vector<std::string>& items)
{
    return std::any_of(items.begin(), items.end(),
                       [&iface](const std::string& item) { return InterfaceMatches(iface, item); });
}
} // namespace

std::optional<std::string> UnknownInterfaceError(const std::vector<LocalInterface>& all,
                                                 const std::vector<std::string>& items)
{
    for (const std::string& item : items)
    {
        const bool known =
            std::any_of(all.begin(), all.end(),
                        [&item](const LocalInterface& iface) { return InterfaceMatches(iface, item); });
        if (known)
            continue;
        std::vector<std::string> names;
        for (const LocalInterface& iface : all)
            names.push_back(iface.name);
        std::sort(names.begin(), names.end());
        std::string text = "unknown interface '" + item + "'; the interfaces here are: ";
        for (std::size_t i = 0; i < names.size(); ++i)
            text += (i == 0 ? "" : ", ") + names[i];
        return names.empty() ? "unknown interface '" + item + "'; no interface is listed here" : text;
    }
    return std::nullopt;
}

std::optional<std::string> ContradictoryInterfaceError(const std::vector<LocalInterface>& all,
                                                       const InterfaceChoice& choice)
{
    for (const std::string& chosen : choice.include)
    {
        for (const std::string& excluded : choice.exclude)
        {
            for (const LocalInterface& iface : all)
            {
                if (InterfaceMatches(iface, chosen) && InterfaceMatches(iface, excluded))
                    return "interface " + iface.name + " is both chosen (--interface " + chosen +
                           ") and excluded (--exclude-interface " + excluded + ")";
            }
        }
    }
    return std::nullopt;
}

std::string InterfaceLimitText(const std::string& name, InterfaceLimit limit)
{
    switch (limit)
    {
    case InterfaceLimit::None:
        break;
    case InterfaceLimit::Loopback:
        return "interface " + name + " is a loopback interface: no search runs there";
    case InterfaceLimit::Down:
        return "interface " + name + " is down: no search runs there";
    case InterfaceLimit::NoAddress:
        return "interface " + name + " has no IPv4 address: no search runs there";
    case InterfaceLimit::NoBroadcast:
        return "interface " + name + " has no broadcast: only the SSDP search runs there";
    }
    return std::string();
}

std::string NoSearchInterfaceReason(const std::vector<LocalInterface>& all, const InterfaceChoice& choice)
{
    std::string reason;
    for (const LocalInterface& iface : all)
    {
        std::string why;
        switch (InterfaceLimitOf(iface))
        {
        case InterfaceLimit::Loopback:
            why = " is a loopback interface";
            break;
        case InterfaceLimit::Down:
            why = " is down";
            break;
        case InterfaceLimit::NoAddress:
            why = " has no IPv4 address";
            break;
        case InterfaceLimit::None:
        case InterfaceLimit::NoBroadcast:
            if (AnyMatches(iface, choice.exclude))
                why = " is excluded";
            else if (!InterfaceChosen(iface, choice))
                why = " is not chosen";
            break;
        }
        if (!why.empty())
            reason += (reason.empty() ? "" : ", ") + iface.name + why;
    }
    return all.empty() ? "no interface is listed here" : reason;
}

std::optional<std::string> CheckInterfaceChoice(const InterfaceChoice& choice)
{
    std::vector<LocalInterface> all;
    ListLocalInterfaces(all);
    if (std::optional<std::string> unknown = UnknownInterfaceError(all, choice.include))
        return unknown;
    if (std::optional<std::string> unknown = UnknownInterfaceError(all, choice.exclude))
        return unknown;
    return ContradictoryInterfaceError(all, choice);
}

InterfaceChoiceCheck RefuseInterfaceChoice(const char* program, const InterfaceChoice& choice)
{
    InterfaceChoiceCheck check;
    check.refusal = CheckInterfaceChoice(choice);
    if (check.refusal)
        return check;
    check.chosen = ChosenInterfaceLimits(choice);
    for (const ChosenInterface& iface : check.chosen)
    {
        if (iface.limit != InterfaceLimit::None)
            std::fprintf(stderr, "%s: %s\n", program, InterfaceLimitText(iface.name, iface.limit).c_str());
    }
    if (!AnyChosenInterfaceSearches(check.chosen))
        check.refusal = "no chosen interface can carry a search";
    return check;
}
