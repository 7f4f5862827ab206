#include "LanguageFile.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QHash>
#include <QMutex>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>

const QString kEntryElementName = QStringLiteral("NODE");
const QString kLinkElementName = QStringLiteral("KEY");
const QString kRootElementName = QStringLiteral("LanguageCFG");

namespace
{

// Receives the parser's events in document order and builds the table.
class LanguageFileHandler
{
public:
    explicit LanguageFileHandler(const std::function<void()>& onKeyElement) : onKeyElement(onKeyElement) {}

    void didStartElement(QStringView name, const QXmlStreamAttributes& attributes)
    {
        if (name == kEntryElementName)
        {
            currentNode = FontNode();
        }
        else if (name == kLinkElementName)
        {
            if (onKeyElement)
                onKeyElement();
            // A "KEY" outside any "NODE" has nowhere to go.
            if (!currentNode)
                return;
            // Every member is set again, so a second "KEY" in one "NODE" also
            // clears what only the first one had.
            FontNode& node = *currentNode;
            node.KeyString = attribute(attributes, QStringLiteral("KeyString"));
            node.String = attribute(attributes, QStringLiteral("String"));
            node.Font = attribute(attributes, QStringLiteral("Font"));
            node.FontColor = attribute(attributes, QStringLiteral("Color"));
            node.FontSize = attribute(attributes, QStringLiteral("Size"));
            node.FontOffset = attribute(attributes, QStringLiteral("Offset"));
        }
    }

    void didEndElement(QStringView name)
    {
        if (name == kEntryElementName)
        {
            if (currentNode && currentNode->KeyString)
                result.table[*currentNode->KeyString] = *currentNode;
        }
        else if (name == kRootElementName)
        {
            ++result.completions;
        }
    }

    void parseErrorOccurred(const QXmlStreamReader& reader)
    {
        LanguageParseError error;
        error.code = static_cast<int>(reader.error());
        error.message = reader.errorString();
        error.line = reader.lineNumber();
        error.column = reader.columnNumber();
        result.error = error;
    }

    LanguageParseResult result;

private:
    static std::optional<QString> attribute(const QXmlStreamAttributes& attributes, const QString& name)
    {
        // Matched by the name as written: namespace processing is off.
        for (const QXmlStreamAttribute& a : attributes)
        {
            if (a.qualifiedName() == name)
                return a.value().toString();
        }
        return std::nullopt;
    }

    std::function<void()> onKeyElement;
    std::optional<FontNode> currentNode;
};

bool isAsciiDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

} // namespace

LanguageParseResult ParseLanguageData(const QByteArray& data, const std::function<void()>& onKeyElement)
{
    LanguageFileHandler handler(onKeyElement);
    QXmlStreamReader reader(data);
    reader.setNamespaceProcessing(false);
    while (!reader.atEnd())
    {
        switch (reader.readNext())
        {
        case QXmlStreamReader::StartElement:
            handler.didStartElement(reader.qualifiedName(), reader.attributes());
            break;
        case QXmlStreamReader::EndElement:
            handler.didEndElement(reader.qualifiedName());
            break;
        case QXmlStreamReader::DTD:
            // A bare "<!DOCTYPE LanguageCFG>" declares nothing; an internal
            // subset or an external identifier is refused.
            if (!reader.dtdPublicId().isEmpty() || !reader.dtdSystemId().isEmpty() ||
                reader.text().contains(u'['))
                reader.raiseError(QStringLiteral("document type declarations are not accepted"));
            break;
        case QXmlStreamReader::EntityReference:
            reader.raiseError(QStringLiteral("entity references are not accepted"));
            break;
        default:
            // Character data, comments and processing instructions carry nothing.
            break;
        }
    }
    if (reader.hasError())
        handler.parseErrorOccurred(reader);
    return std::move(handler.result);
}

