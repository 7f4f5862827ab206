// The scan's process: its standard output, which the final list takes whole
// and late reports no longer reach; its end, without static destructors; and
// the ending signals, taken by a thread of their own.
#ifndef NASFINDER_SCAN_SCANPROCESS_H
#define NASFINDER_SCAN_SCANPROCESS_H

#include <chrono>
#include <mutex>
#include <string>

namespace nasscan
{
inline constexpr char kProgram[] = "nasfinder-scan";

// Writes and flushes, unless the output was closed; false when the write failed.
bool WriteOutput(const std::string& text);

// Takes the output for good: after this nothing else is written to stdout.
// Returns with the output's lock held so no report can slip in before the end.
std::unique_lock<std::mutex> CloseOutput();

// Ends the process without running static destructors: the library's detached
// workers may still be inside a report and must not meet destroyed objects.
// Status 1 when the results could not be written.
[[noreturn]] void Finish(int status);

// Before any other thread exists: SIGPIPE ends the process, as it ends any
// filter whose reader went away, and SIGINT and SIGTERM are blocked in every
// thread and taken by a thread of their own. False, after a line on standard
// error, when that thread cannot start.
bool TakeEndingSignals();

// Waits until `until` for an ending signal; true when one came. The output
// then has kOutputGrace to leave before the process ends with the signal's
// status.
constexpr std::chrono::seconds kOutputGrace{1};
bool WaitForSignal(std::chrono::steady_clock::time_point until);
} // namespace nasscan

#endif
