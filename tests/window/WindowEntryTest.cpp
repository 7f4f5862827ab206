// The window started for real, in child processes, each in an empty network
// namespace of its own (tools/testbed/netns-run.sh) or the LAN test bed, and
// skipped where none can be made: the real window binary for its arguments,
// and CloseChild, which starts the real library.
#include "WindowTestSupport.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace
{

struct ChildRun
{
    bool ended = false;
    int status = 0;
    std::string out;
    std::string err;
};

std::string ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

// Runs a program with its output in files. Started with posix_spawn rather
// than QProcess, whose fork in a process full of threads trips
// ThreadSanitizer's runtime.
ChildRun RunChild(std::vector<std::string> args, char** env)
{
    TestApplication();
    ChildRun run;
    QTemporaryDir dir;
    const QByteArray outPath = dir.filePath("stdout.txt").toLocal8Bit();
    const QByteArray errPath = dir.filePath("stderr.txt").toLocal8Bit();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
    {
        run.err = std::string("posix_spawn: ") + std::strerror(spawned);
        return run;
    }
    run.ended = WaitUntil([&] { return waitpid(pid, &run.status, WNOHANG) == pid; }, 30000);
    if (!run.ended)
    {
        kill(pid, SIGKILL);
        waitpid(pid, &run.status, 0);
    }
    run.out = ReadAll(QString::fromLocal8Bit(outPath));
    run.err = ReadAll(QString::fromLocal8Bit(errPath));
    return run;
}

// Exit status of netns-run.sh where it cannot make a namespace.
constexpr int kSkipped = 77;

ChildRun RunIsolated(const std::vector<std::string>& args, char** env)
{
    std::vector<std::string> wrapped{"/bin/sh", NETNS_RUN};
    wrapped.insert(wrapped.end(), args.begin(), args.end());
    return RunChild(wrapped, env);
}

bool Skipped(const ChildRun& run)
{
    return run.ended && WIFEXITED(run.status) && WEXITSTATUS(run.status) == kSkipped;
}

} // namespace

