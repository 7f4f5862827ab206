// The application delegate: builds the window with the search it shows, and
// runs the event loop.
#ifndef NASFINDER_APPDELEGATE_H
#define NASFINDER_APPDELEGATE_H

#include "InterfaceChoice.h"
#include "SearchSession.h"

#include <QObject>

#include <memory>

class MainWindow;

// The window's search: on the interfaces chosen, with the addresses kept in
// the user's settings, remembering what answers.
nasfinder::SessionSettings WindowSessionSettings(const InterfaceChoice& choice);

class AppDelegate : public QObject
{
    Q_OBJECT
public:
    AppDelegate();
    ~AppDelegate() override;

    // Builds the window and its search; nothing is started yet.
    void loadWindow(nasfinder::SessionSettings settings,
                    nasfinder::SessionHooks hooks = nasfinder::SessionHooks());

    // The window is loaded: paints its background and says so.
    void windowLoaded();
    void applicationDidFinishLaunching();

    MainWindow* window = nullptr;

private:
    std::unique_ptr<MainWindow> ownedWindow;
};

// The process's entry: first starts the broadcast helper and gives up every
// capability (status 1 when one is left), then answers -h/--help and
// --version and refuses unknown arguments (status 2) before anything else
// starts, and ends with status 3 when there is no graphical session to open
// on; otherwise creates the application with the process arguments, builds
// the window, starts its search, shows it and runs until it closes.
int ApplicationMain(int argc, char** argv);

#endif
