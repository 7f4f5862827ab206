// One entry of a language file: the caption and font of one control, copied
// from the attributes of a "KEY" element. Every member may be absent, and an
// absent member is different from an empty one: an absent caption leaves the
// control's text alone, an empty one clears it.
#ifndef NASFINDER_FONTNODE_H
#define NASFINDER_FONTNODE_H

#include <QString>

#include <map>
#include <optional>

struct FontNode
{
    std::optional<QString> KeyString;
    std::optional<QString> String;
    std::optional<QString> Font;
    std::optional<QString> FontColor;  // kept with the entry, never applied
    std::optional<QString> FontSize;   // points, as text; read with ReadFontSize
    std::optional<QString> FontOffset; // kept with the entry, never applied
};

// The language table: entry key to entry, keys compared exactly.
using LanguageTable = std::map<QString, FontNode>;

#endif
