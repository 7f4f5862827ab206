// Runs the application through the entry that main() calls, and closes its
// window at the first tick of the first search, while the countdown runs.
// ControllerTest runs it to see the process end with status 1.
#include "AppDelegate.h"
#include "WindowTestSupport.h"

#include <QMainWindow>
#include <QMetaObject>

#include <cstdio>

namespace
{

QtMessageHandler g_printer = nullptr;

void CloseAtFirstTick(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    g_printer(type, context, message);
    static bool closing = false;
    if (closing || !message.startsWith(QLatin1String("vListDevice.size() = ")))
        return;
    closing = true;
    // After the tick has returned, as a user's click on the close box would be.
    QMetaObject::invokeMethod(
        qApp,
        []
        {
            qInfo("closing now");
            for (QWidget* widget : QApplication::topLevelWidgets())
            {
                if (auto* window = qobject_cast<QMainWindow*>(widget))
                    window->close();
            }
        },
        Qt::QueuedConnection);
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
    g_printer = qInstallMessageHandler(&CloseAtFirstTick);
    ApplicationMain(argc, argv);
    // Only reached if closing the window did not end the process.
    return 3;
}
