// Runs the application as the process entry does, then closes its window
// while the first search is still counting down. ControllerTest runs it to
// see the process end with status 0.
#include "AppDelegate.h"
#include "Controller.h"
#include "WindowTestSupport.h"

#include <QMainWindow>
#include <QTimer>

#include <cstdio>

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
    QApplication app(argc, argv);
    AppDelegate delegate;
    delegate.loadWindowLayout();
    delegate.awakeFromNib();
    delegate.controller->awakeFromNib();
    delegate.window->show();
    QTimer::singleShot(2500, delegate.window,
                       [&]
                       {
                           qInfo("closing now");
                           delegate.window->close();
                       });
    app.exec();
    // Only reached if closing the window did not end the process.
    return 3;
}
