// Text that came off the network, made safe to show on a terminal: a device
// name must not retitle, clear or reorder the user's terminal. Shared by the
// scan's output, the registry's trace and the window's diagnostic lines.
#ifndef NASFINDER_TERMINALTEXT_H
#define NASFINDER_TERMINALTEXT_H

#include <cstddef>
#include <string>

namespace nasfinder
{
// The bytes as text that is safe on a terminal: invalid UTF-8 bytes, control
// characters and the bidirectional overrides each become U+FFFD.
std::string TerminalText(const char* data, std::size_t len);
std::string TerminalText(const std::string& text);

// One line for standard error from text that may hold device bytes (a log line,
// a trace): the text less its trailing CR and LF characters, through
// TerminalText, ending in one '\n'.
std::string InertLine(const char* data, std::size_t len);

// An argument as an error message quotes it back: at most
// kEchoedCharacters characters, and "…" in place of the rest, so that a
// 100 kB argument is not written back in full. Not made inert: that is
// TerminalText's, when the line is written.
constexpr std::size_t kEchoedCharacters = 64;
std::string EchoedArgument(const std::string& text);
} // namespace nasfinder

#endif
