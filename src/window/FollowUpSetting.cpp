#include "FollowUpSetting.h"

#include "SearchAddresses.h"

#include <QSettings>

namespace
{
const char kSettingKey[] = "search/followUps";
} // namespace

const char kFollowUpsKey[] = "Search Known Devices";
const char kFollowUpsText[] = "Search known devices that do not answer at their last address";

bool LoadFollowUps()
{
    return NasfinderSettings().value(QString::fromLatin1(kSettingKey), true).toBool();
}

void SaveFollowUps(bool on)
{
    SaveSetting(kSettingKey, on);
}
