#include "DeviceTable.h"

#include "KnownList.h"

#include <QGuiApplication>
#include <QPalette>

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
} // namespace

const std::vector<DeviceColumn> kDeviceColumns = {
    {"List1", QT_TRANSLATE_NOOP("DeviceRowModel", "Host Name"),
     [](const DeviceRow& row, const Captions&, std::int64_t) { return row.host; }},
    {"List2", QT_TRANSLATE_NOOP("DeviceRowModel", "IP Address"),
     [](const DeviceRow& row, const Captions&, std::int64_t) { return row.address; }},
    {"List3", QT_TRANSLATE_NOOP("DeviceRowModel", "Product"),
     [](const DeviceRow& row, const Captions&, std::int64_t) { return row.product; }},
    {"Last Seen", QT_TRANSLATE_NOOP("DeviceRowModel", "Last seen"), &LastSeenCell},
};
const int kColumnCount = static_cast<int>(kDeviceColumns.size());

bool DeviceRow::operator==(const DeviceRow& o) const
{
    return std::tie(answering, host, address, product, vendor, id, version, mac, interfaceName, firstSeen,
                    lastSeen, wakingFor) == std::tie(o.answering, o.host, o.address, o.product, o.vendor,
                                                     o.id, o.version, o.mac, o.interfaceName, o.firstSeen,
                                                     o.lastSeen, o.wakingFor);
}

namespace
{
DeviceRow RowOf(const nasknown::KnownDevice& device)
{
    DeviceRow row;
    row.host = Utf8(device.host);
    row.address = Utf8(device.address);
    row.product = Utf8(device.product);
    row.vendor = Utf8(device.vendor);
    row.id = Utf8(device.id);
    row.mac = Utf8(device.mac);
    row.interfaceName = Utf8(device.interfaceName);
    row.firstSeen = device.firstSeen;
    row.lastSeen = device.lastSeen;
    return row;
}
} // namespace

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
        // What it sent now, and what the store knows of it besides.
        nasknown::KnownDevice seen = nasknown::SightingFromRecord(record, 0);
        seen.firstSeen = seen.lastSeen = 0;
        const auto found = byKey.find(Key(seen.vendor, seen.id));
        if (found != byKey.end())
        {
            seen.mac = found->second->mac;
            seen.interfaceName = found->second->interfaceName;
            seen.firstSeen = found->second->firstSeen;
            seen.lastSeen = found->second->lastSeen;
        }
        DeviceRow row = RowOf(seen);
        row.version = FieldText(record.osversion);
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
        row.answering = false;
        if (waking && waking->vendor == device->vendor && waking->id == device->id)
            row.wakingFor = waking->seconds;
        rows.append(std::move(row));
    }
    return rows;
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
    endResetModel();
}

void DeviceRowModel::setCaptions(const Captions& captions)
{
    m_captions = captions;
    if (!m_rows.isEmpty())
        emit dataChanged(index(0, 0), index(static_cast<int>(m_rows.size()) - 1, kColumnCount - 1));
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
