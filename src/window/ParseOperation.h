// The language file: choosing it from the user's languages, parsing it into the
// language table on a worker thread, and the notices that tell the window the
// table is ready (or that the file was broken).
#ifndef NASFINDER_PARSEOPERATION_H
#define NASFINDER_PARSEOPERATION_H

#include "FontNode.h"

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

// Notice and element names.
extern const QString kReflashLanguage;        // "AddEarthquakesNotif": the table is complete
extern const QString kEarthquakesErrorNotif;  // "EarthquakeErrorNotif": the parse failed
extern const QString kEarthquakesMsgErrorKey; // user-data key of the error in the failure notice
extern const QString kEntryElementName;       // "NODE"
extern const QString kLinkElementName;        // "KEY"
extern const QString kRootElementName;        // "LanguageCFG"

// Error code of a parse that its own client stopped on purpose; such a stop is
// not a failure and raises no failure notice. Our parser never stops itself,
// but the code is reserved so that a future early stop stays quiet.
constexpr int kParseAbortedByClient = 512;

struct LanguageParseError
{
    int code = 0; // QXmlStreamReader::Error, or kParseAbortedByClient
    QString message;
    qint64 line = 0;
    qint64 column = 0;
};
Q_DECLARE_METATYPE(LanguageParseError)

struct LanguageParseResult
{
    LanguageTable table;
    // How many times a "LanguageCFG" element ended before the parser stopped:
    // once for a well-formed file, zero without such an element or when an
    // error came first. Each end is one completion notice.
    int completions = 0;
    std::optional<LanguageParseError> error;
};

// Parses a language file: bytes in, table and events out. No file, thread,
// clock or global is touched, so a fuzzer can call it directly. onKeyElement
// runs at the start of every "KEY" element. A document type declaration with
// an external identifier or declarations of its own, and an entity reference
// other than the five predefined ones, are fatal errors: the file never needs
// them, and refusing them rules out entity expansion bombs and external
// entities. A bare "<!DOCTYPE name>" is accepted.
LanguageParseResult ParseLanguageData(const QByteArray& data,
                                      const std::function<void()>& onKeyElement = std::function<void()>());

// Reads a "Size" text as a decimal number: leading white space is skipped and
// the longest leading decimal number is taken ("13.5pt" is 13.5); a text
// without one, or no text, is 0. Locale-independent on purpose: the decimal
// point of the language files is '.' whatever the user's locale says.
double ReadFontSize(const std::optional<QString>& text);

// Resource name ("XML_ch", "XML_tl" or "XML_en") for the user's preferred
// languages, most preferred first. Only the first counts, matched by language
// and script or region: "en" and "en-..." give English; "zh-Hant...", "zh-TW",
// "zh-HK" and "zh-MO" give traditional Chinese; everything else, and an empty
// list, gives simplified Chinese.
QString LanguageResourceName(const QStringList& preferredLanguages);

// Path of the resource "name.type" under dir, or a null string when there is none.
QString PathForResource(const QString& dir, const QString& name, const QString& type);

// A process-wide notice board: observers register for a name from any sender;
// a notice reaches each observer on the observer's own thread (directly when
// posted there, queued otherwise), so a notice posted by the parse thread is
// handled on the UI thread.
class NotificationCenter : public QObject
{
    Q_OBJECT
public:
    static NotificationCenter* defaultCenter();

    // Calls handler(sender, userInfo) in observer's thread for every notice of
    // that name; the registration ends when observer is destroyed.
    void addObserver(QObject* observer, const QString& name,
                     std::function<void(QObject* sender, const QVariantMap& userInfo)> handler);
    void postNotificationName(const QString& name, QObject* sender,
                              const QVariantMap& userInfo = QVariantMap());

signals:
    void posted(const QString& name, QObject* sender, const QVariantMap& userInfo);
};

// A background queue: each operation runs once on a worker thread of its own.
// Used from one thread only; waiting (and destruction) joins every worker, so
// whatever an operation wrote is visible to the waiting thread afterwards.
class OperationQueue
{
public:
    OperationQueue() = default;
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;
    ~OperationQueue() { waitUntilAllOperationsAreFinished(); }

    void addOperation(std::function<void()> operation) { workers.emplace_back(std::move(operation)); }
    void waitUntilAllOperationsAreFinished()
    {
        for (std::thread& worker : workers)
        {
            if (worker.joinable())
                worker.join();
        }
    }

private:
    std::vector<std::thread> workers;
};

// One parse of one language file. Created on the UI thread with a copy of the
// file; main() runs once on a worker thread. The table is published only when
// the parser has stopped: until then entry() finds nothing, afterwards the
// table never changes again, so the UI thread reads it without a lock.
class ParseOperation : public QObject
{
    Q_OBJECT
public:
    explicit ParseOperation(const QByteArray& data, QObject* parent = nullptr);

    void main();

    bool isFinished() const { return finished.load(std::memory_order_acquire); }
    std::optional<FontNode> entry(const QString& key) const;
    std::size_t entryCount() const;

    // Runs on the UI thread: posts the failure notice with the error.
    void handleEarthquakesError(const LanguageParseError& error);

signals:
    // Emitted last by main(), after every notice of the parse was posted.
    void parseFinished();

private:
    const QByteArray earthquakeData;
    LanguageTable currentParseBatchDic; // written by main() only, before `finished`
    std::atomic<bool> finished{false};
};

#endif
