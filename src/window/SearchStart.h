// The window's start of the discovery library, through the registry.
#ifndef NASFINDER_SEARCHSTART_H
#define NASFINDER_SEARCHSTART_H

#include <QStringList>

// Starts the library with logging off, no log directory and multi-address
// mode on, with searchAddresses searched beyond the local network from the
// first search on. Its reports go to the registry.
void StartSearchLibrary(const QStringList& searchAddresses);

#endif
