// Giving up the capabilities a process was started with, checked: what the
// library's broadcast helper does once it holds its port, and what a program
// does before it loads anything or starts a thread.
#ifndef SEARCHLIB_CAPABILITIES_H
#define SEARCHLIB_CAPABILITIES_H

#include <string>

// Gives up every capability: the permitted, effective and inheritable sets with
// one capset, and the ambient set; as root also the bounding set, and root's
// right to regain them at exec (the NOROOT security bits), so that a program
// started afterwards gets none either. Capabilities belong to each thread, so
// this must run while the process has no other thread. Then asks the kernel
// (capget, not /proc, which may be hidden) whether any is left: false when one
// is, with why in *why when given.
bool DropAllCapabilities(std::string* why = nullptr);

#endif
