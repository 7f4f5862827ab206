#include "DeviceTable.h"

#include "SearchDeviceInfo.h"

#include <QGuiApplication>
#include <QPalette>

#include <cstring>

const QString kRowHomeHost = QStringLiteral("HomeHost");
const QString kRowIP = QStringLiteral("IP");
const QString kRowDeviceType = QStringLiteral("DeviceType");
const QString kRowLastSeen = QStringLiteral("LastSeen");
const QString kRowKnown = QStringLiteral("Known");
const QString kRowVendor = QStringLiteral("Vendor");
const QString kRowId = QStringLiteral("Id");
const QString kRowMac = QStringLiteral("Mac");

const std::vector<DeviceColumn> kDeviceColumns = {
    {&kRowHomeHost, "List1", QT_TRANSLATE_NOOP("DeviceRowModel", "Host Name"), &deviceinfo::host,
     &nasknown::KnownDevice::host},
    {&kRowIP, "List2", QT_TRANSLATE_NOOP("DeviceRowModel", "IP Address"), &deviceinfo::ip,
     &nasknown::KnownDevice::address},
    {&kRowDeviceType, "List3", QT_TRANSLATE_NOOP("DeviceRowModel", "Product"), &deviceinfo::product,
     &nasknown::KnownDevice::product},
    {&kRowLastSeen, "Last Seen", QT_TRANSLATE_NOOP("DeviceRowModel", "Last seen"), nullptr, nullptr},
};
const int kColumnCount = static_cast<int>(kDeviceColumns.size());

namespace
{
QString FieldText(const char (&field)[kDeviceFieldSize])
{
    return QString::fromUtf8(field, static_cast<qsizetype>(strnlen(field, kDeviceFieldSize)));
}
} // namespace

bool IsNotAnsweringRow(const DeviceRow& row)
{
    return row.value(kRowKnown) == QLatin1String("1");
}

DeviceRow RowFromDevice(const deviceinfo& info, const QString& now)
{
    DeviceRow row;
    for (const DeviceColumn& column : kDeviceColumns)
    {
        if (column.recordText != nullptr)
            row.insert(*column.key, FieldText(info.*column.recordText));
    }
    row.insert(kRowLastSeen, now);
    return row;
}

QList<DeviceRow> RowsFromDevices(const std::vector<deviceinfo>& devices, const QString& now)
{
    QList<DeviceRow> rows;
    rows.reserve(static_cast<qsizetype>(devices.size()));
    for (const deviceinfo& info : devices)
        rows.append(RowFromDevice(info, now));
    return rows;
}

DeviceRowModel::DeviceRowModel(QObject* parent) : QAbstractTableModel(parent)
{
    for (const DeviceColumn& column : kDeviceColumns)
        m_headers.emplace_back().insert(Qt::DisplayRole, tr(column.english));
}

void DeviceRowModel::setRows(const QList<DeviceRow>& rows)
{
    beginResetModel();
    m_rows = rows;
    endResetModel();
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
        return row.value(*kDeviceColumns[index.column()].key);
    case Qt::ForegroundRole:
        if (IsNotAnsweringRow(row))
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
    return m_headers[section].value(role == Qt::EditRole ? Qt::DisplayRole : role);
}

bool DeviceRowModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role)
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount)
        return false;
    m_headers[section].insert(role == Qt::EditRole ? Qt::DisplayRole : role, value);
    emit headerDataChanged(orientation, section, section);
    return true;
}

Qt::ItemFlags DeviceRowModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}
