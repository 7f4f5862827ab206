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

#include "Controller.h"
#include "OperationQueue.h"

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
// test may touch:
// every test process, and the programs it starts, get a settings folder of
// their own, removed at exit. Set before Qt first looks for the folder.
inline QString TestConfigHome()
{
    // A plain buffer: the removal at exit runs after static objects are gone.
    static char folder[] = "/tmp/nasfinder-window-test-XXXXXX";
    static const bool made = []
    {
        if (mkdtemp(folder) == nullptr)
            std::abort();
        qputenv("XDG_CONFIG_HOME", folder);
        qputenv("XDG_STATE_HOME", folder);
        std::atexit([] { QDir(QString::fromLocal8Bit(folder)).removeRecursively(); });
        return true;
    }();
    (void)made;
    return QString::fromLocal8Bit(folder);
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

// Waits until the controller's language parse has ended and every notice it
// posted to the UI thread has been handled.
inline void WaitForParse(Controller& controller)
{
    if (controller.parseQueue)
        controller.parseQueue->waitUntilAllOperationsAreFinished();
    QCoreApplication::processEvents();
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
