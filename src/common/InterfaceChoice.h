// The user's choice of interfaces (--interface, --exclude-interface), as both
// programs check it and hand it to the library.
#ifndef NASFINDER_INTERFACECHOICE_H
#define NASFINDER_INTERFACECHOICE_H

#include <string>

#include "net/LocalInterfaces.h"

// Empty when every item of both lists names an interface the host has now and
// no interface is both chosen and excluded; otherwise one line that names the
// first unknown item and every interface there is, or the contradiction.
std::string CheckInterfaceChoice(const InterfaceChoice& choice);

// Hands the choice to the library (search_dll_set_interfaces); before its start.
void ChooseSearchInterfaces(const InterfaceChoice& choice);

#endif
