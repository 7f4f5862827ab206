// The application delegate: loads the window layout with its controller, and
// runs the event loop.
#ifndef NASFINDER_APPDELEGATE_H
#define NASFINDER_APPDELEGATE_H

#include <QObject>

#include <memory>

class Controller;
class QMainWindow;

class AppDelegate : public QObject
{
    Q_OBJECT
public:
    AppDelegate();
    ~AppDelegate() override;

    // Builds the window from its layout and the controller that owns its
    // outlets and actions; nothing is started yet.
    void loadWindowLayout();

    // The window is loaded: paints its background and says so.
    void awakeFromNib();
    void applicationDidFinishLaunching();

    QMainWindow* window = nullptr;
    Controller* controller = nullptr;

private:
    std::unique_ptr<QMainWindow> ownedWindow;
    std::unique_ptr<Controller> ownedController;
};

// The process's entry: first binds the broadcast search's port and gives up
// every capability (status 1 when one is left), then answers -h/--help and
// --version and refuses unknown arguments (status 2) before anything else
// starts, and ends with status 3 when there is no graphical session to open
// on; otherwise creates the
// application with the process arguments, loads and wakes the window and its
// controller, shows the window and runs until the window closes.
int ApplicationMain(int argc, char** argv);

#endif
