// Where the broadcast helper is: the one small program that holds UDP port
// 67, which Linux lets only a privileged process bind. The programs hold no
// file capability of their own; the helper does.
#ifndef NASFINDER_HELPERPATH_H
#define NASFINDER_HELPERPATH_H

#include <string>

namespace nasfinder
{
// The broadcast helper's file: beside the running program in a build tree,
// else where the installation put it. Never looked up through PATH.
std::string BroadcastHelperPath();
// Where the installation puts the helper.
std::string InstalledBroadcastHelperPath();
} // namespace nasfinder

#endif
