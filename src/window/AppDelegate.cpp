#include "AppDelegate.h"

#include "CommandLine.h"
#include "FollowUpSetting.h"
#include "GraphicalSession.h"
#include "HostAddress.h"
#include "LanguageFile.h"
#include "MainWindow.h"
#include "SearchAddresses.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <QApplication>
#include <QColor>
#include <QIcon>
#include <QMainWindow>
#include <QPalette>
#include <QProcessEnvironment>
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

nasfinder::SessionSettings WindowSessionSettings(const InterfaceChoice& choice)
{
    nasfinder::SessionSettings settings;
    settings.interfaces = choice;
    settings.followUps = LoadFollowUps();
    for (const QString& address : LoadSearchAddresses())
    {
        if (const std::optional<std::uint32_t> number = nasfinder::ParseCanonicalIPv4(address.toStdString()))
            settings.addresses.push_back(*number);
    }
    return settings;
}

AppDelegate::AppDelegate() = default;

AppDelegate::~AppDelegate() = default;

void AppDelegate::loadWindow(nasfinder::SessionSettings settings, nasfinder::SessionHooks hooks)
{
    InitApplicationResources();
    ownedWindow = std::make_unique<MainWindow>(std::move(settings), std::move(hooks));
    window = ownedWindow.get();
    window->setWindowIcon(QIcon(QStringLiteral(":/nasfinder.png")));
}

void AppDelegate::windowLoaded()
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

// Qt's own options, left in argv for Qt: how many arguments from args[i] on
// one takes, or 0 when args[i] is none.
std::size_t QtOption(const std::vector<std::string>& args, std::size_t i)
{
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg[0] != '-')
        return 0;
    const char* name = arg.c_str() + (arg[1] == '-' ? 2 : 1);
    if (IsOneOf(name, kQtOptionsWithValue))
        return 2; // Qt's value, whatever it looks like
    return IsOneOf(name, kQtFlags) || StartsWithOneOf(name, kQtInlineValue) ? 1 : 0;
}

const nasfinder::OptionTable<nasfinder::CommonOptions>& WindowOptions()
{
    static const nasfinder::OptionTable<nasfinder::CommonOptions> table{
        {nasfinder::InterfaceOption("search only on this interface, given by name (eth0) or\n"
                                    "by one of its IPv4 addresses; repeat it for more than one"),
         nasfinder::ExcludeInterfaceOption("do not search on this interface; repeatable. Answers that\n"
                                           "arrive on an interface not searched are ignored"),
         nasfinder::HelpOption("show this help and exit"),
         nasfinder::VersionOption("show the version and exit")},
        nasfinder::Syntax::Lenient,
        &QtOption};
    return table;
}

std::string WindowUsage()
{
    return nasfinder::UsageText("nasfinder",
                                "Find the storage devices on the local network and list them in a window.",
                                nasfinder::SpecsOf(WindowOptions()),
                                "Qt's own options (-platform NAME, -display DISPLAY, -style STYLE,\n"
                                "-qwindowgeometry WxH+X+Y, -reverse, -session ID, ...) are passed to Qt.\n"
                                "Closing the window ends the program with exit status 1; a bad argument\n"
                                "gives exit status 2, and so does an interface both chosen and excluded or\n"
                                "a choice of interfaces where no search can run. Without a graphical\n"
                                "session to open on (no DISPLAY, no WAYLAND_DISPLAY) it ends with exit\n"
                                "status 3: nasfinder-scan searches without one.\n"
                                "Diagnostic lines go to standard error.\n");
}
} // namespace

int ApplicationMain(int argc, char** argv)
{
    // Before anything else runs, above all before QApplication loads the
    // platform theme and whatever toolkit modules the user's settings name:
    // the helper that holds port 67, then no privilege.
    if (!nasfinder::SearchSession::StartBroadcastHelperThenDropPrivileges("nasfinder"))
        return 1;

    // Read before anything of Qt exists: --help and --version must answer
    // without a display, and no argument may start a search the user did not
    // ask for.
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    nasfinder::Parsed<nasfinder::CommonOptions> parsed = nasfinder::ParseArguments(WindowOptions(), args);
    const InterfaceChoice& choice = parsed.options.interfaces;
    InterfaceChoiceCheck check;
    if (parsed.status == nasfinder::ParseStatus::Run)
    {
        // Said on standard error here; the status line says it again.
        check = RefuseInterfaceChoice("nasfinder", choice);
        if (check.refusal)
        {
            parsed.status = nasfinder::ParseStatus::Error;
            parsed.error = *check.refusal;
        }
    }
    switch (parsed.status)
    {
    case nasfinder::ParseStatus::Help:
        std::fputs(WindowUsage().c_str(), stdout);
        return 0;
    case nasfinder::ParseStatus::Version:
        std::puts("nasfinder " NASFINDER_VERSION);
        return 0;
    case nasfinder::ParseStatus::Error:
        std::fprintf(stderr, "nasfinder: %s; try 'nasfinder --help'\n", parsed.error.c_str());
        return 2;
    case nasfinder::ParseStatus::Run:
        break;
    }

#ifdef __GLIBC__
    // Large blocks (the copies of a flooded list) come from the kernel and go
    // back to it when freed. Left to itself, the C library raises this
    // threshold after the first such block is freed, and then keeps tens of
    // megabytes at the top of the library threads' heaps, which malloc_trim
    // does not reach: the window would stay large after a flood and Refresh.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif

    const std::string noSession = MissingGraphicalSession(args);
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

    AppDelegate delegate;
    delegate.loadWindow(WindowSessionSettings(choice));
    delegate.windowLoaded();
    delegate.window->start(PreferredLanguages(QProcessEnvironment::systemEnvironment()), QStringLiteral(":"));
    delegate.window->show();
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
