// nasfinder-scan --watch: a search every round without end, the list printed
// when what it shows changes (or, with --events, each change as a JSON line),
// and with --prometheus the metrics written after every round, until an
// ending signal.
#ifndef NASFINDER_SCAN_SCANWATCH_H
#define NASFINDER_SCAN_SCANWATCH_H

#include "ScanOptions.h"
#include "SearchSession.h"

namespace nasscan
{
[[noreturn]] void RunWatch(nasfinder::SearchSession& session, const ScanOptions& opts);
} // namespace nasscan

#endif
