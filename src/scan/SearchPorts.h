// The warnings that name exactly the searches that cannot run, from what the
// library says it bound.
#ifndef NASFINDER_SCAN_SEARCHPORTS_H
#define NASFINDER_SCAN_SEARCHPORTS_H

#include <string>
#include <vector>

#include "SessionStatus.h"

namespace nasscan
{
struct SearchPortVerdict
{
    std::vector<std::string> warnings; // one line each, without the program's name
    bool anyRuns = true;
};

// helperPath, the broadcast helper's file, goes into the broadcast search's
// warning.
SearchPortVerdict JudgeSearchPorts(const nasfinder::LibraryStatus& status, const std::string& helperPath);
} // namespace nasscan

#endif
