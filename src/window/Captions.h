// The window's texts from the language file: an entry's text and font by its
// key, the English text where the file has none, and the window's controls
// captioned from entries.
#ifndef NASFINDER_CAPTIONS_H
#define NASFINDER_CAPTIONS_H

#include "FontNode.h"

#include <QFont>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

class LanguageLoad;

class Captions
{
public:
    // Nothing is found until the parse has ended; without one, never.
    explicit Captions(const LanguageLoad* language) : m_language(language) {}

    std::optional<FontNode> Entry(const QString& key) const;
    // The entry's text in the file's language, or the English text.
    QString Text(const char* key, const char* english) const;
    std::optional<QFont> Font(const char* key) const;

    // How many of the window's own keys the file has.
    std::size_t KeysFound() const;

private:
    const LanguageLoad* m_language;
};

// Every key the window asks the language file for: the table's columns'
// captions, then those of its other controls and texts.
const std::vector<const char*>& WindowCaptionKeys();

// The entry's text and font through the two setters; nothing without an entry.
void ApplyCaption(const std::optional<FontNode>& entry, const std::function<void(const QString&)>& setText,
                  const std::function<void(const QFont&)>& setFont);

template <class Control> void CaptionControl(Control* control, const std::optional<FontNode>& entry)
{
    ApplyCaption(
        entry, [control](const QString& text) { control->setText(text); },
        [control](const QFont& font) { control->setFont(font); });
}

// A caption's placeholders %1, %2, ... filled in with the values in order; a
// caption without them is shown as it is.
QString Filled(const QString& caption, const QStringList& values);
QString Filled(const QString& caption, const QString& value);

// What the window says of a language file that lacks captions (too few to
// caption the window): how many of its keys the file has, in the file's
// language where it has the entry, in English otherwise.
QString IncompleteLanguageFileText(const Captions& captions);

#endif
