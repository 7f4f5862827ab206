// Why the known devices' file was refused, as the reason shows the file's
// own bytes: a few of them at most, and inert on a terminal.
#ifndef NASFINDER_STOREREASON_H
#define NASFINDER_STOREREASON_H

#include <string>

namespace nasknown
{
// A key of the file in a reason: short, quoted, and inert.
std::string ShownKey(const std::string& key);

// The JSON library's message for text it could not parse, in one line a
// terminal can show: the token it read last (the file's own bytes) goes; the
// position and what was expected stay.
std::string ParseErrorText(const std::string& message);
} // namespace nasknown

#endif