TEST(WindowEntry, ClosingTheWindowEndsTheProcessWithStatusOne)
{
    const ChildRun run = RunIsolated({WINDOW_CLOSE_CHILD}, environ);
    if (Skipped(run))
        GTEST_SKIP() << run.out << run.err;
    ASSERT_TRUE(run.ended) << "the window closed but the process went on\n" << run.err;
    ASSERT_TRUE(WIFEXITED(run.status)) << run.err;
    EXPECT_EQ(WEXITSTATUS(run.status), 1) << run.err;
    EXPECT_NE(run.err.find("vListDevice.size() = 0"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("closing now"), std::string::npos) << run.err;
}

// The window starts the broadcast helper first and says below the table why
// the broadcast search is off: run for real, by root (the port is free), with
// the port held by another socket, by a user whose helper lacks the privilege,
// and where the helper is missing. With the privilege on the helper, neither
// the capability nor the port reaches a toolkit module that the user's
// settings name, and a device that answers only the broadcast search is
// listed (in the test bed's LAN).
TEST(WindowEntry, StatusLineSaysWhyTheBroadcastSearchIsOff)
{
    std::vector<std::string> envText{"LC_ALL=en_US.UTF-8", "QT_QPA_PLATFORM=offscreen"};
    for (char** e = environ; *e != nullptr; ++e)
    {
        const std::string entry = *e;
        if (entry.rfind("LC_ALL=", 0) != 0 && entry.rfind("LANGUAGE=", 0) != 0 &&
            entry.rfind("NASFINDER_TEST_HOLD_PORT=", 0) != 0)
            envText.push_back(entry);
    }
    // Copies of the window and its helper, the helper with the file capability
    // the package grants, in a folder every user can read (not /tmp, which may
    // ignore file capabilities), with a plugin folder of the user's choosing
    // beside them and a toolkit module that the user's settings name. A second
    // folder holds the window alone, a third the window and a helper without
    // the capability: what another user runs must be in that user's reach,
    // which a build tree in root's home is not.
    // Gone however the test ends: a skip or a failed assertion returns early.
    const testsupport::TempDir copies("/var/tmp");
    const std::string folder = copies.str();
    chmod(folder.c_str(), 0755);
    const std::string capable = folder + "/window_close_child";
    const std::string helper = folder + "/nasfinder-broadcast";
    const std::string alone = folder + "/alone/window_close_child";
    const std::string plain = folder + "/plain/window_close_child";
    const std::string plainHelper = folder + "/plain/nasfinder-broadcast";
    const std::string plugins = folder + "/plugins";
    mkdir(plugins.c_str(), 0755);
    mkdir((folder + "/alone").c_str(), 0755);
    mkdir((folder + "/plain").c_str(), 0755);
    const std::string moduleDir = folder + "/gtk";
    mkdir(moduleDir.c_str(), 0777);
    chmod(moduleDir.c_str(), 0777);
    const std::string module = moduleDir + "/libmarker.so";
    const std::string marker = moduleDir + "/marker";
    QFile::copy(QString::fromLocal8Bit(GTK_MARKER_MODULE), QString::fromStdString(module));
    const std::string config = folder + "/config";
    mkdir(config.c_str(), 0755);
    mkdir((config + "/gtk-3.0").c_str(), 0755);
    std::ofstream(config + "/gtk-3.0/settings.ini") << "[Settings]\ngtk-modules=" << module << "\n";
    const bool copied =
        QFile::copy(QString::fromLocal8Bit(WINDOW_CLOSE_CHILD), QString::fromStdString(capable)) &&
        QFile::copy(QString::fromLocal8Bit(BROADCAST_HELPER), QString::fromStdString(helper)) &&
        QFile::copy(QString::fromLocal8Bit(WINDOW_CLOSE_CHILD), QString::fromStdString(alone)) &&
        QFile::copy(QString::fromLocal8Bit(WINDOW_CLOSE_CHILD), QString::fromStdString(plain)) &&
        QFile::copy(QString::fromLocal8Bit(BROADCAST_HELPER), QString::fromStdString(plainHelper));
    ASSERT_TRUE(copied) << "cannot copy the window and its helper to " << folder;
    const ChildRun granted = RunChild({"/sbin/setcap", "cap_net_bind_service=+ep", helper}, environ);
    const bool withCapability =
        granted.ended && WIFEXITED(granted.status) && WEXITSTATUS(granted.status) == 0;
    // A desktop session as the user has it: Qt takes the toolkit's platform
    // theme for GNOME, and the toolkit loads the modules of the user's settings.
    const std::vector<std::string> desktop{"QT_PLUGIN_PATH=" + plugins, "QT_QPA_PLATFORM=xcb",
                                           "XDG_CURRENT_DESKTOP=GNOME", "XDG_CONFIG_HOME=" + config,
                                           "HOME=" + folder};
    const std::vector<std::string> asNobody{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                            "--clear-groups"};
    // One device of an accepted vendor that answers the broadcast search only.
    std::vector<std::string> inLan{"/usr/bin/python3",
                                   LAN_SANDBOX,
                                   "-q",
                                   "-n",
                                   "1",
                                   "--vendors",
                                   "TAVIK",
                                   "--no-ssdp",
                                   "xvfb-run",
                                   "-a",
                                   "-s",
                                   "-ac -screen 0 640x400x24"};
    inLan.insert(inLan.end(), asNobody.begin(), asNobody.end());
    const bool haveXvfb = std::system("command -v xvfb-run >/dev/null 2>&1") == 0;

    const struct
    {
        const char* name;
        std::vector<std::string> prefix;
        std::vector<std::string> extraEnv;
        std::string program;
        std::string line;
    } rows[] = {
        {"free", {}, {}, WINDOW_CLOSE_CHILD, "status line: Devices shown: 0 (0 answering)\n"},
        {"capability", inLan, desktop, capable, "status line: Devices shown: 1 (1 answering)\n"},
        {"held",
         {},
         {"NASFINDER_TEST_HOLD_PORT=67"},
         WINDOW_CLOSE_CHILD,
         "another program holds UDP port 67"},
        {"unprivileged",
         asNobody,
         {},
         plain,
         "Restore it: sudo setcap cap_net_bind_service=+ep " + plainHelper},
        {"missing", {}, {}, alone, "is missing. Install the nasfinder-common package."},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        // A variable of the row's replaces the test's own: a program may read
        // either of two entries of one name.
        std::vector<std::string> rowEnv;
        for (const std::string& entry : envText)
        {
            const std::string name = entry.substr(0, entry.find('=') + 1);
            if (std::none_of(row.extraEnv.begin(), row.extraEnv.end(),
                             [&name](const std::string& extra) { return extra.rfind(name, 0) == 0; }))
                rowEnv.push_back(entry);
        }
        rowEnv.insert(rowEnv.end(), row.extraEnv.begin(), row.extraEnv.end());
        std::vector<char*> env;
        for (std::string& entry : rowEnv)
            env.push_back(entry.data());
        env.push_back(nullptr);
        const bool capabilityRow = std::string(row.name) == "capability";
        if (capabilityRow && (!withCapability || !haveXvfb))
        {
            std::cerr << "no file capability can be granted here, or no xvfb-run: " << granted.err << "\n";
            continue;
        }
        std::vector<std::string> args = row.prefix;
        args.push_back(row.program);
        const ChildRun run = capabilityRow ? RunChild(args, env.data()) : RunIsolated(args, env.data());
        if (Skipped(run) || (capabilityRow && run.err.find("LAN test bed unavailable") != std::string::npos))
            GTEST_SKIP() << run.out << run.err;
        ASSERT_TRUE(run.ended) << run.err;
        if (!row.prefix.empty() && run.err.find("status line") == std::string::npos)
        {
            // The build tree may not be readable by another user here.
            std::cerr << "not run as an unprivileged user: " << run.out << run.err << "\n";
            continue;
        }
        if (capabilityRow && run.err.find("sudo setcap") != std::string::npos)
        {
            // setcap wrote the attribute, but the kernel did not apply it at exec:
            // a folder mounted nosuid (a chroot's /var/tmp, say) ignores file
            // capabilities, and the helper then runs as any user's program does.
            std::cerr << "the file capability does not take effect in " << folder << " here\n";
            continue;
        }
        EXPECT_EQ(WEXITSTATUS(run.status), 1) << run.err;
        EXPECT_NE(run.err.find(row.line), std::string::npos) << run.err;
        if (capabilityRow)
        {
            EXPECT_NE(run.err.find("library paths: " + plugins + ":"), std::string::npos) << run.err;
            const std::string recorded = ReadAll(QString::fromStdString(marker));
            EXPECT_NE(recorded.find("CapPrm:\t0000000000000000"), std::string::npos) << recorded << run.err;
            EXPECT_NE(recorded.find("CapEff:\t0000000000000000"), std::string::npos) << recorded << run.err;
            EXPECT_EQ(recorded.find("port 67"), std::string::npos) << recorded << run.err;
        }
    }
}

// --help, --version and bad arguments are answered before anything of Qt or
// the library exists: the binary runs with no display at all, where creating
// the window would abort, and says nothing beyond its answer. Without a
// graphical session the window says so in one line and ends with status 3.
TEST(WindowEntry, ArgumentsAreAnsweredWithoutStartingTheWindow)
{
    std::vector<std::string> envText;
    for (char** e = environ; *e != nullptr; ++e)
    {
        const std::string entry = *e;
        bool session = false;
        for (const char* name : {"QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY=", "WAYLAND_SOCKET=",
                                 "XDG_SESSION_TYPE=", "XDG_RUNTIME_DIR="})
            session = session || entry.rfind(name, 0) == 0;
        if (!session)
            envText.push_back(entry);
    }
    std::vector<char*> env;
    for (std::string& entry : envText)
        env.push_back(entry.data());
    env.push_back(nullptr);
    // A copy of ./run.sh alone in a folder: it must answer before it installs
    // or builds anything, which it could not do there.
    QTemporaryDir runFolder;
    const std::string runSh = runFolder.filePath("run.sh").toStdString();
    ASSERT_TRUE(QFile::copy(QStringLiteral(RUN_SH), QString::fromStdString(runSh)));

    const std::string usage = "Usage: nasfinder [OPTIONS]\n"
                              "Find the storage devices on the local network and list them in a window.\n"
                              "\n"
                              "  --interface NAME|ADDRESS\n"
                              "                  search only on this interface, given by name (eth0) or\n";
    const std::string version = "nasfinder " NASFINDER_VERSION "\n";
    const auto noSession = [](const std::string& why)
    {
        return "nasfinder: the window needs a graphical session (" + why +
               "); without one, search with nasfinder-scan, or ./run.sh --scan in the source tree\n";
    };
    const struct
    {
        std::vector<std::string> args;
        int status;
        std::string outStart;
        std::string err;
        std::vector<std::string> command = {NASFINDER_APP};
    } rows[] = {
        {{"--help"}, 0, usage, ""},
        {{"-h"}, 0, usage, ""},
        {{"--version"}, 0, version, ""},
        // Qt's own options and their values are left to Qt.
        {{"-platform", "offscreen", "--reverse", "-style=Fusion", "--version"}, 0, version, ""},
        {{"--bogus"}, 2, "", "nasfinder: unknown option '--bogus'; try 'nasfinder --help'\n"},
        {{"-platform", "xcb", "-x", "--help"},
         2,
         "",
         "nasfinder: unknown option '-x'; try 'nasfinder --help'\n"},
        {{"search"}, 2, "", "nasfinder: unexpected argument 'search'; try 'nasfinder --help'\n"},
        // Read as Qt reads its own options: a value is the next argument,
        // whatever it looks like, and only an option with a value takes "=".
        {{"-"}, 2, "", "nasfinder: unexpected argument '-'; try 'nasfinder --help'\n"},
        {{"--version=1"}, 2, "", "nasfinder: unknown option '--version=1'; try 'nasfinder --help'\n"},
        {{"--interface", "--version"},
         2,
         "",
         "nasfinder: unknown interface '--version'; the interfaces here are: lo; try 'nasfinder --help'\n"},
        // The interfaces to search: checked against the ones there are (only lo
        // in the empty namespace) before anything starts.
        {{"--interface", "nosuch0"},
         2,
         "",
         "nasfinder: unknown interface 'nosuch0'; the interfaces here are: lo; try 'nasfinder --help'\n"},
        {{"--exclude-interface"},
         2,
         "",
         "nasfinder: option --exclude-interface needs an interface name or address; try 'nasfinder "
         "--help'\n"},
        // A choice that searches nothing is refused, not run with an empty list.
        {{"--interface", "lo", "--exclude-interface=lo"},
         2,
         "",
         "nasfinder: interface lo is both chosen (--interface lo) and excluded (--exclude-interface lo); try "
         "'nasfinder --help'\n"},
        {{"--interface", "lo"},
         2,
         "",
         "nasfinder: interface lo is a loopback interface: no search runs there\nnasfinder: no chosen "
         "interface "
         "can carry a search; try 'nasfinder --help'\n"},
        {{}, 3, "", noSession("DISPLAY is not set")},
        {{"-platform", "wayland;xcb"}, 3, "", noSession("neither WAYLAND_DISPLAY nor DISPLAY is set")},
        // A display that is named but not there: Qt's platform plugin gives up.
        {{"-display", ":9317"}, 3, "", noSession("could not connect to display :9317")},
        {{"-platform", "wayland"}, 3, "", noSession("WAYLAND_DISPLAY is not set"), {"/bin/bash", runSh}},
    };
    for (const auto& row : rows)
    {
        std::vector<std::string> args = row.command;
        args.insert(args.end(), row.args.begin(), row.args.end());
        const ChildRun run = RunIsolated(args, env.data());
        if (Skipped(run))
            GTEST_SKIP() << run.out;
        SCOPED_TRACE(::testing::PrintToString(args));
        ASSERT_TRUE(run.ended);
        ASSERT_TRUE(WIFEXITED(run.status)) << run.err;
        EXPECT_EQ(WEXITSTATUS(run.status), row.status) << run.err;
        EXPECT_EQ(run.out.substr(0, row.outStart.size()), row.outStart);
        EXPECT_EQ(run.out.empty(), row.outStart.empty()) << run.out;
        EXPECT_EQ(run.err, row.err);
    }
}
