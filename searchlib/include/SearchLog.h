// What a program may ask of the discovery library's diagnostic log (turned on
// by search_dll_init with a directory): the file it would write, whether that
// file can be written, and where the echo of its lines goes.
#ifndef SEARCHLIB_SEARCHLOG_H
#define SEARCHLIB_SEARCHLOG_H

#include <cstddef>
#include <cstdio>
#include <string>

namespace SearchDeviceShowLog
{
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
