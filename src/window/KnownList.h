// The known devices in the window: how long ago one that did not answer was
// seen, and the setting that shows them.
#ifndef NASFINDER_KNOWNLIST_H
#define NASFINDER_KNOWNLIST_H

#include <QString>

#include <cstdint>

class Captions;

// How long ago a device that did not answer was seen, in the file's language:
// "less than a minute ago", then whole minutes, hours or days ("3 days ago").
QString LastSeenText(const Captions& captions, std::int64_t lastSeen, std::int64_t now);
QString SeenNowText(const Captions& captions);
// What a row says while its device is being woken: "Waking… 40 s".
QString WakingText(const Captions& captions, qint64 seconds);

// "Show devices not answering", kept in the user's settings; on by default.
bool LoadShowNotAnswering();
void SaveShowNotAnswering(bool show);

#endif
