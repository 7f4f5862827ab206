// Fuzzes the language file parse. The files ship with the application, but a
// damaged or replaced file must still give a clear result: a table and maybe an
// error, never a crash, a hang or an expansion that eats memory.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include "FuzzCheck.h"
#include "LanguageFile.h"

namespace
{
qsizetype Length(const std::optional<QString>& text)
{
    return text ? text->size() : 0;
}

qsizetype TextSize(const FontNode& node)
{
    return Length(node.KeyString) + Length(node.String) + Length(node.Font) + Length(node.FontColor) +
           Length(node.FontSize) + Length(node.FontOffset);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    std::size_t keyElements = 0;
    LanguageParseResult result = ParseLanguageData(bytes, [&keyElements] { ++keyElements; });

    qsizetype stored = 0;
    for (const auto& item : result.table)
    {
        const FontNode& node = item.second;
        FUZZ_CHECK(node.KeyString && *node.KeyString == item.first, "an entry is stored under its own key");
        stored += TextSize(node);
        double points = ReadFontSize(node.FontSize);
        FUZZ_CHECK(!std::isnan(points), "a font size is a number");
    }
    FUZZ_CHECK(result.table.size() <= keyElements, "every entry comes from a KEY element");
    // Attribute values are copied from the file; with entity declarations
    // refused, nothing can make the table larger than the file itself.
    FUZZ_CHECK(stored <= static_cast<qsizetype>(size), "the table never outgrows the file");
    FUZZ_CHECK(result.completions >= 0, "completions count ends of the root element");
    if (result.error)
        FUZZ_CHECK(result.error->code != 0 && !result.error->message.isEmpty(), "an error says what it is");

    // The same bytes as a preferred-languages list.
    const QStringList languages = QString::fromLatin1(bytes.left(64)).split(u',');
    const QString name = LanguageResourceName(languages);
    static const QRegularExpression fileName(QStringLiteral("^XML_[a-z]{2}$"));
    FUZZ_CHECK(fileName.match(name).hasMatch(), "a language file's name is chosen, never a path");
    return 0;
}
