// The window's language file, read once at start and parsed on a worker
// thread. Its table reaches the UI thread whole when the parse has ended:
// until then every entry is missing, afterwards the table never changes.
#ifndef NASFINDER_LANGUAGELOAD_H
#define NASFINDER_LANGUAGELOAD_H

#include "LanguageFile.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>

class LanguageLoad : public QObject
{
    Q_OBJECT
public:
    explicit LanguageLoad(QObject* parent = nullptr);
    ~LanguageLoad() override;

    // Logs the first preferred language, chooses the file under resourceDir,
    // logs its path, and starts its parse when it can be read. Once per run.
    void start(const QStringList& preferredLanguages, const QString& resourceDir);

    // A file was read and its parse started.
    bool started() const { return m_started; }
    bool isFinished() const { return m_finished; }
    std::optional<FontNode> entry(const QString& key) const;
    std::size_t entryCount() const { return m_table.size(); }

    // Blocks until the parse has ended and its signals were sent (tests).
    void waitForFinished();

signals:
    // The table is complete: once for each end of the file's root element.
    void loaded();
    // The file is malformed; what the table holds is what came before.
    void failed(const LanguageParseError& error);

private:
    void parsed();

    QFutureWatcher<LanguageParseResult> m_watcher;
    LanguageTable m_table;
    bool m_started = false;
    bool m_finished = false;
};

#endif
