#include "LanguageLoad.h"

#include <QFile>
#include <QtConcurrent/QtConcurrentRun>
#include <QtGlobal>

LanguageLoad::LanguageLoad(QObject* parent) : QObject(parent)
{
    connect(&m_watcher, &QFutureWatcher<LanguageParseResult>::finished, this, &LanguageLoad::parsed);
}

LanguageLoad::~LanguageLoad()
{
    // The parse reads only its own copy of the file, but it may not outlive
    // the watcher that waits for it.
    m_watcher.waitForFinished();
}

void LanguageLoad::start(const QStringList& preferredLanguages, const QString& resourceDir)
{
    // Once per run in the window; a second start (a test's) begins afresh.
    m_watcher.waitForFinished();
    m_table.clear();
    m_started = false;
    m_finished = false;
    qInfo("current=%s", preferredLanguages.isEmpty() ? "(null)" : qPrintable(preferredLanguages.first()));
    const QString path =
        PathForResource(resourceDir, LanguageResourceName(preferredLanguages), QStringLiteral("xml"));
    QFile file(path);
    if (!path.isNull() && file.open(QIODevice::ReadOnly))
    {
        m_started = true;
        m_watcher.setFuture(QtConcurrent::run(
            [data = file.readAll()]
            { return ParseLanguageData(data, [] { qInfo("KEY1=%s", qPrintable(kLinkElementName)); }); }));
    }
    qInfo("fileToOpen = %s", path.isNull() ? "(null)" : qPrintable(path));
}

std::optional<FontNode> LanguageLoad::entry(const QString& key) const
{
    const auto it = m_table.find(key);
    if (it == m_table.end())
        return std::nullopt;
    return it->second;
}

void LanguageLoad::waitForFinished()
{
    m_watcher.waitForFinished();
    // The watcher's signal comes through the event loop; a test that waits
    // here has none running.
    if (m_started && !m_finished)
        parsed();
}

void LanguageLoad::parsed()
{
    if (m_finished)
        return;
    m_finished = true;
    LanguageParseResult result = m_watcher.result();
    m_table = std::move(result.table);
    for (int i = 0; i < result.completions; ++i)
        emit loaded();
    if (result.error && result.error->code != kParseAbortedByClient)
    {
        qWarning("language file: line %lld, column %lld: %s", static_cast<long long>(result.error->line),
                 static_cast<long long>(result.error->column), qPrintable(result.error->message));
        emit failed(*result.error);
    }
}
