// The file of known devices as text: a JSON object with the format's version
// and the list, one device a line, read and written with nlohmann-json.
// Encode and decode are pure; the reader takes the JSON this writes, keeps the
// members it does not know, and refuses anything else with a reason.
#ifndef NASFINDER_KNOWNSTOREFORMAT_H
#define NASFINDER_KNOWNSTOREFORMAT_H

#include "KnownDevices.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nasknown
{
constexpr int kStoreFormatVersion = 1;
// Far above 1,024 devices with room for members a newer version adds; a file
// larger than this is not a store.
constexpr std::size_t kMaxStoreBytes = 4u << 20;
// Nesting of the values kept unknown, within a device or beside the list;
// a file nested deeper is refused before the value is built.
constexpr int kMaxJsonDepth = 32;
// Members of one object, the store's, a device's or one kept unknown: far
// above the members a device has, with room for those a newer version adds.
constexpr std::size_t kMaxMembers = 256;
// Longest text of a known member.
constexpr std::size_t kMaxFieldBytes = 255;

struct StoreContents
{
    std::vector<KnownDevice> devices;
    // The top level's members besides "version" and "devices".
    UnknownMembers unknown;
};

struct DecodeResult
{
    std::optional<StoreContents> contents; // nothing when the text is no store
    std::string error;                     // why, in one line, with where
};

DecodeResult DecodeStore(const std::string& text);
std::string EncodeStore(const StoreContents& contents);

// "2026-12-07T20:40:08Z" and back; only this form is read.
std::string IsoTimeText(std::int64_t secondsSinceEpoch);
std::optional<std::int64_t> ParseIsoTime(const std::string& text);
} // namespace nasknown

#endif
