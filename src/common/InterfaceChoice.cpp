#include "InterfaceChoice.h"

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
