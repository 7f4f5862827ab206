#include "DeviceTable.h"

#include "KnownList.h"
#include "KnownStoreFormat.h"

#include <QCollator>
#include <QDateTime>
#include <QGuiApplication>
#include <QLocale>
#include <QPalette>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <set>
#include <tuple>
#include <unordered_map>

namespace
{
QString FieldText(const char (&field)[kDeviceFieldSize])
{
    return QString::fromUtf8(field, static_cast<qsizetype>(strnlen(field, kDeviceFieldSize)));
}

QString Utf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FieldString(const char (&field)[kDeviceFieldSize])
{
    return std::string(field, strnlen(field, kDeviceFieldSize));
}

// The key a device is known by: its vendor and its id.
std::string Key(const std::string& vendor, const std::string& id)
{
    return std::to_string(vendor.size()) + ':' + vendor + id;
}

QString LastSeenCell(const DeviceRow& row, const Captions& captions, std::int64_t now)
{
    if (row.wakingFor)
        return WakingText(captions, *row.wakingFor);
    return row.answering ? SeenNowText(captions) : LastSeenText(captions, row.lastSeen, now);
}

std::int64_t LastSeenTime(const DeviceRow& row, std::int64_t now)
{
    return row.answering ? now : row.lastSeen;
}

QString FirstSeenCell(const DeviceRow& row, const Captions&, std::int64_t)
{
    if (row.firstSeen <= 0)
        return QString();
    return QLocale::system().toString(QDateTime::fromSecsSinceEpoch(row.firstSeen), QLocale::ShortFormat);
}

std::int64_t FirstSeenTime(const DeviceRow& row, std::int64_t)
{
    return row.firstSeen;
}

// A column that shows one member of the row as it is.
template <QString DeviceRow::*Member> QString Plain(const DeviceRow& row, const Captions&, std::int64_t)
{
    return row.*Member;
}

DeviceRow RowOf(const nasknown::KnownDevice& device)
{
    DeviceRow row;
    row.host = Utf8(device.host);
    row.address = Utf8(device.address);
    row.product = Utf8(device.product);
    row.vendor = Utf8(device.vendor);
    row.id = Utf8(device.id);
    return row;
}

// What the store knows of a device, beside what it sent now.
void AddWhatTheStoreKnows(DeviceRow& row, const nasknown::KnownDevice& stored)
{
    row.known = true;
    row.mac = Utf8(stored.mac);
    row.interfaceName = Utf8(stored.interfaceName);
    row.lastAddress = Utf8(stored.address);
    row.firstSeen = stored.firstSeen;
    row.lastSeen = stored.lastSeen;
}
} // namespace

const std::vector<DeviceColumn> kDeviceColumns = {
    {"List1", QT_TRANSLATE_NOOP("DeviceRowModel", "Host Name"), false, SortBy::Text, &Plain<&DeviceRow::host>,
     nullptr},
    {"List2", QT_TRANSLATE_NOOP("DeviceRowModel", "IP Address"), false, SortBy::Address,
     &Plain<&DeviceRow::address>, nullptr},
    {"List3", QT_TRANSLATE_NOOP("DeviceRowModel", "Product"), false, SortBy::Text,
     &Plain<&DeviceRow::product>, nullptr},
    {"Last Seen", QT_TRANSLATE_NOOP("DeviceRowModel", "Last seen"), false, SortBy::Time, &LastSeenCell,
     &LastSeenTime},
    {"Column Vendor", QT_TRANSLATE_NOOP("DeviceRowModel", "Vendor"), true, SortBy::Text,
     &Plain<&DeviceRow::vendor>, nullptr},
    {"Column Version", QT_TRANSLATE_NOOP("DeviceRowModel", "Version"), true, SortBy::Text,
     &Plain<&DeviceRow::version>, nullptr},
    {"Column MAC", QT_TRANSLATE_NOOP("DeviceRowModel", "MAC address"), true, SortBy::Text,
     &Plain<&DeviceRow::mac>, nullptr},
    {"Column Interface", QT_TRANSLATE_NOOP("DeviceRowModel", "Interface"), true, SortBy::Text,
     &Plain<&DeviceRow::interfaceName>, nullptr},
    {"Column First Seen", QT_TRANSLATE_NOOP("DeviceRowModel", "First seen"), true, SortBy::Time,
     &FirstSeenCell, &FirstSeenTime},
    {"Column Identifier", QT_TRANSLATE_NOOP("DeviceRowModel", "Identifier"), true, SortBy::Text,
     &Plain<&DeviceRow::id>, nullptr},
};
const int kColumnCount = static_cast<int>(kDeviceColumns.size());

bool DeviceRow::operator==(const DeviceRow& o) const
{
    return std::tie(answering, host, address, product, vendor, id, version, extra, type, known, mac,
                    interfaceName, lastAddress, firstSeen, lastSeen, wakingFor) ==
           std::tie(o.answering, o.host, o.address, o.product, o.vendor, o.id, o.version, o.extra, o.type,
                    o.known, o.mac, o.interfaceName, o.lastAddress, o.firstSeen, o.lastSeen, o.wakingFor);
}

QList<DeviceRow> AnsweringRows(const std::vector<deviceinfo>& answering,
                               const std::vector<nasknown::KnownDevice>& known)
{
    std::unordered_map<std::string, const nasknown::KnownDevice*> byKey;
    for (const nasknown::KnownDevice& device : known)
        byKey.emplace(Key(device.vendor, device.id), &device);
    QList<DeviceRow> rows;
    rows.reserve(static_cast<qsizetype>(answering.size()));
    for (const deviceinfo& record : answering)
    {
        DeviceRow row = RowOf(nasknown::SightingFromRecord(record, 0));
        row.version = FieldText(record.osversion);
        row.extra = FieldText(record.extra);
        row.type = record.type;
        const auto found = byKey.find(Key(FieldString(record.factory), FieldString(record.id)));
        if (found != byKey.end())
            AddWhatTheStoreKnows(row, *found->second);
        rows.append(std::move(row));
    }
    return rows;
}

