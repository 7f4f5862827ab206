// The table: one row per device, its columns, and the model that shows the
// rows to the view.
#ifndef NASFINDER_DEVICETABLE_H
#define NASFINDER_DEVICETABLE_H

#include <QAbstractTableModel>
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
    // What the store of known devices knows of it: empty or 0 where nothing.
    QString mac;
    QString interfaceName;
    std::int64_t firstSeen = 0;
    std::int64_t lastSeen = 0;
    // Seconds since its wake-up packet went out, while it is being woken.
    std::optional<std::int64_t> wakingFor;

    bool operator==(const DeviceRow& other) const;
    bool operator!=(const DeviceRow& other) const { return !(*this == other); }
};

// A column: the language key of its caption, the English caption, and the
// text a row shows in it; `now` is the time the rows were made, for "Last
// seen".
struct DeviceColumn
{
    const char* captionKey;
    const char* english;
    QString (*text)(const DeviceRow& row, const Captions& captions, std::int64_t now);
};

// The table's columns in order: host name, address, product, last seen.
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
    // The texts of "Last seen", in the language file's words.
    void setCaptions(const Captions& captions);

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
};

#endif
