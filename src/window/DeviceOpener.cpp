#include "DeviceOpener.h"

#include "Captions.h"
#include "TerminalText.h"

#include <linux/close_range.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>
#include <QUrl>

namespace
{
// The address the user asked to open, and why it was not.
const char kNotOpenedKey[] = "Not Opened";
const char kNotOpenedText[] = "Not opened: %1";
const char kCannotOpenKey[] = "Cannot Open";
const char kCannotOpenText[] = "The desktop could not open %1; open it by hand.";
} // namespace

QByteArray Inert(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    return QByteArray::fromStdString(
        nasfinder::TerminalText(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

QString OpenDeviceAddress(const QString& scheme, const QString& address, NameResolver resolve,
                          const Captions& captions, DesktopOpener opener, QObject* owner,
                          const std::function<void(const QString&)>& failedLater)
{
    // A name is looked up once, here, and the URL gets the address that was
    // checked: the browser's own look-up could otherwise lead to this computer.
    const OpenTarget target = CheckedOpenTarget(address, LocalInterfacesNow(), resolve);
    if (target.address.isEmpty())
    {
        qWarning("not opening %s for \"%s\": %s", qPrintable(scheme), Inert(address).constData(),
                 Inert(target.refusal).constData());
        return Filled(captions.Text(kNotOpenedKey, kNotOpenedText),
                      QStringLiteral("%1 (%2)").arg(address, target.refusal));
    }
    const QUrl url(scheme + QStringLiteral("://") + target.address, QUrl::StrictMode);
    if (!url.isValid())
    {
        qWarning("not opening %s for \"%s\": %s", qPrintable(scheme), Inert(address).constData(),
                 Inert(url.errorString()).constData());
        return Filled(captions.Text(kNotOpenedKey, kNotOpenedText),
                      QStringLiteral("%1 (%2)").arg(address, url.errorString()));
    }
    const QString cannotOpen = Filled(captions.Text(kCannotOpenKey, kCannotOpenText), url.toString());
    if (opener == DesktopOpener::QtServices)
    {
        // False where the desktop has nothing to open the address with.
        if (QDesktopServices::openUrl(url))
            return QString();
        qWarning("the desktop could not open %s", qPrintable(url.toString()));
        return cannotOpen;
    }
    // xdg-open may run as long as the program it starts (a browser): its end
    // is awaited without holding up the window.
    auto* process = new QProcess(owner);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    const QString shown = url.toString();
    const auto failed = [process, shown, cannotOpen, failedLater](const char* why)
    {
        qWarning("the desktop could not open %s: %s", qPrintable(shown), why);
        failedLater(cannotOpen);
        process->deleteLater();
    };
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, failed](QProcess::ProcessError error)
                     {
                         if (error == QProcess::FailedToStart)
                             failed(qPrintable(process->errorString()));
                     });
    QObject::connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), process,
                     [process, failed](int code, QProcess::ExitStatus status)
                     {
                         if (status != QProcess::NormalExit || code != 0)
                             failed(qPrintable(QStringLiteral("xdg-open ended with status %1").arg(code)));
                         else
                             process->deleteLater();
                     });
    // Only standard input, output and error go to xdg-open and the browser it
    // starts, which may outlive the window: never a descriptor of the window's
    // own, whoever opened it without close-on-exec.
    process->setChildProcessModifier(
        [] { ::syscall(SYS_close_range, 3u, ~0u, static_cast<unsigned int>(CLOSE_RANGE_CLOEXEC)); });
    process->start(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)});
    return QString();
}

DesktopOpener DefaultDesktopOpener()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN) && !defined(Q_OS_ANDROID)
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland")))
        return DesktopOpener::XdgOpen;
#endif
    return DesktopOpener::QtServices;
}