QList<DeviceRow> NotAnsweringRows(const std::vector<nasknown::KnownDevice>& known,
                                  const std::vector<deviceinfo>& answering,
                                  const std::optional<Waking>& waking)
{
    std::set<std::string> answered;
    for (const deviceinfo& record : answering)
        answered.insert(Key(FieldString(record.factory), FieldString(record.id)));
    std::vector<const nasknown::KnownDevice*> silent;
    for (const nasknown::KnownDevice& device : known)
    {
        if (answered.count(Key(device.vendor, device.id)) == 0)
            silent.push_back(&device);
    }
    std::stable_sort(silent.begin(), silent.end(),
                     [](const nasknown::KnownDevice* a, const nasknown::KnownDevice* b)
                     { return a->lastSeen > b->lastSeen; });
    QList<DeviceRow> rows;
    for (const nasknown::KnownDevice* device : silent)
    {
        DeviceRow row = RowOf(*device);
        AddWhatTheStoreKnows(row, *device);
        row.answering = false;
        if (waking && waking->vendor == device->vendor && waking->id == device->id)
            row.wakingFor = waking->seconds;
        rows.append(std::move(row));
    }
    return rows;
}

QString DetailsText(const DeviceRow& row, const Captions& captions, std::int64_t now)
{
    QStringList lines;
    const auto add = [&lines](const char* key, const QString& value)
    { lines.append(QString::fromLatin1(key) + QStringLiteral(": ") + value); };
    const auto time = [](std::int64_t seconds)
    { return seconds > 0 ? QString::fromStdString(nasknown::IsoTimeText(seconds)) : QString(); };
    add("id", row.id);
    add("ip", row.address);
    add("host", row.host);
    add("product", row.product);
    if (row.answering)
    {
        add("extra", row.extra);
        add("osversion", row.version);
    }
    add("vendor", row.vendor);
    if (row.type)
        add("type", QString::number(*row.type));
    add("answering", row.answering ? QStringLiteral("yes") : QStringLiteral("no"));
    add("seen", LastSeenCell(row, captions, now));
    if (row.known)
    {
        add("first_seen", time(row.firstSeen));
        add("last_seen", time(row.lastSeen));
        add("mac", row.mac);
        add("interface", row.interfaceName);
        add("last_address", row.lastAddress);
    }
    return lines.join(QLatin1Char('\n'));
}

DeviceRowModel::DeviceRowModel(QObject* parent) : QAbstractTableModel(parent)
{
    for (const DeviceColumn& column : kDeviceColumns)
        m_headers.emplace_back()[Qt::DisplayRole] = tr(column.english);
}

void DeviceRowModel::setRows(const QList<DeviceRow>& rows, std::int64_t now)
{
    beginResetModel();
    m_rows = rows;
    m_now = now;
    m_sortKeys.assign(kDeviceColumns.size(), {});
    endResetModel();
}

void DeviceRowModel::setCaptions(const Captions& captions)
{
    m_captions = captions;
    m_sortKeys.assign(kDeviceColumns.size(), {});
    if (!m_rows.isEmpty())
        emit dataChanged(index(0, 0), index(static_cast<int>(m_rows.size()) - 1, kColumnCount - 1));
}

const QCollatorSortKey& DeviceRowModel::textSortKey(int row, int column) const
{
    static const QCollator collator = []
    {
        // "nas10" after "nas9", and "Beta" beside "alpha", as people read
        // them; the C locale, which sorts by code point, is no one's language.
        QLocale locale = QLocale::system();
        if (locale.language() == QLocale::C)
            locale = QLocale(QLocale::English, QLocale::UnitedStates);
        QCollator made(locale);
        made.setNumericMode(true);
        made.setCaseSensitivity(Qt::CaseInsensitive);
        return made;
    }();
    if (m_sortKeys.size() != kDeviceColumns.size())
        m_sortKeys.assign(kDeviceColumns.size(), {});
    auto& keys = m_sortKeys[static_cast<std::size_t>(column)];
    if (keys.size() != static_cast<std::size_t>(m_rows.size()))
        keys.assign(static_cast<std::size_t>(m_rows.size()), std::nullopt);
    std::optional<QCollatorSortKey>& key = keys[static_cast<std::size_t>(row)];
    if (!key)
        key = collator.sortKey(
            kDeviceColumns[static_cast<std::size_t>(column)].text(m_rows.at(row), m_captions, m_now));
    return *key;
}

int DeviceRowModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int DeviceRowModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant DeviceRowModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size() || index.column() >= kColumnCount)
        return QVariant();
    const DeviceRow& row = m_rows.at(index.row());
    switch (role)
    {
    case Qt::DisplayRole:
        return kDeviceColumns[static_cast<std::size_t>(index.column())].text(row, m_captions, m_now);
    case Qt::ForegroundRole:
        if (!row.answering)
            return QGuiApplication::palette().brush(QPalette::Disabled, QPalette::Text);
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant DeviceRowModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    const auto& byRole = m_headers[static_cast<std::size_t>(section)];
    const auto found = byRole.find(role == Qt::EditRole ? Qt::DisplayRole : role);
    return found != byRole.end() ? found->second : QVariant();
}

bool DeviceRowModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role)
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount)
        return false;
    m_headers[static_cast<std::size_t>(section)][role == Qt::EditRole ? Qt::DisplayRole : role] = value;
    emit headerDataChanged(orientation, section, section);
    return true;
}

Qt::ItemFlags DeviceRowModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}
