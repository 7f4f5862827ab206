// Text that came off the network, made safe to show on a terminal: a device
// name must not retitle, clear or reorder the user's terminal. Shared by the
// scan's output, the registry's trace and the window's diagnostic lines.
#ifndef NASFINDER_TERMINALTEXT_H
#define NASFINDER_TERMINALTEXT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace nasfinder
{
// U+FFFD in UTF-8: what stands in for a byte or character that is not shown.
extern const char kReplacement[];

// Length of the valid UTF-8 sequence at data[i] (1 to 4) with its code point,
// or 0 when the byte there does not start one. Overlong forms, surrogates and
// values above U+10FFFF are invalid.
std::size_t DecodeUtf8(const unsigned char* data, std::size_t len, std::size_t i, std::uint32_t& cp);

// C0, DEL and C1 control characters.
bool IsControl(std::uint32_t cp);

// The bytes as text that is safe on a terminal: invalid UTF-8 bytes, control
// characters and the bidirectional overrides each become U+FFFD.
std::string TerminalText(const char* data, std::size_t len);
std::string TerminalText(const std::string& text);

// One line for standard error from text that may hold device bytes (a log line,
// a trace): the text less its trailing CR and LF characters, through
// TerminalText, ending in one '\n'.
std::string InertLine(const char* data, std::size_t len);
} // namespace nasfinder

#endif
