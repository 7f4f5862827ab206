#include "KnownList.h"

#include "Captions.h"
#include "KnownDevices.h"
#include "SearchAddresses.h"

#include <QSettings>

namespace
{
const char kShowSettingKey[] = "known/showNotAnswering";

struct Unit
{
    const char* oneKey;
    const char* oneText;
    const char* manyKey;
    const char* manyText;
};
// By nasknown::Elapsed::Unit, from Minutes on.
const Unit kUnits[] = {
    {"Minute Ago", "1 minute ago", "Minutes Ago", "%1 minutes ago"},
    {"Hour Ago", "1 hour ago", "Hours Ago", "%1 hours ago"},
    {"Day Ago", "1 day ago", "Days Ago", "%1 days ago"},
};

} // namespace

QString SeenNowText(const Captions& captions)
{
    return captions.Text("Seen Now", "now");
}

QString LastSeenText(const Captions& captions, std::int64_t lastSeen, std::int64_t now)
{
    const nasknown::Elapsed elapsed = nasknown::ElapsedSince(lastSeen, now);
    // "now" is for a device that answers; one that just stopped did so a
    // moment ago.
    if (elapsed.unit == nasknown::Elapsed::Now)
        return captions.Text("Under A Minute", "less than a minute ago");
    const Unit& unit = kUnits[elapsed.unit - nasknown::Elapsed::Minutes];
    if (elapsed.value == 1)
        return Filled(captions.Text(unit.oneKey, unit.oneText), QStringLiteral("1"));
    return Filled(captions.Text(unit.manyKey, unit.manyText), QString::number(elapsed.value));
}

QString WakingText(const Captions& captions, qint64 seconds)
{
    return Filled(captions.Text("Waking", "Waking\u2026 %1 s"), QString::number(seconds));
}

bool LoadShowNotAnswering()
{
    return NasfinderSettings().value(QString::fromLatin1(kShowSettingKey), true).toBool();
}

void SaveShowNotAnswering(bool show)
{
    SaveSetting(kShowSettingKey, show);
}
