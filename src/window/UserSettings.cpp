#include "UserSettings.h"

#include "OwnFolder.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <fcntl.h>

#include <memory>
#include <mutex>

namespace
{
const char kFolderName[] = "nasfinder";
const char kFileName[] = "nasfinder.conf";
// QSettings takes a QLockFile of this name beside the file, and reads what it
// finds there.
const char kLockName[] = "nasfinder.conf.lock";

// Why the name in the folder may not be read or written; empty when it may.
QString RefusalOfFile(int folder, const QString& path, const char* name)
{
    nasfinder::Descriptor fd;
    std::string error;
    switch (nasfinder::OpenRegularFileAt(folder, name, O_RDONLY, 0, fd, error))
    {
    case nasfinder::FileAt::Opened:
    case nasfinder::FileAt::Missing:
        return QString();
    case nasfinder::FileAt::NotRegular:
        return QStringLiteral("%1/%2 is not a regular file").arg(path, QString::fromLatin1(name));
    case nasfinder::FileAt::Failed:
        break;
    }
    return QStringLiteral("cannot open %1/%2: %3")
        .arg(path, QString::fromLatin1(name), QString::fromStdString(error));
}

// The settings of this run when the user's file may not be used: in a
// private folder (mode 0700) of the process, under $XDG_RUNTIME_DIR (memory)
// where that is the user's own, removed when the program ends.
QString FileForThisRun()
{
    static std::unique_ptr<QTemporaryDir> folder;
    if (!folder)
    {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        const bool own =
            runtime.startsWith(QLatin1Char('/')) &&
            nasfinder::OpenOwnFolder(QFile::encodeName(runtime).toStdString(), false).fd.get() >= 0;
        folder = std::make_unique<QTemporaryDir>((own ? runtime : QDir::tempPath()) +
                                                 QStringLiteral("/nasfinder-settings-XXXXXX"));
    }
    return folder->isValid() ? folder->filePath(QString::fromLatin1(kFileName)) : QString();
}
} // namespace

SettingsPlace ChooseSettingsPlace(const QString& configHome)
{
    SettingsPlace place;
    const QString path = configHome + QLatin1Char('/') + QString::fromLatin1(kFolderName);
    // Made here, private, rather than by QSettings at its first write with
    // whatever the umask gives, which may let the group write in it.
    const nasfinder::OwnFolder folder = nasfinder::OpenOwnFolder(QFile::encodeName(path).toStdString(), true);
    if (!folder.error.empty())
        place.refusal = QString::fromStdString(folder.error);
    else
    {
        place.refusal = RefusalOfFile(folder.fd.get(), path, kFileName);
        if (place.refusal.isEmpty())
            place.refusal = RefusalOfFile(folder.fd.get(), path, kLockName);
    }
    if (place.refusal.isEmpty())
        place.file = path + QLatin1Char('/') + QString::fromLatin1(kFileName);
    return place;
}

QSettings UserSettings()
{
    static std::once_flag chosen;
    static SettingsPlace place;
    std::call_once(
        chosen,
        []
        {
            place =
                ChooseSettingsPlace(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
            if (!place.refusal.isEmpty())
            {
                place.file = FileForThisRun();
                qWarning("nasfinder: %s; the settings are kept for this run only", qPrintable(place.refusal));
            }
        });
    // The user's own file as Qt names it, which also reads the system's
    // defaults below it.
    if (place.refusal.isEmpty())
        return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("nasfinder"),
                         QStringLiteral("nasfinder"));
    return QSettings(place.file, QSettings::NativeFormat);
}