double ReadFontSize(const std::optional<QString>& text)
{
    if (!text)
        return 0.0;
    const QString& s = *text;
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (i < n && s.at(i).isSpace())
        ++i;
    const qsizetype start = i;
    if (i < n && (s.at(i) == u'+' || s.at(i) == u'-'))
        ++i;
    qsizetype digits = 0;
    while (i < n && isAsciiDigit(s.at(i)))
        ++i, ++digits;
    if (i < n && s.at(i) == u'.')
    {
        ++i;
        while (i < n && isAsciiDigit(s.at(i)))
            ++i, ++digits;
    }
    if (digits == 0)
        return 0.0;
    // An exponent counts only when digits follow it: "12e" is 12.
    if (i < n && (s.at(i) == u'e' || s.at(i) == u'E'))
    {
        qsizetype j = i + 1;
        if (j < n && (s.at(j) == u'+' || s.at(j) == u'-'))
            ++j;
        qsizetype expDigits = 0;
        while (j < n && isAsciiDigit(s.at(j)))
            ++j, ++expDigits;
        if (expDigits > 0)
            i = j;
    }
    // QString::toDouble is locale-independent; it gives an infinity on
    // overflow and 0 on underflow, which is what a caller clamps anyway.
    return s.mid(start, i - start).toDouble();
}

namespace
{
// Whether the system has a font family. Qt reads the system's families once,
// but answers each question through fontconfig's substitution rules, a large
// part of what showing the captions cost; a language file names the same few
// families for every caption, so each is asked once.
bool HasFontFamily(const QString& family)
{
    static QMutex lock;
    static QHash<QString, bool> answers;
    const QMutexLocker hold(&lock);
    const auto found = answers.constFind(family);
    if (found != answers.constEnd())
        return *found;
    const bool has = QFontDatabase::hasFamily(family);
    // A file naming a new family for each of its entries is not kept whole.
    if (answers.size() >= 256)
        answers.clear();
    answers.insert(family, has);
    return has;
}
} // namespace

std::optional<QFont> FontForEntry(const FontNode& entry)
{
    if (!entry.Font || !HasFontFamily(*entry.Font))
        return std::nullopt;
    QFont font(*entry.Font);
    const double size = ReadFontSize(entry.FontSize);
    if (size > 0.0)
        font.setPointSizeF(std::isfinite(size) ? std::min(size, kMaxFontPoints) : kMaxFontPoints);
    return font;
}

QString LanguageResourceName(const QStringList& preferredLanguages)
{
    static const QString simplified = QStringLiteral("XML_ch");
    // Languages with a file of their own, "XML_" followed by the subtag.
    static const char* const ownFiles[] = {"en", "de", "fr", "es", "it", "pt", "ru",
                                           "uk", "pl", "nl", "tr", "ja", "ko"};
    if (preferredLanguages.isEmpty())
        return simplified;
    // A locale name's codeset and modifier ("de_CH.UTF-8@euro") say nothing of
    // the language, and would end up in the region subtag.
    QString first = preferredLanguages.first();
    for (const QChar stop : {u'.', u'@'})
    {
        const qsizetype at = first.indexOf(stop);
        if (at >= 0)
            first.truncate(at);
    }
    first.replace(u'_', u'-');
    const QStringList subtags = first.split(u'-');
    const QString language = subtags.value(0).toLower();
    if (language == QLatin1String("zh") && subtags.size() > 1)
    {
        const QString second = subtags.at(1).toLower();
        if (second == QLatin1String("hant") || second == QLatin1String("tw") ||
            second == QLatin1String("hk") || second == QLatin1String("mo"))
            return QStringLiteral("XML_tl");
    }
    for (const char* own : ownFiles)
    {
        if (language == QLatin1String(own))
            return QStringLiteral("XML_") + language;
    }
    return simplified;
}

QStringList PreferredLanguages(const QProcessEnvironment& environment)
{
    // LANGUAGE wins even over a C locale, where gettext would ignore it: the
    // window has no untranslated texts to fall back on, only simplified
    // Chinese, so a language the user named is always the better choice.
    const QStringList listed = environment.value(QStringLiteral("LANGUAGE")).split(u':', Qt::SkipEmptyParts);
    if (!listed.isEmpty())
        return listed;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
    {
        const QString value = environment.value(QLatin1String(name));
        if (!value.isEmpty())
            return {value};
    }
    return {};
}

QString PathForResource(const QString& dir, const QString& name, const QString& type)
{
    const QString path = dir + u'/' + name + u'.' + type;
    return QFileInfo(path).isFile() ? path : QString();
}
