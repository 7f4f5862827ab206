#include "log/ShowLog.h"

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/date_time/posix_time/posix_time.hpp>

namespace SearchDeviceShowLog
{
namespace
{
// Written only by io_log_init, which runs before any worker thread exists; the
// flag is atomic all the same because it is read on every line of every thread.
std::atomic<bool> g_bLogEnable{false};
char io_log_path[4096];
std::atomic<FILE*> g_echoStream{nullptr};
std::atomic<EchoSink> g_echoSink{nullptr};

constexpr const char* kLogFileSuffix = "SearchDeviceLog.txt";
constexpr std::size_t kLineBufferSize = 1024;
// The longest line written whole: the line buffer less the NUL and one spare
// character, so a line never ends up cut in the file.
constexpr int kMaxLineLength = 1022;
// Room left for the directory once the 30-character file name is appended.
constexpr std::size_t kMaxDirLength = sizeof(io_log_path) - 1 - 30;

bool LogActive()
{
    return g_bLogEnable.load(std::memory_order_relaxed) && io_log_path[0] != '\0';
}

void Echo(const char* line, std::size_t len)
{
    EchoSink sink = g_echoSink.load(std::memory_order_relaxed);
    if (sink != nullptr)
    {
        sink(line, len);
        return;
    }
    FILE* stream = g_echoStream.load(std::memory_order_relaxed);
    std::fwrite(line, 1, len, stream != nullptr ? stream : stdout);
}

// Opens the log file to append one line. Its name is predictable and its
// directory may be writable by others (/tmp/): a symbolic link planted under
// that name must not carry the log into the file it points at, and a FIFO must
// neither block the caller nor take the lines. Either is a file that cannot be
// opened; a new log file is made with mode 0644.
FILE* OpenLogFile(const char* path)
{
    int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0)
        return nullptr;
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
    {
        ::close(fd);
        return nullptr;
    }
    FILE* file = ::fdopen(fd, "a");
    if (file == nullptr)
        ::close(fd);
    return file;
}

void AppendToFile(const char* text, std::size_t len)
{
    FILE* file = OpenLogFile(io_log_path);
    if (file == nullptr)
        return;
    std::fwrite(text, 1, len, file);
    std::fclose(file);
}

// Writes a complete line to the file and echoes it, as text, never as a format.
int WriteLine(const char* line, int len)
{
    AppendToFile(line, static_cast<std::size_t>(len));
    Echo(line, static_cast<std::size_t>(len));
    return 1;
}

std::tm LocalNow()
{
    std::time_t now = std::time(nullptr);
    std::tm tmNow{};
    localtime_r(&now, &tmNow);
    return tmNow;
}
} // namespace

void io_set_echo_stream(FILE* stream)
{
    g_echoStream.store(stream, std::memory_order_relaxed);
}

void io_set_echo_sink(EchoSink sink)
{
    g_echoSink.store(sink, std::memory_order_relaxed);
}

std::string io_log_file_path(const char* logDir)
{
    // A directory that leaves no room for the file name would make the path run
    // past its buffer; such a log is refused rather than cut to another place.
    if (logDir == nullptr || std::strlen(logDir) > kMaxDirLength)
        return std::string();
    std::tm tmNow = LocalNow();
    char fileName[64];
    std::snprintf(fileName, sizeof(fileName), "%02d-%02d-%02d-%s", tmNow.tm_year + 1900, tmNow.tm_mon + 1,
                  tmNow.tm_mday, kLogFileSuffix);
    return std::string(logDir) + fileName;
}

bool io_log_file_usable(const std::string& path)
{
    FILE* file = path.empty() ? nullptr : OpenLogFile(path.c_str());
    if (file == nullptr)
        return false;
    std::fclose(file);
    return true;
}

int io_log_init(bool bLogEnable, const char* logDir)
{
    g_bLogEnable.store(bLogEnable);
    std::memset(io_log_path, 0, sizeof(io_log_path));
    if (!bLogEnable || logDir == nullptr)
        return 0;
    const std::string path = io_log_file_path(logDir);
    if (path.empty())
        return 0;
    // The directory must already exist: nothing is created on the caller's behalf.
    std::memcpy(io_log_path, path.c_str(), path.size() + 1);

    static const char kBanner[] = "------Start Log System-------\r\n";
    AppendToFile(kBanner, sizeof(kBanner) - 1);
    return 1;
}

namespace
{
enum class Stamp
{
    DayAndTimeAfter, // io_printf: "message*[DD::HH:MM:SS]"
    TimeOfDayBefore, // io_printf_time: "[--HH:MM:SS.ffffff--]*message"
};

// Formats the message, stamps it and writes the line, when both fit their
// buffers; 0 for an empty message, a failed format or a line too long.
int WriteStampedLine(Stamp stamp, const char* format, va_list args)
{
    char message[kLineBufferSize];
    int n = std::vsnprintf(message, sizeof(message), format, args);
    if (n <= 0)
        return 0;

    char line[kLineBufferSize];
    int len = 0;
    if (stamp == Stamp::DayAndTimeAfter)
    {
        std::tm tmNow = LocalNow();
        len = std::snprintf(line, sizeof(line), "%s*[%02d::%02d:%02d:%02d]\r\n", message, tmNow.tm_mday,
                            tmNow.tm_hour, tmNow.tm_min, tmNow.tm_sec);
    }
    else
    {
        len = std::snprintf(line, sizeof(line), "[--%s--]*%s\r\n", get_curtime().c_str(), message);
    }
    if (len <= 0 || len > kMaxLineLength)
        return 0;
    return WriteLine(line, len);
}
} // namespace

int io_printf(const char* format, ...)
{
    if (!LogActive() || format == nullptr)
        return 0;
    va_list args;
    va_start(args, format);
    int result = WriteStampedLine(Stamp::DayAndTimeAfter, format, args);
    va_end(args);
    return result;
}

int io_printf_time(const char* format, ...)
{
    if (!LogActive() || format == nullptr)
        return 0;
    va_list args;
    va_start(args, format);
    int result = WriteStampedLine(Stamp::TimeOfDayBefore, format, args);
    va_end(args);
    return result;
}

int io_log(const char* tag, const char* source, int number, const char* message)
{
    if (!LogActive() || tag == nullptr || source == nullptr || message == nullptr)
        return 0;
    FILE* file = OpenLogFile(io_log_path);
    if (file == nullptr)
        return 0;
    char line[kLineBufferSize];
    int len = std::snprintf(line, sizeof(line), "[%s]:%s(%d): %s\r\n", tag, source, number, message);
    int written = 0;
    if (len > 0 && static_cast<std::size_t>(len) < sizeof(line))
    {
        std::fwrite(line, 1, static_cast<std::size_t>(len), file);
        written = 1;
    }
    std::fclose(file);
    return written;
}

std::string get_curtime()
{
    std::string stamp =
        boost::posix_time::to_iso_extended_string(boost::posix_time::microsec_clock::local_time());
    std::string::size_type t = stamp.find('T');
    return t == std::string::npos ? stamp : stamp.substr(t + 1);
}

void io_log_exit()
{
    if (!LogActive())
        return;
    static const char kBanner[] = "------Exit Log System-------\r\n";
    AppendToFile(kBanner, sizeof(kBanner) - 1);
}
} // namespace SearchDeviceShowLog
