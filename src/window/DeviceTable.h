// The table: one row per device, its columns, and the model that shows the
// rows to the view.
#ifndef NASFINDER_DEVICETABLE_H
#define NASFINDER_DEVICETABLE_H

#include <QAbstractTableModel>
#include <QCollatorSortKey>
#include <QList>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "Captions.h"
#include "KnownDevices.h"
#include "SearchDeviceInfo.h"

// One device: one that answered this search, or a known one that did not,
// which is greyed and can be woken or forgotten.
struct DeviceRow
{
    bool answering = true;
    QString host;
    QString address;
    QString product;
    QString vendor;
    QString id;
    QString version;
    // What only the record of a device that answered has.
    QString extra;
    std::optional<int> type;
    // What the store of known devices knows of it: empty or 0 where nothing.
    bool known = false;
    QString mac;
    QString interfaceName;
    QString lastAddress;
    std::int64_t firstSeen = 0;
    std::int64_t lastSeen = 0;
    // Seconds since its wake-up packet went out, while it is being woken.
    std::optional<std::int64_t> wakingFor;

    bool operator==(const DeviceRow& other) const;
    bool operator!=(const DeviceRow& other) const { return !(*this == other); }
};

// What a column sorts by.
enum class SortBy
{
    Text,    // in the user's locale
    Address, // a dotted address by its number; names after them
    Time,    // a time, the latest last
};

// A column: the language key of its caption, the English caption, whether
// the user may hide it (the first four are always there), what it sorts by,
// and the text and time a row shows in it; `now` is when the rows were made.
struct DeviceColumn
{
    const char* captionKey;
    const char* english;
    bool optional;
    SortBy sortBy;
    QString (*text)(const DeviceRow& row, const Captions& captions, std::int64_t now);
    std::int64_t (*time)(const DeviceRow& row, std::int64_t now);
};

// The table's columns in order: host name, address, product, last seen, then
// those shown only when chosen: vendor, version, MAC address, interface,
// first seen, identifier.
extern const std::vector<DeviceColumn> kDeviceColumns;
extern const int kColumnCount;

// The rows of the devices that answered, in their order, each with what the
// store knows of it.
QList<DeviceRow> AnsweringRows(const std::vector<deviceinfo>& answering,
                               const std::vector<nasknown::KnownDevice>& known);

// The known devices that are not among those that answered (matched by
// vendor and id), the one seen last first; the one being woken, as the
// session says (its vendor and id), counts its seconds.
struct Waking
{
    std::string vendor;
    std::string id;
    std::int64_t seconds = 0;
};
QList<DeviceRow> NotAnsweringRows(const std::vector<nasknown::KnownDevice>& known,
                                  const std::vector<deviceinfo>& answering,
                                  const std::optional<Waking>& waking = std::nullopt);

// Every field of a row as "key: value" lines: the record's fields as --json
// names them, then what the store knows.
QString DetailsText(const DeviceRow& row, const Captions& captions, std::int64_t now);

// The model over the rows: read-only, one column per entry of kDeviceColumns;
// a row of a device that did not answer is drawn as disabled text is, but
// stays selectable (its menu wakes or forgets it).
class DeviceRowModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // English captions until the language file says otherwise.
    explicit DeviceRowModel(QObject* parent = nullptr);

    // The rows become these, made at `now`, in one reset.
    void setRows(const QList<DeviceRow>& rows, std::int64_t now);
    const QList<DeviceRow>& rows() const { return m_rows; }
    std::int64_t madeAt() const { return m_now; }
    // The texts of "Last seen", in the language file's words.
    void setCaptions(const Captions& captions);
    const Captions& captions() const { return m_captions; }
    // Row `row`'s text in `column` as the user's locale sorts it; made once
    // per row and column, so that sorting ten thousand rows stays quick.
    const QCollatorSortKey& textSortKey(int row, int column) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QList<DeviceRow> m_rows;
    std::int64_t m_now = 0;
    Captions m_captions{nullptr};
    std::vector<std::map<int, QVariant>> m_headers; // by column, then by role
    // By column, then by row; made when first asked for.
    mutable std::vector<std::vector<std::optional<QCollatorSortKey>>> m_sortKeys;
};

#endif
