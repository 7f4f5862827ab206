#include "InterfaceChoice.h"

#include <cstdio>
#include <vector>

#include "SearchDeviceOpt.h"

std::string CheckInterfaceChoice(const InterfaceChoice& choice)
{
    std::vector<LocalInterface> all;
    ListLocalInterfaces(all);
    std::string error = UnknownInterfaceError(all, choice.include);
    if (error.empty())
        error = UnknownInterfaceError(all, choice.exclude);
    return error.empty() ? ContradictoryInterfaceError(all, choice) : error;
}

std::string RefuseInterfaceChoice(const char* program, const InterfaceChoice& choice,
                                  std::vector<ChosenInterface>& chosen)
{
    chosen.clear();
    const std::string error = CheckInterfaceChoice(choice);
    if (!error.empty())
        return error;
    chosen = ChosenInterfaceLimits(choice);
    for (const ChosenInterface& iface : chosen)
    {
        if (iface.limit != InterfaceLimit::None)
            std::fprintf(stderr, "%s: %s\n", program, InterfaceLimitText(iface.name, iface.limit).c_str());
    }
    return AnyChosenInterfaceSearches(chosen) ? std::string() : "no chosen interface can carry a search";
}

void ChooseSearchInterfaces(const InterfaceChoice& choice)
{
    std::vector<const char*> include, exclude;
    for (const std::string& item : choice.include)
        include.push_back(item.c_str());
    for (const std::string& item : choice.exclude)
        exclude.push_back(item.c_str());
    search_dll_set_interfaces(include.data(), static_cast<int>(include.size()), exclude.data(),
                              static_cast<int>(exclude.size()));
}
