// The discovery library's diagnostic log: one process-wide, switchable text log.
// When on, every line is appended to a file named after the day logging started
// (opened and closed for each line) and the io_printf lines are echoed as well.
#ifndef SEARCHLIB_SHOWLOG_H
#define SEARCHLIB_SHOWLOG_H

#include <cstddef>
#include <cstdio>
#include <string>

namespace SearchDeviceShowLog
{
int io_log_init(bool bLogEnable, const char* logDir);
int io_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
int io_printf_time(const char* format, ...) __attribute__((format(printf, 1, 2)));
int io_log(const char* tag, const char* source, int number, const char* message);
std::string get_curtime();
void io_log_exit();

// The file io_log_init would append to for logDir today (the directory text
// with the day's file name glued on), or "" when the directory is too long.
std::string io_log_file_path(const char* logDir);
// Whether that file can be created or appended to as the log opens it: a
// regular file, reached without following a final symbolic link, never a FIFO.
bool io_log_file_usable(const std::string& path);

// Stream that receives the echo of io_printf and io_printf_time; standard output
// unless a caller whose standard output carries results moves it elsewhere.
void io_set_echo_stream(FILE* stream);

// Receives each echoed log line (CR LF included) instead of the echo stream.
using EchoSink = void (*)(const char* line, std::size_t length);
// nullptr restores the stream (io_set_echo_stream, stdout by default). A sink
// that does nothing silences the echo while the file is still written.
void io_set_echo_sink(EchoSink sink);
} // namespace SearchDeviceShowLog

#endif
