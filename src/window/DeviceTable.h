// The table's rows: what one device shows in each column, and the model that
// holds them.
#ifndef NASFINDER_DEVICETABLE_H
#define NASFINDER_DEVICETABLE_H

#include <QAbstractTableModel>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>

#include <string>
#include <vector>

#include "KnownDevices.h"
#include "SearchDeviceInfo.h"

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

// A column of the table: the row's key it shows, the language key of its
// caption and the English caption, and the text it shows of an answering
// device's record and of a known device. A column without them is filled by
// whoever builds the row (Last seen: "now", or how long ago).
struct DeviceColumn
{
    const QString* key;
    const char* captionKey;
    const char* english;
    char (deviceinfo::*recordText)[kDeviceFieldSize];
    std::string nasknown::KnownDevice::*knownText;
};

// The table's columns in order: host name, address, product, last seen.
extern const std::vector<DeviceColumn> kDeviceColumns;
extern const int kColumnCount;

// An answering device's row; its last seen text is `now`.
DeviceRow RowFromDevice(const deviceinfo& info, const QString& now = QString());
QList<DeviceRow> RowsFromDevices(const std::vector<deviceinfo>& devices, const QString& now = QString());

// The table's model: the rows themselves, read-only, one column per entry of
// kDeviceColumns; a row of a device that did not answer is drawn as disabled
// text is, but stays selectable (its menu wakes or forgets it). It holds no
// copy of its own per cell: a list of a thousand known devices costs the
// rows and nothing more.
class DeviceRowModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // English captions until the language file says otherwise.
    explicit DeviceRowModel(QObject* parent = nullptr);

    // The rows become these, in one reset.
    void setRows(const QList<DeviceRow>& rows);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QList<DeviceRow> m_rows;
    std::vector<QMap<int, QVariant>> m_headers; // by column, then by role
};

#endif
