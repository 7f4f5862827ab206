// The diagnostic log: a fresh directory per test, the echo captured in a
// temporary file, and logging switched off again afterwards so that no test
// inherits another's state.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "log/ShowLog.h"
#include "test_support.h"

using namespace SearchDeviceShowLog;
namespace fs = std::filesystem;

namespace
{
const char kStartBanner[] = "------Start Log System-------\r\n";
const char kExitBanner[] = "------Exit Log System-------\r\n";

std::string TodaysLogName()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[64];
    std::snprintf(name, sizeof(name), "%04d-%02d-%02d-SearchDeviceLog.txt", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday);
    return name;
}

class ShowLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_echo = std::tmpfile();
        ASSERT_NE(m_echo, nullptr);
        io_set_echo_stream(m_echo);
    }

    void TearDown() override
    {
        io_log_init(false, nullptr);
        io_set_echo_sink(nullptr);
        io_set_echo_stream(nullptr);
        std::fclose(m_echo);
    }

    // Everything echoed so far.
    std::string Echo()
    {
        std::fflush(m_echo);
        long size = std::ftell(m_echo);
        std::string out(static_cast<std::size_t>(size), '\0');
        std::rewind(m_echo);
        std::size_t got = std::fread(&out[0], 1, out.size(), m_echo);
        out.resize(got);
        std::fseek(m_echo, 0, SEEK_END);
        return out;
    }

    // The log file that logging started now writes to. The date is read before
    // and after the start so that a test running over midnight still finds it.
    fs::path StartLog(const std::string& dir)
    {
        std::string before = TodaysLogName();
        EXPECT_EQ(io_log_init(true, dir.c_str()), 1);
        std::string after = TodaysLogName();
        fs::path file = fs::path(dir) / before;
        return fs::exists(file) ? file : fs::path(dir) / after;
    }

    testsupport::TempDir m_dir;
    FILE* m_echo = nullptr;
};

// Whether text has the shape: '9' stands for any digit, every other character
// for itself.
bool HasShape(const std::string& text, const std::string& shape)
{
    if (text.size() != shape.size())
        return false;
    for (std::size_t i = 0; i < shape.size(); ++i)
    {
        bool ok = shape[i] == '9' ? (text[i] >= '0' && text[i] <= '9') : text[i] == shape[i];
        if (!ok)
            return false;
    }
    return true;
}

// io_printf's stamp behind the message: day of the month, hour, minute, second.
const std::string kStampShape = "*[99::99:99:99]\r\n";

struct StampedLine
{
    bool ok = false;
    std::string message;
    int day = -1, hour = -1, minute = -1, second = -1;
};

StampedLine SplitStampedLine(const std::string& line)
{
    StampedLine out;
    if (line.size() < kStampShape.size())
        return out;
    std::string stamp = line.substr(line.size() - kStampShape.size());
    if (!HasShape(stamp, kStampShape))
        return out;
    out.ok = true;
    out.message = line.substr(0, line.size() - kStampShape.size());
    out.day = std::stoi(stamp.substr(2, 2));
    out.hour = std::stoi(stamp.substr(6, 2));
    out.minute = std::stoi(stamp.substr(9, 2));
    out.second = std::stoi(stamp.substr(12, 2));
    return out;
}

bool IsTimeOfDay(const std::string& text)
{
    return HasShape(text, "99:99:99") || HasShape(text, "99:99:99.999999");
}
} // namespace

