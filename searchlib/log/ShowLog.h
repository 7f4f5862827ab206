// The discovery library's diagnostic log: one process-wide, switchable text log.
// When on, every line is appended to a file named after the day logging started
// (opened and closed for each line) and the io_printf lines are echoed as well.
#ifndef SEARCHLIB_SHOWLOG_H
#define SEARCHLIB_SHOWLOG_H

#include <cstddef>
#include <cstdio>
#include <string>

#include "SearchLog.h"

namespace SearchDeviceShowLog
{
int io_log_init(bool bLogEnable, const char* logDir);
int io_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
int io_printf_time(const char* format, ...) __attribute__((format(printf, 1, 2)));
int io_log(const char* tag, const char* source, int number, const char* message);
std::string get_curtime();
void io_log_exit();

} // namespace SearchDeviceShowLog

#endif
