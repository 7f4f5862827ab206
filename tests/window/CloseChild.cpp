// Runs the application through the entry that main() calls, and closes its
// window at the first tick of the first search, while the countdown runs.
// ControllerTest runs it to see the process end with status 1, and to read the
// status line the window shows (printed just before closing). With
// NASFINDER_TEST_HOLD_PORT set, it holds that UDP port first, as another
// program would. With NASFINDER_TEST_OPEN_ROWS=1 it waits for the end of the
// countdown instead, presses Log In on every row in turn, then closes.
#include "AppDelegate.h"
#include "DeviceOpener.h"
#include "WindowTestSupport.h"

#include <QLabel>
#include <QMainWindow>
#include <QMetaObject>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>

namespace
{

QtMessageHandler g_printer = nullptr;

template <class Widget> Widget* Named(const char* name)
{
    for (QWidget* widget : QApplication::allWidgets())
    {
        if (widget->objectName() == QLatin1String(name))
            return qobject_cast<Widget*>(widget);
    }
    return nullptr;
}

void CloseWindow();

// Once the buttons are on: Log In for each row, as a user would click.
void OpenEveryRowThenClose()
{
    auto* button = Named<QPushButton>("loginbutton");
    auto* table = Named<QTableView>("tableview");
    if (button == nullptr || table == nullptr || !button->isEnabled())
    {
        QTimer::singleShot(100, qApp, &OpenEveryRowThenClose);
        return;
    }
    for (int row = 0; row < table->model()->rowCount(); ++row)
    {
        table->selectRow(row);
        button->click();
    }
    qInfo("opened %d rows", table->model()->rowCount());
    QTimer::singleShot(500, qApp, &CloseWindow);
}

void CloseAtFirstTick(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    g_printer(type, context, message);
    static bool closing = false;
    if (closing || !message.startsWith(QLatin1String("vListDevice.size() = ")))
        return;
    closing = true;
    if (qEnvironmentVariableIntValue("NASFINDER_TEST_OPEN_ROWS") == 1)
    {
        QMetaObject::invokeMethod(qApp, &OpenEveryRowThenClose, Qt::QueuedConnection);
        return;
    }
    // After the tick has returned, as a user's click on the close box would be.
    QMetaObject::invokeMethod(qApp, &CloseWindow, Qt::QueuedConnection);
}

void CloseWindow()
{
    // The line may quote a device's text; this program's output is a terminal's.
    if (const auto* status = Named<QLabel>("statusField"))
        qInfo("status line: %s", Inert(status->text()).constData());
    // Where Qt loads plugins from: the user's own choice too, since the
    // program holds no privilege.
    qInfo("library paths: %s", qPrintable(QCoreApplication::libraryPaths().join(u':')));
    qInfo("closing now");
    for (QWidget* widget : QApplication::topLevelWidgets())
    {
        if (auto* window = qobject_cast<QMainWindow*>(widget))
            window->close();
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::string why;
    if (!NetworkIsIsolated(&why))
    {
        std::fprintf(stderr, "not starting the discovery library here: %s\n", why.c_str());
        return 77;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (const int port = qEnvironmentVariableIntValue("NASFINDER_TEST_HOLD_PORT"))
    {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<unsigned short>(port));
        if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0)
        {
            std::perror("holding the port");
            return 4;
        }
    }
    g_printer = qInstallMessageHandler(&CloseAtFirstTick);
    ApplicationMain(argc, argv);
    // Only reached if closing the window did not end the process.
    return 3;
}