TEST_F(ShowLogTest, StartBannerStampedLineAndEcho)
{
    fs::path file = StartLog(m_dir.WithSlash());
    ASSERT_TRUE(fs::exists(file)) << file;
    EXPECT_EQ(testsupport::ReadFile(file), kStartBanner);
    EXPECT_EQ(Echo(), "") << "the banner is not echoed";

    std::time_t before = std::time(nullptr);
    EXPECT_EQ(io_printf("SendThread %d : Create Search Device Work Thread   ", 67), 1);
    std::time_t after = std::time(nullptr);

    std::string content = testsupport::ReadFile(file);
    ASSERT_EQ(content.rfind(kStartBanner, 0), 0u);
    std::string line = content.substr(sizeof(kStartBanner) - 1);
    StampedLine stamped = SplitStampedLine(line);
    ASSERT_TRUE(stamped.ok) << line;
    EXPECT_EQ(stamped.message, "SendThread 67 : Create Search Device Work Thread   ");
    // The stamp's day is the day of the month, as local time has it.
    std::tm b{}, a{};
    localtime_r(&before, &b);
    localtime_r(&after, &a);
    EXPECT_TRUE(stamped.day == b.tm_mday || stamped.day == a.tm_mday) << stamped.day;
    EXPECT_TRUE(stamped.hour == b.tm_hour || stamped.hour == a.tm_hour) << stamped.hour;
    EXPECT_LE(stamped.minute, 59);
    EXPECT_LE(stamped.second, 60);

    // The echo carries the very same characters.
    EXPECT_EQ(Echo(), line);

    // A sink takes the echo instead of the stream; the file still gets the line.
    static std::string sunk;
    io_set_echo_sink([](const char* text, std::size_t length) { sunk.append(text, length); });
    EXPECT_EQ(io_printf("to the sink"), 1);
    EXPECT_EQ(SplitStampedLine(sunk).message, "to the sink") << sunk;
    EXPECT_EQ(Echo(), line) << "the stream got nothing more";
    EXPECT_EQ(testsupport::ReadFile(file), content + sunk);
}

TEST_F(ShowLogTest, EchoIsTextNotAFormat)
{
    fs::path file = StartLog(m_dir.WithSlash());
    EXPECT_EQ(io_printf("%s", "100% sure %d %s"), 1);
    std::string echo = Echo();
    StampedLine stamped = SplitStampedLine(echo);
    ASSERT_TRUE(stamped.ok) << echo;
    EXPECT_EQ(stamped.message, "100% sure %d %s");
}

TEST_F(ShowLogTest, LongestMessageIsWrittenLongerIsDropped)
{
    fs::path file = StartLog(m_dir.WithSlash());
    const std::string fits(1005, 'm');
    EXPECT_EQ(io_printf("%s", fits.c_str()), 1);
    std::string written = testsupport::ReadFile(file).substr(sizeof(kStartBanner) - 1);
    EXPECT_EQ(written.size(), 1022u);
    EXPECT_EQ(written.compare(0, fits.size(), fits), 0);
    EXPECT_EQ(Echo(), written);

    const std::string tooLong(1007, 'n');
    EXPECT_EQ(io_printf("%s", tooLong.c_str()), 0);
    const std::string farTooLong(5000, 'o');
    EXPECT_EQ(io_printf("%s", farTooLong.c_str()), 0);
    EXPECT_EQ(testsupport::ReadFile(file), kStartBanner + written) << "nothing more in the file";
    EXPECT_EQ(Echo(), written) << "nothing more echoed";
}

TEST_F(ShowLogTest, EmptyMessageWritesNothing)
{
    fs::path file = StartLog(m_dir.WithSlash());
    // The empty format is exactly what the check is about.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-zero-length"
    EXPECT_EQ(io_printf(""), 0);
#pragma GCC diagnostic pop
    EXPECT_EQ(io_printf("%s", ""), 0);
    EXPECT_EQ(io_printf(nullptr), 0);
    EXPECT_EQ(io_printf_time("%s", ""), 0);
    EXPECT_EQ(testsupport::ReadFile(file), kStartBanner);
    EXPECT_EQ(Echo(), "");
}

TEST_F(ShowLogTest, PrintfTimePutsTheTimeOfDayInFront)
{
    fs::path file = StartLog(m_dir.WithSlash());
    EXPECT_EQ(io_printf_time("value %d", 5), 1);
    std::string line = testsupport::ReadFile(file).substr(sizeof(kStartBanner) - 1);
    const std::string head = "[--";
    const std::string tail = "--]*value 5\r\n";
    ASSERT_GT(line.size(), head.size() + tail.size()) << line;
    EXPECT_EQ(line.substr(0, head.size()), head);
    EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
    EXPECT_TRUE(IsTimeOfDay(line.substr(head.size(), line.size() - head.size() - tail.size()))) << line;
    EXPECT_EQ(Echo(), line);
}

