#include "CsvText.h"

#include "JsonText.h"

namespace nasfinder
{
std::string CsvField(const std::string& text)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::string field;
    field.reserve(text.size() + 3);
    bool quoted = false;
    if (!text.empty() && std::string("=+-@\t\r").find(text.front()) != std::string::npos)
    {
        field += '\'';
        quoted = true;
    }
    for (std::size_t i = 0; i < text.size();)
    {
        std::uint32_t cp = 0;
        const std::size_t n = DecodeUtf8(bytes, text.size(), i, cp);
        const bool lineData = cp == '\t' || cp == '\r' || cp == '\n';
        if (n == 0 || (IsControlCharacter(cp) && !lineData) || IsBidiControl(cp))
        {
            field += kUtf8Replacement;
            i += n == 0 ? 1 : n;
            continue;
        }
        quoted = quoted || cp == ',' || cp == '"' || cp == '\r' || cp == '\n';
        if (cp == '"')
            field += '"';
        field.append(text, i, n);
        i += n;
    }
    return quoted ? '"' + field + '"' : field;
}

std::string CsvRow(const std::vector<std::string>& fields)
{
    std::string row;
    for (std::size_t i = 0; i < fields.size(); ++i)
    {
        if (i != 0)
            row += ',';
        row += CsvField(fields[i]);
    }
    row += "\r\n";
    return row;
}
} // namespace nasfinder
