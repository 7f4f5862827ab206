// Opening a device's web page or file share with the desktop: the address is
// checked (and a name looked up, once) before it goes into the URL, and what
// could not be opened is said in words the user can act on.
#ifndef NASFINDER_DEVICEOPENER_H
#define NASFINDER_DEVICEOPENER_H

#include "DeviceAddress.h"

#include <QByteArray>
#include <QString>

#include <functional>

class Captions;
class QObject;
class QUrl;

// How the desktop is asked to open a URL. Qt's services start xdg-open and say
// only whether it started; xdg-open itself fails (exit status not 0) where
// the desktop has no program for the scheme, so on a Linux desktop the
// window runs it and reads its exit status.
enum class DesktopOpener
{
    QtServices,
    XdgOpen,
};

// XdgOpen on an X11 or Wayland desktop of Linux and its kin, QtServices
// elsewhere (and without a desktop: offscreen).
DesktopOpener DefaultDesktopOpener();

// Opens scheme://address through the desktop. Returns the status line's
// notice, in the window's language: empty when the URL was handed to the
// desktop, otherwise why nothing was opened, naming the address. Where the
// desktop fails only later (xdg-open ends with an error), failedLater gets
// that notice then; a process it runs is a child of owner.
QString OpenDeviceAddress(const QString& scheme, const QString& address, NameResolver resolve,
                          const Captions& captions, DesktopOpener opener, QObject* owner,
                          const std::function<void(const QString&)>& failedLater);

// A device's text (an address as it sent it) made safe for the terminal that
// shows the window's diagnostic lines.
QByteArray Inert(const QString& text);

#endif