TEST_F(ShowLogTest, MissingDirectoryStillEchoes)
{
    fs::path missing = m_dir.path() / "not-there";
    EXPECT_EQ(io_log_init(true, (missing.string() + "/").c_str()), 1);
    EXPECT_EQ(io_printf("line %d", 1), 1);
    EXPECT_FALSE(fs::exists(missing)) << "the directory is not created";
    EXPECT_TRUE(testsupport::ListDir(m_dir.path()).empty());
    StampedLine stamped = SplitStampedLine(Echo());
    EXPECT_TRUE(stamped.ok);
    EXPECT_EQ(stamped.message, "line 1");
    EXPECT_EQ(io_log("tag", "src", 1, "msg"), 0) << "io_log reports the file it could not open";
}

// Regression: the log opened its predictable name in a directory others may
// write to, following a link planted there to any file of the system.
TEST_F(ShowLogTest, PlantedLinkOrFifoIsAFileThatCannotBeOpened)
{
    const fs::path name = m_dir.path() / TodaysLogName();
    const fs::path target = m_dir.path() / "target";
    std::ofstream(target) << "precious\n";
    fs::create_symlink(target, name);
    EXPECT_EQ(io_log_init(true, m_dir.WithSlash().c_str()), 1);
    EXPECT_EQ(io_printf("via link"), 1);
    EXPECT_EQ(io_log("tag", "src", 1, "msg"), 0);
    EXPECT_EQ(testsupport::ReadFile(target), "precious\n");
    EXPECT_EQ(SplitStampedLine(Echo()).message, "via link");

    // A FIFO neither blocks the open while nobody reads it nor takes the lines
    // when somebody does.
    fs::remove(name);
    ASSERT_EQ(::mkfifo(name.c_str(), 0644), 0);
    EXPECT_EQ(io_log_init(true, m_dir.WithSlash().c_str()), 1);
    int reader = ::open(name.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(io_printf("via fifo"), 1);
    char taken[64];
    EXPECT_LE(::read(reader, taken, sizeof(taken)), 0);
    ::close(reader);
    EXPECT_NE(Echo().find("via fifo*["), std::string::npos);

    // A new log file is no more writable than 0644, whatever the umask.
    fs::remove(name);
    mode_t umaskBefore = ::umask(0);
    fs::path file = StartLog(m_dir.WithSlash());
    ::umask(umaskBefore);
    struct stat status;
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
}

TEST_F(ShowLogTest, DirectoryWithoutFinalSlashIsGluedToTheName)
{
    std::string glued = (m_dir.path() / "x").string();
    std::string before = TodaysLogName();
    EXPECT_EQ(io_log_init(true, glued.c_str()), 1);
    std::string after = TodaysLogName();
    std::vector<fs::path> files = testsupport::ListDir(m_dir.path());
    ASSERT_EQ(files.size(), 1u);
    std::string name = files[0].filename().string();
    EXPECT_TRUE(name == "x" + before || name == "x" + after) << name;
    EXPECT_EQ(testsupport::ReadFile(files[0]), kStartBanner);
}

TEST_F(ShowLogTest, IoLogWritesItsLineToTheFileOnly)
{
    fs::path file = StartLog(m_dir.WithSlash());
    EXPECT_EQ(io_log(nullptr, "src", 7, "msg"), 0);
    EXPECT_EQ(io_log("tag", nullptr, 7, "msg"), 0);
    EXPECT_EQ(io_log("tag", "src", 7, nullptr), 0);
    EXPECT_EQ(testsupport::ReadFile(file), kStartBanner);

    EXPECT_EQ(io_log("tag", "src", 7, "msg"), 1);
    EXPECT_EQ(testsupport::ReadFile(file), std::string(kStartBanner) + "[tag]:src(7): msg\r\n");
    EXPECT_EQ(Echo(), "");
}

TEST_F(ShowLogTest, ExitBannerAndLinesAfterIt)
{
    fs::path file = StartLog(m_dir.WithSlash());
    io_log_exit();
    EXPECT_EQ(testsupport::ReadFile(file), std::string(kStartBanner) + kExitBanner);
    EXPECT_EQ(Echo(), "");
    // The exit banner changes no state: later lines still go to the file.
    EXPECT_EQ(io_printf("after"), 1);
    std::string content = testsupport::ReadFile(file);
    EXPECT_EQ(content.find(std::string(kStartBanner) + kExitBanner + "after*["), 0u) << content;
}

TEST_F(ShowLogTest, SecondStartAppendsToTheSameFile)
{
    fs::path file = StartLog(m_dir.WithSlash());
    EXPECT_EQ(io_printf("first"), 1);
    fs::path again = StartLog(m_dir.WithSlash());
    EXPECT_EQ(again, file);
    std::string content = testsupport::ReadFile(file);
    const std::string banner = kStartBanner;
    ASSERT_EQ(content.size(), 2 * banner.size() + 5 + kStampShape.size()) << content;
    EXPECT_EQ(content.substr(0, banner.size() + 5), banner + "first") << content;
    EXPECT_TRUE(HasShape(content.substr(banner.size() + 5, kStampShape.size()), kStampShape)) << content;
    EXPECT_EQ(content.substr(content.size() - banner.size()), banner) << content;
}

TEST_F(ShowLogTest, LoggingOffWritesNothingAnywhere)
{
    EXPECT_EQ(io_log_init(false, m_dir.WithSlash().c_str()), 0);
    EXPECT_EQ(io_printf("x %d", 1), 0);
    EXPECT_EQ(io_printf_time("x %d", 1), 0);
    EXPECT_EQ(io_log("t", "s", 1, "m"), 0);
    io_log_exit();
    EXPECT_TRUE(testsupport::ListDir(m_dir.path()).empty());
    EXPECT_EQ(Echo(), "");

    // Switching off after a start stops the writing too.
    fs::path file = StartLog(m_dir.WithSlash());
    EXPECT_EQ(io_log_init(false, m_dir.WithSlash().c_str()), 0);
    EXPECT_EQ(io_printf("y"), 0);
    EXPECT_EQ(testsupport::ReadFile(file), kStartBanner);
    EXPECT_EQ(Echo(), "");
}

TEST_F(ShowLogTest, OnWithoutDirectoryWritesNothing)
{
    EXPECT_EQ(io_log_init(true, nullptr), 0);
    EXPECT_EQ(io_printf("x"), 0);
    EXPECT_EQ(Echo(), "");
}

TEST_F(ShowLogTest, DirectoryLongerThan4065CharactersIsRefused)
{
    // The 30-character file name must still fit the 4096-byte path behind the
    // directory. A directory that does not exist shows the rule without the
    // file system's own name limits: accepted means the echo still works.
    auto missingDir = [](std::size_t length)
    {
        std::string dir = "/nonexistent-nasfinder-log/";
        dir += std::string(length - dir.size() - 1, 'd');
        dir += '/';
        return dir;
    };
    std::string longest = missingDir(4065);
    ASSERT_EQ(longest.size(), 4065u);
    EXPECT_EQ(io_log_init(true, longest.c_str()), 1);
    EXPECT_EQ(io_printf("kept"), 1);
    EXPECT_NE(Echo().find("kept*["), std::string::npos);

    std::string tooLong = missingDir(4066);
    EXPECT_EQ(io_log_init(true, tooLong.c_str()), 0);
    EXPECT_EQ(io_printf("refused"), 0);
    EXPECT_EQ(Echo().find("refused"), std::string::npos);

    std::string huge(10000, 'h');
    EXPECT_EQ(io_log_init(true, huge.c_str()), 0);
    EXPECT_EQ(io_printf("refused"), 0);
}

TEST(ShowLogClock, CurrentTimeIsTheTimeOfDay)
{
    for (int i = 0; i < 20; ++i)
    {
        std::string now = get_curtime();
        ASSERT_TRUE(IsTimeOfDay(now)) << now;
    }
    EXPECT_FALSE(IsTimeOfDay("12:00:00.5")) << "the shape check itself";
}
