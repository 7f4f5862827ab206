#include "Captions.h"

#include "DeviceTable.h"
#include "LanguageLoad.h"

#include <iterator>

namespace
{
// The keys of everything but the table's columns.
const char* const kControlCaptionKeys[] = {
    "Log In",
    "Refresh",
    "My storage",
    "Device List",
    "Search Time",
    "Open Web Page",
    "Open File Share",
    "Copy Address",
    "Rows Shown",
    "Broadcast Unavailable",
    "Broadcast Helper Missing",
    "Broadcast Helper Not Allowed",
    "Broadcast Port Busy",
    "List Full",
    "Not Opened",
    "Addresses",
    "Search Addresses",
    "Search Addresses Note",
    "Search Known Devices",
    "Add",
    "Remove",
    "Not A Device Address",
    "Interface Loopback",
    "Interface Down",
    "Interface Without Address",
    "Interface Without Broadcast",
    "Cannot Open",
    "Firewall Hint",
    "No Interface",
    "Language File Incomplete",
    "Seen Now",
    "Under A Minute",
    "Minute Ago",
    "Minutes Ago",
    "Hour Ago",
    "Hours Ago",
    "Day Ago",
    "Days Ago",
    "Waking",
    "Wake",
    "Forget",
    "Show Not Answering",
    "Known Not Kept",
    "Woken",
    "Not Woken",
    "Cannot Wake",
    "Wake Not Sent",
    "Looking Up",
    "Name Not Resolved",
    "Rows Shown Filtered",
    "Filter",
    "Details",
    "Copy",
    "Close",
    "Save List",
    "List Saved",
    "List Not Saved",
};
} // namespace

const std::vector<const char*>& WindowCaptionKeys()
{
    static const std::vector<const char*> keys = []
    {
        std::vector<const char*> all;
        for (const DeviceColumn& column : kDeviceColumns)
            all.push_back(column.captionKey);
        all.insert(all.end(), std::begin(kControlCaptionKeys), std::end(kControlCaptionKeys));
        return all;
    }();
    return keys;
}

std::optional<FontNode> Captions::Entry(const QString& key) const
{
    return m_language != nullptr ? m_language->entry(key) : std::nullopt;
}

QString Captions::Text(const char* key, const char* english) const
{
    const std::optional<FontNode> entry = Entry(QString::fromLatin1(key));
    return entry && entry->String ? *entry->String : QString::fromUtf8(english);
}

std::optional<QFont> Captions::Font(const char* key) const
{
    const std::optional<FontNode> entry = Entry(QString::fromLatin1(key));
    return entry ? FontForEntry(*entry) : std::nullopt;
}

std::size_t Captions::KeysFound() const
{
    std::size_t found = 0;
    for (const char* key : WindowCaptionKeys())
        found += Entry(QString::fromLatin1(key)) ? 1 : 0;
    return found;
}

void ApplyCaption(const std::optional<FontNode>& entry, const std::function<void(const QString&)>& setText,
                  const std::function<void(const QFont&)>& setFont)
{
    if (!entry)
        return;
    if (entry->String)
        setText(*entry->String);
    if (const std::optional<QFont> font = FontForEntry(*entry))
        setFont(*font);
}

QString Filled(const QString& caption, const QStringList& values)
{
    QString filled = caption;
    // From the last, so that %1 is not taken for the start of %10.
    for (qsizetype i = values.size(); i > 0; --i)
        filled.replace(QLatin1Char('%') + QString::number(i), values.at(i - 1));
    return filled;
}

QString Filled(const QString& caption, const QString& value)
{
    return Filled(caption, QStringList{value});
}

QString IncompleteLanguageFileText(const Captions& captions)
{
    const QString text =
        captions.Text("Language File Incomplete",
                      "The language file lacks captions: it has %1 of the %2 that the window shows. The "
                      "missing ones are shown in English or left as they are.");
    return Filled(text, {QString::number(captions.KeysFound()), QString::number(WindowCaptionKeys().size())});
}
