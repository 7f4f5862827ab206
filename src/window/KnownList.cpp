#include "KnownList.h"

#include "Captions.h"
#include "SearchAddresses.h"
#include "SearchDeviceInfo.h"

#include <QSettings>

#include <algorithm>
#include <cstring>
#include <set>
#include <tuple>
#include <string>
#include <utility>

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

QString Utf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
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

std::vector<const nasknown::KnownDevice*> NotAnswering(const std::vector<nasknown::KnownDevice>& known,
                                                       const std::vector<deviceinfo>& live)
{
    std::set<std::pair<std::string, std::string>> answering;
    for (const deviceinfo& record : live)
        answering.emplace(std::string(record.factory, ::strnlen(record.factory, kDeviceFieldSize)),
                          std::string(record.id, ::strnlen(record.id, kDeviceFieldSize)));
    std::vector<const nasknown::KnownDevice*> silent;
    for (const nasknown::KnownDevice& device : known)
    {
        if (answering.count({device.vendor, device.id}) == 0)
            silent.push_back(&device);
    }
    std::stable_sort(silent.begin(), silent.end(),
                     [](const nasknown::KnownDevice* a, const nasknown::KnownDevice* b)
                     { return a->lastSeen > b->lastSeen; });
    return silent;
}

bool SameNotAnswering(const std::vector<nasknown::KnownDevice>& before,
                      const std::vector<nasknown::KnownDevice>& after, const std::vector<deviceinfo>& live)
{
    const std::vector<const nasknown::KnownDevice*> a = NotAnswering(before, live);
    const std::vector<const nasknown::KnownDevice*> b = NotAnswering(after, live);
    const auto shown = [](const nasknown::KnownDevice& d)
    { return std::tie(d.vendor, d.id, d.host, d.address, d.product, d.lastSeen, d.mac); };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&shown](const nasknown::KnownDevice* x, const nasknown::KnownDevice* y)
                      { return shown(*x) == shown(*y); });
}

QList<DeviceRow> NotAnsweringRows(const std::vector<nasknown::KnownDevice>& known,
                                  const std::vector<deviceinfo>& live, const Captions& captions,
                                  std::int64_t now)
{
    const std::vector<const nasknown::KnownDevice*> silent = NotAnswering(known, live);
    QList<DeviceRow> rows;
    for (const nasknown::KnownDevice* entry : silent)
    {
        const nasknown::KnownDevice& device = *entry;
        DeviceRow row;
        for (const DeviceColumn& column : kDeviceColumns)
        {
            if (column.knownText != nullptr)
                row.insert(*column.key, Utf8(device.*column.knownText));
        }
        row.insert(kRowLastSeen, LastSeenText(captions, device.lastSeen, now));
        row.insert(kRowKnown, QStringLiteral("1"));
        row.insert(kRowVendor, Utf8(device.vendor));
        row.insert(kRowId, Utf8(device.id));
        row.insert(kRowMac, Utf8(device.mac));
        rows.append(row);
    }
    return rows;
}

bool LoadShowNotAnswering()
{
    return NasfinderSettings().value(QString::fromLatin1(kShowSettingKey), true).toBool();
}

void SaveShowNotAnswering(bool show)
{
    QSettings settings = NasfinderSettings();
    settings.setValue(QString::fromLatin1(kShowSettingKey), show);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning("nasfinder: could not save the setting in %s", qPrintable(settings.fileName()));
}
