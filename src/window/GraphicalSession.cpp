#include "GraphicalSession.h"

#include <QMessageLogger>
#include <QString>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace
{
std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The variable that a platform ("xcb", "wayland-egl", "vnc:size=800x600")
// needs and that is missing, or nothing.
std::string Lacking(const std::string& platform, const std::string& displayOption)
{
    const std::string name = platform.substr(0, platform.find(':'));
    if (name.rfind("xcb", 0) == 0)
        return displayOption.empty() && Environment("DISPLAY").empty() ? "DISPLAY" : "";
    if (name.rfind("wayland", 0) == 0)
    {
        // Without WAYLAND_DISPLAY the client library tries the compositor's
        // default socket in the runtime folder.
        const std::string runtime = Environment("XDG_RUNTIME_DIR");
        const bool defaultSocket = !runtime.empty() && access((runtime + "/wayland-0").c_str(), F_OK) == 0;
        return Environment("WAYLAND_DISPLAY").empty() && Environment("WAYLAND_SOCKET").empty() &&
                       !defaultSocket
                   ? "WAYLAND_DISPLAY"
                   : "";
    }
    return "";
}

struct HeldMessage
{
    QtMsgType type;
    std::string category;
    QString text;
};

std::mutex g_heldLock;
std::vector<HeldMessage> g_held; // guarded by g_heldLock

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    std::lock_guard<std::mutex> lock(g_heldLock);
    if (type != QtFatalMsg)
    {
        g_held.push_back({type, context.category != nullptr ? context.category : "", text});
        return;
    }
    // The platform plugin said why before Qt gave up ("could not connect to
    // display :1"); Qt's own last words would advise reinstalling.
    std::string why = "no Qt platform plugin could start";
    const auto platform =
        std::find_if(g_held.begin(), g_held.end(),
                     [](const HeldMessage& held) { return held.category.rfind("qt.qpa", 0) == 0; });
    if (platform != g_held.end())
        why = platform->text.toStdString();
    std::fprintf(stderr, "%s\n", NoGraphicalSessionLine(why).c_str());
    std::fflush(stderr);
    _exit(kNoGraphicalSessionStatus);
}
} // namespace

std::string MissingGraphicalSession(const std::vector<std::string>& args)
{
    std::string platforms;
    std::string displayOption;
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
    {
        if (args[i] == "-platform" || args[i] == "--platform")
            platforms = args[i + 1];
        else if (args[i] == "-display" || args[i] == "--display")
            displayOption = args[i + 1];
    }
    if (platforms.empty())
        platforms = Environment("QT_QPA_PLATFORM");
    if (platforms.empty())
        platforms = Environment("XDG_SESSION_TYPE") == "wayland" ? "wayland;xcb" : "xcb";
    std::vector<std::string> lacking;
    for (std::size_t start = 0; start != std::string::npos;)
    {
        const std::size_t end = platforms.find(';', start);
        const std::string platform = platforms.substr(start, end - start);
        start = end == std::string::npos ? end : end + 1;
        if (platform.empty())
            continue;
        const std::string variable = Lacking(platform, displayOption);
        if (variable.empty())
            return std::string();
        if (std::find(lacking.begin(), lacking.end(), variable) == lacking.end())
            lacking.push_back(variable);
    }
    if (lacking.empty())
        return std::string(); // no platform named at all: Qt's to say
    return lacking.size() == 1 ? lacking[0] + " is not set"
                               : "neither " + lacking[0] + " nor " + lacking[1] + " is set";
}

std::string NoGraphicalSessionLine(const std::string& why)
{
    return "nasfinder: the window needs a graphical session (" + why +
           "); without one, search with nasfinder-scan, or ./run.sh --scan in the source tree";
}

PlatformFailureGuard::PlatformFailureGuard() : m_Previous(qInstallMessageHandler(&HoldMessage)) {}

PlatformFailureGuard::~PlatformFailureGuard()
{
    qInstallMessageHandler(m_Previous);
    std::vector<HeldMessage> held;
    {
        std::lock_guard<std::mutex> lock(g_heldLock);
        held.swap(g_held);
    }
    for (const HeldMessage& message : held)
    {
        const QMessageLogger logger(nullptr, 0, nullptr, message.category.c_str());
        const QByteArray text = message.text.toLocal8Bit();
        switch (message.type)
        {
        case QtDebugMsg:
            logger.debug("%s", text.constData());
            break;
        case QtInfoMsg:
            logger.info("%s", text.constData());
            break;
        case QtWarningMsg:
            logger.warning("%s", text.constData());
            break;
        case QtCriticalMsg:
        case QtFatalMsg:
            logger.critical("%s", text.constData());
            break;
        }
    }
}
