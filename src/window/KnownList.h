// The known devices in the window: the greyed rows of those that did not
// answer this search, how long ago each was seen, and the setting that
// shows them.
#ifndef NASFINDER_KNOWNLIST_H
#define NASFINDER_KNOWNLIST_H

#include "DeviceTable.h"
#include "KnownDevices.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <vector>

class Captions;
struct deviceinfo;

// How long ago a device that did not answer was seen, in the file's language:
// "less than a minute ago", then whole minutes, hours or days ("3 days ago").
QString LastSeenText(const Captions& captions, std::int64_t lastSeen, std::int64_t now);
QString SeenNowText(const Captions& captions);
// What a row says while its device is being woken: "Waking… 40 s".
QString WakingText(const Captions& captions, qint64 seconds);

// The known devices that are not in `live` (matched by vendor and id), the
// one seen last first.
std::vector<const nasknown::KnownDevice*> NotAnswering(const std::vector<nasknown::KnownDevice>& known,
                                                       const std::vector<deviceinfo>& live);
// Whether the two lists make the same rows of devices not answering.
bool SameNotAnswering(const std::vector<nasknown::KnownDevice>& before,
                      const std::vector<nasknown::KnownDevice>& after, const std::vector<deviceinfo>& live);

// A row for each known device that is not in `live` (matched by vendor and
// id), the one seen last first.
QList<DeviceRow> NotAnsweringRows(const std::vector<nasknown::KnownDevice>& known,
                                  const std::vector<deviceinfo>& live, const Captions& captions,
                                  std::int64_t now);

// "Show devices not answering", kept in the user's settings; on by default.
bool LoadShowNotAnswering();
void SaveShowNotAnswering(bool show);

#endif
