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

// One table row: "HomeHost", "IP", "DeviceType" and "LastSeen" of one device;
// a known device that did not answer this search also carries "Known" ("1"),
// with its "Vendor", "Id" and "Mac" (empty when unknown), and is greyed.
using DeviceRow = QMap<QString, QString>;
extern const QString kRowHomeHost;
extern const QString kRowIP;
extern const QString kRowDeviceType;
extern const QString kRowLastSeen;
extern const QString kRowKnown;
extern const QString kRowVendor;
extern const QString kRowId;
extern const QString kRowMac;

// Whether the row is a known device that did not answer.
bool IsNotAnsweringRow(const DeviceRow& row);

// The table's columns: host name, address, product, last seen.
constexpr int kColumnCount = 4;
// The language keys of the columns' captions, in column order.
extern const char* const kColumnCaptionKeys[kColumnCount];

// An answering device's row; its last seen text is `now`.
DeviceRow RowFromDevice(const deviceinfo& info, const QString& now = QString());
QList<DeviceRow> RowsFromDevices(const std::vector<deviceinfo>& devices, const QString& now = QString());

// An empty model of kColumnCount columns, with English captions until the
// language file says otherwise.
QStandardItemModel* NewRowModel(QObject* parent);
// The model's rows become these, none of them editable.
void SetModelRows(QStandardItemModel& model, const QList<DeviceRow>& rows);

#endif
