#include "DeviceOpener.h"

#include "Captions.h"

#include <QDesktopServices>
#include <QUrl>

namespace
{
// The address the user asked to open, and why it was not.
const char kNotOpenedKey[] = "Not Opened";
const char kNotOpenedText[] = "Not opened: %1";
const char kCannotOpenKey[] = "Cannot Open";
const char kCannotOpenText[] = "The desktop could not open %1; open it by hand.";
} // namespace

QString OpenDeviceAddress(const QString& scheme, const QString& address, NameResolver resolve,
                          const Captions& captions)
{
    // A name is looked up once, here, and the URL gets the address that was
    // checked: the browser's own look-up could otherwise lead to this computer.
    const OpenTarget target = CheckedOpenTarget(address, OwnIPv4Addresses(), resolve);
    if (target.address.isEmpty())
    {
        qWarning("not opening %s for \"%s\": %s", qPrintable(scheme), qPrintable(address),
                 qPrintable(target.refusal));
        return Filled(captions.Text(kNotOpenedKey, kNotOpenedText),
                      QStringLiteral("%1 (%2)").arg(address, target.refusal));
    }
    const QUrl url(scheme + QStringLiteral("://") + target.address, QUrl::StrictMode);
    if (!url.isValid())
    {
        qWarning("not opening %s for \"%s\": %s", qPrintable(scheme), qPrintable(address),
                 qPrintable(url.errorString()));
        return Filled(captions.Text(kNotOpenedKey, kNotOpenedText),
                      QStringLiteral("%1 (%2)").arg(address, url.errorString()));
    }
    // False where the desktop has nothing to open the address with.
    if (QDesktopServices::openUrl(url))
        return QString();
    qWarning("the desktop could not open %s", qPrintable(url.toString()));
    return Filled(captions.Text(kCannotOpenKey, kCannotOpenText), url.toString());
}
