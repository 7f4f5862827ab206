#include "AppDelegate.h"

#include "Controller.h"
#include "GraphicalSession.h"
#include "InterfaceChoice.h"
#include "ProcessPrivileges.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QColor>
#include <QIcon>
#include <QMainWindow>
#include <QPalette>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#ifndef NASFINDER_VERSION
#error "NASFINDER_VERSION must be defined by the build"
#endif

// The language files and the icon are compiled into this static library; a
// library's resources are registered only when something references them.
static void InitApplicationResources()
{
    Q_INIT_RESOURCE(nasfinder);
}

AppDelegate::AppDelegate() = default;

AppDelegate::~AppDelegate()
{
    // The controller watches the window, so it goes first.
    ownedController.reset();
    ownedWindow.reset();
}

void AppDelegate::loadWindowLayout()
{
    InitApplicationResources();
    ownedWindow = std::make_unique<QMainWindow>();
    window = ownedWindow.get();
    Ui::MainWindow ui;
    ui.setupUi(window);
    window->setWindowIcon(QIcon(QStringLiteral(":/nasfinder.png")));
    ownedController = std::make_unique<Controller>(window, ui);
    controller = ownedController.get();
}

void AppDelegate::awakeFromNib()
{
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, QColor::fromRgbF(0.13f, 0.29f, 0.67f, 1.0f));
    // Dark text would be unreadable on that blue.
    palette.setColor(QPalette::WindowText, Qt::white);
    window->setPalette(palette);
    window->setAutoFillBackground(true);
    qInfo("application awakeFromNib........");
}

void AppDelegate::applicationDidFinishLaunching()
{
    qInfo("applicationDidFinishLaunching........");
}

namespace
{

const char kUsage[] = "Usage: nasfinder [OPTIONS]\n"
                      "Find the storage devices on the local network and list them in a window.\n"
                      "\n"
                      "  --interface NAME|ADDRESS\n"
                      "                  search only on this interface, given by name (eth0) or\n"
                      "                  by one of its IPv4 addresses; repeat it for more than one\n"
                      "  --exclude-interface NAME|ADDRESS\n"
                      "                  do not search on this interface; repeatable. Answers that\n"
                      "                  arrive on an interface not searched are ignored\n"
                      "  -h, --help      show this help and exit\n"
                      "  --version       show the version and exit\n"
                      "\n"
                      "Qt's own options (-platform NAME, -display DISPLAY, -style STYLE,\n"
                      "-qwindowgeometry WxH+X+Y, -reverse, -session ID, ...) are passed to Qt.\n"
                      "Closing the window ends the program with exit status 1; a bad argument\n"
                      "gives exit status 2, and so does an interface both chosen and excluded or\n"
                      "a choice of interfaces where no search can run. Without a graphical\n"
                      "session to open on (no DISPLAY, no WAYLAND_DISPLAY) it ends with exit\n"
                      "status 3: nasfinder-scan searches without one.\n"
                      "Diagnostic lines go to standard error.\n";

// Options QApplication and its platform plugins take out of argv themselves,
// each also with two dashes; "-style=NAME" and the like come with the value.
const char* const kQtOptionsWithValue[] = {"platform",        "platformpluginpath",
                                           "platformtheme",   "plugin",
                                           "qwindowgeometry", "qwindowtitle",
                                           "qwindowicon",     "geometry",
                                           "title",           "icon",
                                           "display",         "name",
                                           "session",         "style",
                                           "stylesheet"};
const char* const kQtFlags[] = {"reverse", "widgetcount", "testability", "sync", "nograb", "dograb"};
const char* const kQtInlineValue[] = {"style=", "stylesheet=", "qmljsdebugger="};

enum class Invocation
{
    Run,
    Help,
    Version,
    Refused,
};

template <std::size_t N> bool IsOneOf(const char* name, const char* const (&names)[N])
{
    for (const char* candidate : names)
    {
        if (std::strcmp(name, candidate) == 0)
            return true;
    }
    return false;
}

template <std::size_t N> bool StartsWithOneOf(const char* name, const char* const (&prefixes)[N])
{
    for (const char* prefix : prefixes)
    {
        if (std::strncmp(name, prefix, std::strlen(prefix)) == 0)
            return true;
    }
    return false;
}

// --interface NAME, --interface=NAME and the same for --exclude-interface: adds
// the value to `into` and steps over it. False when the argument is neither;
// a missing or empty value is a refusal.
bool ReadInterfaceOption(int argc, char** argv, int& i, InterfaceChoice& choice, std::string& refusal)
{
    for (const char* option : {"--interface", "--exclude-interface"})
    {
        std::vector<std::string>& into = option[2] == 'i' ? choice.include : choice.exclude;
        const std::size_t length = std::strlen(option);
        const char* arg = argv[i];
        if (std::strncmp(arg, option, length) != 0 || (arg[length] != '\0' && arg[length] != '='))
            continue;
        const char* value = arg[length] == '=' ? arg + length + 1 : (i + 1 < argc ? argv[++i] : "");
        if (*value == '\0')
            refusal = std::string("option ") + option + " needs an interface name or address";
        else
            into.emplace_back(value);
        return true;
    }
    return false;
}

// Read before anything of Qt exists: --help and --version must answer without
// a display, and no argument may start a search the user did not ask for.
Invocation ReadArguments(int argc, char** argv, InterfaceChoice& choice, std::string& refusal)
{
    for (int i = 1; i < argc; ++i)
    {
        const char* arg = argv[i];
        if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0)
            return Invocation::Help;
        if (std::strcmp(arg, "--version") == 0)
            return Invocation::Version;
        if (ReadInterfaceOption(argc, argv, i, choice, refusal))
        {
            if (!refusal.empty())
                return Invocation::Refused;
            continue;
        }
        if (arg[0] != '-' || arg[1] == '\0')
        {
            refusal = std::string("unexpected argument '") + arg + "'";
            return Invocation::Refused;
        }
        const char* name = arg[1] == '-' ? arg + 2 : arg + 1;
        if (IsOneOf(name, kQtOptionsWithValue))
            ++i; // Qt's value, whatever it looks like
        else if (!IsOneOf(name, kQtFlags) && !StartsWithOneOf(name, kQtInlineValue))
        {
            refusal = std::string("unknown option '") + arg + "'";
            return Invocation::Refused;
        }
    }
    return Invocation::Run;
}

} // namespace

