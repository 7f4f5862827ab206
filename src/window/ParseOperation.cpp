#include "ParseOperation.h"

#include "NotificationCenter.h"

#include <QMetaObject>
#include <QVariantMap>
#include <QtGlobal>

const QString kReflashLanguage = QStringLiteral("AddEarthquakesNotif");
const QString kLanguageErrorNotice = QStringLiteral("EarthquakeErrorNotif");
const QString kLanguageErrorKey = QStringLiteral("EarthquakesMsgErrorKey");

ParseOperation::ParseOperation(const QByteArray& data, QObject* parent) : QObject(parent), fileData(data) {}

void ParseOperation::main()
{
    LanguageParseResult result =
        ParseLanguageData(fileData, [] { qInfo("KEY1=%s", qPrintable(kLinkElementName)); });
    currentParseBatchDic = std::move(result.table);
    finished.store(true, std::memory_order_release);

    // Observers run on their own (UI) thread and read the table there, so the
    // notices go out only now that it is published.
    for (int i = 0; i < result.completions; ++i)
        NotificationCenter::defaultCenter()->postNotificationName(kReflashLanguage, this);
    if (result.error && result.error->code != kParseAbortedByClient)
    {
        const LanguageParseError error = *result.error;
        QMetaObject::invokeMethod(
            this, [this, error] { handleParseError(error); }, Qt::QueuedConnection);
    }
}

std::optional<FontNode> ParseOperation::entry(const QString& key) const
{
    if (!isFinished())
        return std::nullopt;
    const auto it = currentParseBatchDic.find(key);
    if (it == currentParseBatchDic.end())
        return std::nullopt;
    return it->second;
}

std::size_t ParseOperation::entryCount() const
{
    return isFinished() ? currentParseBatchDic.size() : 0;
}

void ParseOperation::handleParseError(const LanguageParseError& error)
{
    qWarning("language file: line %lld, column %lld: %s", static_cast<long long>(error.line),
             static_cast<long long>(error.column), qPrintable(error.message));
    NotificationCenter::defaultCenter()->postNotificationName(
        kLanguageErrorNotice, this, QVariantMap{{kLanguageErrorKey, QVariant::fromValue(error)}});
}
