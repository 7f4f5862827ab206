// What the scan says on standard error of what runs and of what became of
// the store of known devices, a line each, its program's name first; and the
// hint when a search found nothing.
#ifndef NASFINDER_SCAN_SCANNOTICES_H
#define NASFINDER_SCAN_SCANNOTICES_H

#include <optional>
#include <string>
#include <vector>

#include "KnownDevices.h"
#include "KnownStore.h"
#include "NetworkInterfaces.h"
#include "ScanOptions.h"
#include "SessionStatus.h"

namespace nasscan
{
// The library binds its sockets without a word of a port it could not have
// (and logs it only with its log on): tell the user once which searches
// cannot run. False when none can.
bool SayWhichSearchesCannotRun(const nasfinder::SessionStatus& status);

// A search that leaves by no interface would end in "no devices found" and
// send the user looking for a firewall: say instead what keeps every
// interface out. Devices named with --address are still searched, by their
// own routes. True when it said so.
bool SayIfNoInterfaceCanSearch(const ScanOptions& opts, const nasfinder::SessionStatus& status);

// A flood of forged devices fills the registry to its limit; the user learns
// once that the list stopped growing.
void SayOnceIfTheListIsFull(const nasfinder::SessionStatus& status);

// What became of the store of known devices, a line each, once in a run;
// with `verbose`, each device not kept for its address too. None ends the
// scan.
void SayWhatBecameOfTheStore(const std::optional<nasknown::StoreResult>& result, bool verbose);

// Why a search may have found nothing, as one line: the known devices beyond
// a router, with the --address that finds them, where there are any;
// otherwise both common causes, a firewall on this computer and devices
// beyond a router. `searchesAddresses`: the user named addresses already.
std::string NothingFoundHint(const std::vector<nasknown::KnownDevice>& known,
                             const std::vector<LocalInterface>& local, bool searchesAddresses);
} // namespace nasscan

#endif
