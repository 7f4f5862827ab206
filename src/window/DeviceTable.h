// The table's rows: what one device shows in each column, and the model that
// holds them.
#ifndef NASFINDER_DEVICETABLE_H
#define NASFINDER_DEVICETABLE_H

#include <QList>
#include <QMap>
#include <QString>

#include <vector>

class QObject;
class QStandardItemModel;
struct deviceinfo;

// One table row: "HomeHost", "IP" and "DeviceType" of one device.
using DeviceRow = QMap<QString, QString>;
extern const QString kRowHomeHost;
extern const QString kRowIP;
extern const QString kRowDeviceType;

// The table's columns: host name, address, product.
constexpr int kColumnCount = 3;
// The language keys of the columns' captions, in column order.
extern const char* const kColumnCaptionKeys[kColumnCount];

DeviceRow RowFromDevice(const deviceinfo& info);
QList<DeviceRow> RowsFromDevices(const std::vector<deviceinfo>& devices);

// An empty model of kColumnCount columns, with English captions until the
// language file says otherwise.
QStandardItemModel* NewRowModel(QObject* parent);
// The model's rows become these, none of them editable.
void SetModelRows(QStandardItemModel& model, const QList<DeviceRow>& rows);

#endif
