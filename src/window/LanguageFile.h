// The language file: which file the user's languages choose, what its parse
// makes of it (the language table, or an error), and how an entry's font and
// size text become a font.
#ifndef NASFINDER_LANGUAGEFILE_H
#define NASFINDER_LANGUAGEFILE_H

#include "FontNode.h"

#include <QByteArray>
#include <QFont>
#include <QMetaType>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Element names.
extern const QString kEntryElementName; // "NODE"
extern const QString kLinkElementName;  // "KEY"
extern const QString kRootElementName;  // "LanguageCFG"

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

// The font an entry names at its size, or none when the entry names no font
// or the system has no family of that name. Size 0 (absent, not a number)
// keeps the default size; sizes are capped at kMaxFontPoints so a broken file
// cannot ask for a font the size of a house.
constexpr double kMaxFontPoints = 200.0;
std::optional<QFont> FontForEntry(const FontNode& entry);

// Resource name ("XML_ch", "XML_tl", "XML_en", "XML_de", ...) for the user's
// preferred languages, most preferred first. Only the first counts. It may be a
// language tag ("de-AT") or a locale name ("de_CH.UTF-8"); a language with a
// file of its own is matched by its language subtag alone, so "pt-PT" gets the
// Brazilian file. "zh-Hant...", "zh-TW", "zh-HK" and "zh-MO" give traditional
// Chinese; everything else, "C" and an empty list give simplified Chinese.
QString LanguageResourceName(const QStringList& preferredLanguages);

// The preferred languages as desktop programs read them from the environment:
// the entries of LANGUAGE when it names any, otherwise the first of LC_ALL,
// LC_MESSAGES and LANG that is set and not empty; no language when none is.
QStringList PreferredLanguages(const QProcessEnvironment& environment);

// Path of the resource "name.type" under dir, or a null string when there is none.
QString PathForResource(const QString& dir, const QString& name, const QString& type);

#endif
