// Whether the window has a graphical session to open on, asked before
// QApplication exists: without one, Qt's platform plugin ends the process with
// an abort and advice about reinstalling that does not apply.
#ifndef NASFINDER_GRAPHICALSESSION_H
#define NASFINDER_GRAPHICALSESSION_H

#include <QtGlobal>

#include <string>
#include <vector>

// The window's exit status when there is no graphical session to open on.
constexpr int kNoGraphicalSessionStatus = 3;

// Empty when a platform that Qt will try may open: the one named by -platform,
// else by QT_QPA_PLATFORM, else xcb (Wayland first in a Wayland session). A
// list ("wayland;xcb") may open when one of its platforms may; xcb needs
// DISPLAY (or -display), Wayland WAYLAND_DISPLAY (or its default socket), and
// any other platform (offscreen, vnc, ...) is left to Qt. Otherwise why not,
// as "DISPLAY is not set".
std::string MissingGraphicalSession(const std::vector<std::string>& args);

// The one line that says so, with the way to search without a window; the
// same words as ./run.sh's.
std::string NoGraphicalSessionLine(const std::string& why);

// While it lives, Qt's messages are held back; a platform plugin that fails
// (a display named but not there) then ends the process with the line above,
// the plugin's own reason as why, and kNoGraphicalSessionStatus, instead of
// Qt's abort. Made just before QApplication, ended once it exists, which
// lets the held messages through.
class PlatformFailureGuard
{
public:
    PlatformFailureGuard();
    ~PlatformFailureGuard();
    PlatformFailureGuard(const PlatformFailureGuard&) = delete;
    PlatformFailureGuard& operator=(const PlatformFailureGuard&) = delete;

private:
    QtMessageHandler m_Previous;
};

#endif
