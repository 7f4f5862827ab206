#include "DeviceTable.h"

#include "protocol/SearchDeviceInfo.h"

#include <QGuiApplication>
#include <QPalette>
#include <QStandardItemModel>

#include <cstring>

const QString kRowHomeHost = QStringLiteral("HomeHost");
const QString kRowIP = QStringLiteral("IP");
const QString kRowDeviceType = QStringLiteral("DeviceType");
const QString kRowLastSeen = QStringLiteral("LastSeen");
const QString kRowKnown = QStringLiteral("Known");
const QString kRowVendor = QStringLiteral("Vendor");
const QString kRowId = QStringLiteral("Id");
const QString kRowMac = QStringLiteral("Mac");

const char* const kColumnCaptionKeys[kColumnCount] = {"List1", "List2", "List3", "Last Seen"};

namespace
{
// The row keys in column order.
const QString* const kColumnKeys[kColumnCount] = {&kRowHomeHost, &kRowIP, &kRowDeviceType, &kRowLastSeen};

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
    row.insert(kRowHomeHost, FieldText(info.host));
    row.insert(kRowIP, FieldText(info.ip));
    row.insert(kRowDeviceType, FieldText(info.product));
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

QStandardItemModel* NewRowModel(QObject* parent)
{
    auto* model = new QStandardItemModel(0, kColumnCount, parent);
    model->setHorizontalHeaderLabels({QObject::tr("Host Name"), QObject::tr("IP Address"),
                                      QObject::tr("Product"), QObject::tr("Last seen")});
    return model;
}

void SetModelRows(QStandardItemModel& model, const QList<DeviceRow>& rows)
{
    model.removeRows(0, model.rowCount());
    // A device that did not answer is drawn as disabled text is, but stays
    // selectable: its menu wakes or forgets it.
    const QBrush greyed = QGuiApplication::palette().brush(QPalette::Disabled, QPalette::Text);
    for (const DeviceRow& row : rows)
    {
        QList<QStandardItem*> items;
        for (const QString* key : kColumnKeys)
        {
            auto* item = new QStandardItem(row.value(*key));
            item->setEditable(false);
            if (IsNotAnsweringRow(row))
                item->setForeground(greyed);
            items.append(item);
        }
        model.appendRow(items);
    }
}
