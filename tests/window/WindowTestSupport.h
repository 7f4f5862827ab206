// Helpers shared by the window's tests: one offscreen application per test
// process, waiting on the event loop with a deadline, a capture of console
// lines, and the check that a test which starts the discovery library is not
// on a real network.
#ifndef NASFINDER_WINDOWTESTSUPPORT_H
#define NASFINDER_WINDOWTESTSUPPORT_H

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QMessageBox>
#include <QMutex>
#include <QStringList>

#include "MainWindow.h"
#include "test_support.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>

// Readable QString values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

// The window reads and writes the user's settings and known devices, which no
// test may touch: every test process, and the programs it starts, get a
// settings folder of their own, removed at exit. Set before Qt first looks
// for the folder.
inline QString TestConfigHome()
{
    // Removed by a handler at exit, after the tests' own objects are gone.
    static testsupport::TempDir* folder = []
    {
        auto* made = new testsupport::TempDir;
        qputenv("XDG_CONFIG_HOME", made->path().c_str());
        qputenv("XDG_STATE_HOME", made->path().c_str());
        std::atexit([] { delete folder; });
        return made;
    }();
    return QString::fromStdString(folder->path().string());
}

inline QApplication& TestApplication()
{
    TestConfigHome();
    static int argc = 1;
    static char name[] = "nasfinder-window-test";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Runs the event loop until done() holds or the deadline passes.
inline bool WaitUntil(const std::function<bool()>& done, int milliseconds = 10000)
{
    QDeadlineTimer deadline(milliseconds);
    while (!done())
    {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Waits until the window's language parse has ended and its captions are on.
inline void WaitForParse(MainWindow& window)
{
    window.language.waitForFinished();
    QCoreApplication::processEvents();
}

inline QList<QMessageBox*> OpenAlerts()
{
    QList<QMessageBox*> alerts;
    for (QWidget* w : QApplication::topLevelWidgets())
    {
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            alerts.append(box);
    }
    return alerts;
}

inline void CloseAlerts()
{
    for (QMessageBox* box : OpenAlerts())
        delete box;
}

// Collects the console lines written through Qt's logging while alive.
class CapturedLog
{
public:
    CapturedLog() : previous(qInstallMessageHandler(&CapturedLog::handler)) { current() = this; }
    ~CapturedLog()
    {
        qInstallMessageHandler(previous);
        current() = nullptr;
    }
    QStringList lines() const
    {
        QMutexLocker lock(&mutex);
        return captured;
    }

private:
    static CapturedLog*& current()
    {
        static CapturedLog* log = nullptr;
        return log;
    }
    static void handler(QtMsgType, const QMessageLogContext&, const QString& message)
    {
        if (CapturedLog* log = current())
        {
            QMutexLocker lock(&log->mutex);
            log->captured.append(message);
        }
    }

    QtMessageHandler previous;
    mutable QMutex mutex;
    QStringList captured;
};

// True only where a search cannot reach a real network: every IPv4 address of
// a non-loopback interface lies in the test range 198.18.0.0/15, and the
// namespace is not the one the machine booted with. Outside such a place the
// tests that start the discovery library skip.
inline bool NetworkIsIsolated(std::string* why)
{
    char self[64] = {0};
    char init[64] = {0};
    const ssize_t a = readlink("/proc/self/ns/net", self, sizeof(self) - 1);
    const ssize_t b = readlink("/proc/1/ns/net", init, sizeof(init) - 1);
    if (a > 0 && b > 0 && std::string(self) == std::string(init))
    {
        *why = "this is the machine's own network namespace";
        return false;
    }
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
    {
        *why = "cannot list the network interfaces";
        return false;
    }
    bool isolated = true;
    for (ifaddrs* it = list; it != nullptr; it = it->ifa_next)
    {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET || (it->ifa_flags & IFF_LOOPBACK))
            continue;
        const uint32_t address = ntohl(reinterpret_cast<sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr);
        if ((address & 0xFFFE0000u) != 0xC6120000u) // 198.18.0.0/15
        {
            *why = std::string("interface ") + it->ifa_name + " has an address outside 198.18.0.0/15";
            isolated = false;
            break;
        }
    }
    freeifaddrs(list);
    return isolated;
}

#endif