int ApplicationMain(int argc, char** argv)
{
    // Before anything else runs, above all before QApplication loads the
    // platform theme and whatever toolkit modules the user's settings name:
    // the helper that holds port 67, then no privilege.
    if (!nasfinder::StartBroadcastHelperThenDropPrivileges("nasfinder"))
        return 1;

    std::string refusal;
    InterfaceChoice choice;
    Invocation invocation = ReadArguments(argc, argv, choice, refusal);
    std::vector<ChosenInterface> chosen;
    if (invocation == Invocation::Run)
    {
        // Said on standard error here; the status line says it again.
        InterfaceChoiceCheck check = RefuseInterfaceChoice("nasfinder", choice);
        chosen = std::move(check.chosen);
        if (check.refusal)
        {
            refusal = *check.refusal;
            invocation = Invocation::Refused;
        }
    }
    switch (invocation)
    {
    case Invocation::Help:
        std::fputs(kUsage, stdout);
        return 0;
    case Invocation::Version:
        std::puts("nasfinder " NASFINDER_VERSION);
        return 0;
    case Invocation::Refused:
        std::fprintf(stderr, "nasfinder: %s; try 'nasfinder --help'\n", refusal.c_str());
        return 2;
    case Invocation::Run:
        break;
    }

    const std::string noSession =
        MissingGraphicalSession(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (!noSession.empty())
    {
        std::fprintf(stderr, "%s\n", NoGraphicalSessionLine(noSession).c_str());
        return kNoGraphicalSessionStatus;
    }

    auto platformGuard = std::make_unique<PlatformFailureGuard>();
    QApplication app(argc, argv);
    platformGuard.reset();
    QApplication::setApplicationName(QStringLiteral("nasfinder"));
    QApplication::setDesktopFileName(QStringLiteral("nasfinder"));

    // Before the controller starts the library, which reads the choice once.
    ChooseSearchInterfaces(choice);

    AppDelegate delegate;
    delegate.loadWindowLayout();
    delegate.controller->chosenInterfaces = chosen;
    delegate.awakeFromNib();
    delegate.controller->awakeFromNib();
    delegate.window->show();
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
