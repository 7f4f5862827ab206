// The user's choice of interfaces (--interface, --exclude-interface), as both
// programs check it and hand it to the library.
#ifndef NASFINDER_INTERFACECHOICE_H
#define NASFINDER_INTERFACECHOICE_H

#include <optional>
#include <string>
#include <vector>

#include "NetworkInterfaces.h"

// The texts both programs say of a choice of interfaces.

// Each refusal below is one line about the first problem met; nothing when
// there is none.

// An item that names no interface of `all`: the line names it and every
// interface there is, sorted by name.
std::optional<std::string> UnknownInterfaceError(const std::vector<LocalInterface>& all,
                                                 const std::vector<std::string>& items);

// An interface both chosen and excluded: the line names it and the two items
// that name it.
std::optional<std::string> ContradictoryInterfaceError(const std::vector<LocalInterface>& all,
                                                       const InterfaceChoice& choice);

// One line saying which search cannot run on the interface and why; empty for
// InterfaceLimit::None.
std::string InterfaceLimitText(const std::string& name, InterfaceLimit limit);

// What keeps each interface of all that carries no search out of it, in the
// host's order ("lo is a loopback interface, eth0 is excluded"), or that there
// is no interface at all: why a search has nowhere to go.
std::string NoSearchInterfaceReason(const std::vector<LocalInterface>& all, const InterfaceChoice& choice);

// Either of the above against the interfaces the host has now: an unknown
// item of either list first.
std::optional<std::string> CheckInterfaceChoice(const InterfaceChoice& choice);

struct InterfaceChoiceCheck
{
    // Why the search may not go on: the above, or that no chosen interface
    // can carry a search. A bad argument.
    std::optional<std::string> refusal;
    // Each chosen interface and what it cannot carry.
    std::vector<ChosenInterface> chosen;
};

// Everything both programs check of a choice before anything starts: the
// above, then each chosen interface that cannot carry a search, said once on
// standard error after the program's name.
InterfaceChoiceCheck RefuseInterfaceChoice(const char* program, const InterfaceChoice& choice);

#endif
