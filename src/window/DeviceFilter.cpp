#include "DeviceFilter.h"

#include "DeviceTable.h"
#include "HostAddress.h"

#include <algorithm>
#include <optional>

DeviceFilter::DeviceFilter(const DeviceRowModel& rows, QObject* parent)
    : QSortFilterProxyModel(parent), m_rows(rows), m_shown(kDeviceColumns.size())
{
    for (std::size_t column = 0; column < kDeviceColumns.size(); ++column)
        m_shown[column] = !kDeviceColumns[column].optional;
    setSourceModel(const_cast<DeviceRowModel*>(&rows));
}

void DeviceFilter::setFilterText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    invalidateRowsFilter();
}

void DeviceFilter::setColumnShown(int column, bool shown)
{
    if (column < 0 || column >= kColumnCount || m_shown[static_cast<std::size_t>(column)] == shown)
        return;
    m_shown[static_cast<std::size_t>(column)] = shown;
    invalidateColumnsFilter();
    if (!m_text.isEmpty())
        invalidateRowsFilter();
}

bool DeviceFilter::columnShown(int column) const
{
    return column >= 0 && column < kColumnCount && m_shown[static_cast<std::size_t>(column)];
}

int DeviceFilter::sourceColumn(int shownColumn) const
{
    for (int column = 0; column < kColumnCount; ++column)
    {
        if (m_shown[static_cast<std::size_t>(column)] && shownColumn-- == 0)
            return column;
    }
    return -1;
}

int DeviceFilter::shownColumn(int sourceColumn) const
{
    if (!columnShown(sourceColumn))
        return -1;
    return static_cast<int>(std::count(m_shown.begin(), m_shown.begin() + sourceColumn, true));
}

bool DeviceFilter::filterAcceptsColumn(int sourceColumn, const QModelIndex&) const
{
    return columnShown(sourceColumn);
}

int DeviceFilter::answeringShown() const
{
    int answering = 0;
    for (int row = 0; row < rowCount(); ++row)
        answering += m_rows.rows().at(mapToSource(index(row, 0)).row()).answering ? 1 : 0;
    return answering;
}

bool DeviceFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    if (m_text.isEmpty())
        return true;
    const DeviceRow& row = m_rows.rows().at(sourceRow);
    for (std::size_t column = 0; column < kDeviceColumns.size(); ++column)
    {
        if (m_shown[column] && kDeviceColumns[column]
                                   .text(row, m_rows.captions(), m_rows.madeAt())
                                   .contains(m_text, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool DeviceFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const DeviceRow& a = m_rows.rows().at(left.row());
    const DeviceRow& b = m_rows.rows().at(right.row());
    // Descending order asks the other way round: the devices that answered
    // stay first either way.
    if (a.answering != b.answering)
        return (sortOrder() == Qt::AscendingOrder) == a.answering;
    const DeviceColumn& column = kDeviceColumns[static_cast<std::size_t>(left.column())];
    switch (column.sortBy)
    {
    case SortBy::Time:
        return column.time(a, m_rows.madeAt()) < column.time(b, m_rows.madeAt());
    case SortBy::Address:
    {
        const std::optional<std::uint32_t> x = nasfinder::ParseCanonicalIPv4(a.address.toStdString());
        const std::optional<std::uint32_t> y = nasfinder::ParseCanonicalIPv4(b.address.toStdString());
        if (x && y)
            return *x < *y;
        // Names after the dotted addresses, in their own order.
        if (x || y)
            return x.has_value();
        break;
    }
    case SortBy::Text:
        break;
    }
    return m_rows.textSortKey(left.row(), left.column())
               .compare(m_rows.textSortKey(right.row(), right.column())) < 0;
}
