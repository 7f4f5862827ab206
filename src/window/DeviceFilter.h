// The rows as the user asks to see them: those that hold the typed text in a
// column shown, without regard to case, in the order of the column the user
// clicked (addresses by their number, times by time, text in the user's
// locale). The devices that answered stay above those that did not, each
// group sorted alike; until a column is clicked, the rows keep their order.
#ifndef NASFINDER_DEVICEFILTER_H
#define NASFINDER_DEVICEFILTER_H

#include <QSortFilterProxyModel>
#include <QString>

#include <vector>

class DeviceRowModel;

class DeviceFilter : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    explicit DeviceFilter(const DeviceRowModel& rows, QObject* parent = nullptr);

    void setFilterText(const QString& text);
    const QString& filterText() const { return m_text; }
    // Which of the rows' columns (kDeviceColumns) the user sees: only those
    // are searched for the text, and only those are this model's columns, so
    // that assistive technology, a saved list and the view all see the same.
    void setColumnShown(int column, bool shown);
    bool columnShown(int column) const;
    // The rows' column that a column of this model is, and back (-1: not shown).
    int sourceColumn(int shownColumn) const;
    int shownColumn(int sourceColumn) const;
    // The rows shown that are of devices that answered.
    int answeringShown() const;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool filterAcceptsColumn(int sourceColumn, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    const DeviceRowModel& m_rows;
    QString m_text;
    std::vector<bool> m_shown;
};

#endif
