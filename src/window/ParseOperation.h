// One parse of one language file on a worker thread, and the notices that tell
// the window the table is ready (or that the file was broken).
#ifndef NASFINDER_PARSEOPERATION_H
#define NASFINDER_PARSEOPERATION_H

#include "LanguageFile.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstddef>
#include <optional>

// Notice names (the texts are the notices' own).
extern const QString kReflashLanguage;     // "AddEarthquakesNotif": the table is complete
extern const QString kLanguageErrorNotice; // "EarthquakeErrorNotif": the parse failed
extern const QString kLanguageErrorKey;    // user-data key of the error in the failure notice

// Created on the UI thread with a copy of the file; main() runs once on a
// worker thread. The table is published only when the parser has stopped:
// until then entry() finds nothing, afterwards the table never changes again,
// so the UI thread reads it without a lock.
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
    void handleParseError(const LanguageParseError& error);

private:
    const QByteArray fileData;
    LanguageTable currentParseBatchDic; // written by main() only, before `finished`
    std::atomic<bool> finished{false};
};

#endif
