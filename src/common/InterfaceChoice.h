// The user's choice of interfaces (--interface, --exclude-interface), as both
// programs check it and hand it to the library.
#ifndef NASFINDER_INTERFACECHOICE_H
#define NASFINDER_INTERFACECHOICE_H

#include <string>
#include <vector>

#include "NetworkInterfaces.h"

// The texts both programs say of a choice of interfaces.

// Empty when every item names an interface of `all`; otherwise one line that
// names the first unknown item and every interface there is, sorted by name.
std::string UnknownInterfaceError(const std::vector<LocalInterface>& all,
                                  const std::vector<std::string>& items);

// Empty when no interface is both chosen and excluded; otherwise one line that
// names the first such interface and the two items that name it.
std::string ContradictoryInterfaceError(const std::vector<LocalInterface>& all,
                                        const InterfaceChoice& choice);

// One line saying which search cannot run on the interface and why; empty for
// InterfaceLimit::None.
std::string InterfaceLimitText(const std::string& name, InterfaceLimit limit);

// What keeps each interface of all that carries no search out of it, in the
// host's order ("lo is a loopback interface, eth0 is excluded"), or that there
// is no interface at all: why a search has nowhere to go.
std::string NoSearchInterfaceReason(const std::vector<LocalInterface>& all, const InterfaceChoice& choice);

// Empty when every item of both lists names an interface the host has now and
// no interface is both chosen and excluded; otherwise one line that names the
// first unknown item and every interface there is, or the contradiction.
std::string CheckInterfaceChoice(const InterfaceChoice& choice);

// Everything both programs check of a choice before anything starts: the above,
// then each chosen interface that cannot carry a search, said once on standard
// error after the program's name. The refusal for a bad argument, or empty when
// the search may go on; chosen gets each chosen interface and what it cannot
// carry.
std::string RefuseInterfaceChoice(const char* program, const InterfaceChoice& choice,
                                  std::vector<ChosenInterface>& chosen);

// Hands the choice to the library (search_dll_set_interfaces); before its start.
void ChooseSearchInterfaces(const InterfaceChoice& choice);

#endif
