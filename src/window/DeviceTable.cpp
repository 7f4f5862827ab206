#include "DeviceTable.h"

#include "protocol/SearchDeviceInfo.h"

#include <QStandardItemModel>

#include <cstring>

const QString kRowHomeHost = QStringLiteral("HomeHost");
const QString kRowIP = QStringLiteral("IP");
const QString kRowDeviceType = QStringLiteral("DeviceType");

const char* const kColumnCaptionKeys[kColumnCount] = {"List1", "List2", "List3"};

namespace
{
// The row keys in column order.
const QString* const kColumnKeys[kColumnCount] = {&kRowHomeHost, &kRowIP, &kRowDeviceType};

QString FieldText(const char (&field)[kDeviceFieldSize])
{
    return QString::fromUtf8(field, static_cast<qsizetype>(strnlen(field, kDeviceFieldSize)));
}
} // namespace

DeviceRow RowFromDevice(const deviceinfo& info)
{
    DeviceRow row;
    row.insert(kRowHomeHost, FieldText(info.host));
    row.insert(kRowIP, FieldText(info.ip));
    row.insert(kRowDeviceType, FieldText(info.product));
    return row;
}

QList<DeviceRow> RowsFromDevices(const std::vector<deviceinfo>& devices)
{
    QList<DeviceRow> rows;
    rows.reserve(static_cast<qsizetype>(devices.size()));
    for (const deviceinfo& info : devices)
        rows.append(RowFromDevice(info));
    return rows;
}

QStandardItemModel* NewRowModel(QObject* parent)
{
    auto* model = new QStandardItemModel(0, kColumnCount, parent);
    model->setHorizontalHeaderLabels(
        {QObject::tr("Host Name"), QObject::tr("IP Address"), QObject::tr("Product")});
    return model;
}

void SetModelRows(QStandardItemModel& model, const QList<DeviceRow>& rows)
{
    model.removeRows(0, model.rowCount());
    for (const DeviceRow& row : rows)
    {
        QList<QStandardItem*> items;
        for (const QString* key : kColumnKeys)
        {
            auto* item = new QStandardItem(row.value(*key));
            item->setEditable(false);
            items.append(item);
        }
        model.appendRow(items);
    }
}
