#include "ColumnChooser.h"

#include "Captions.h"
#include "DeviceFilter.h"
#include "DeviceTable.h"
#include "LanguageLoad.h"
#include "SearchAddresses.h"

#include <QAction>
#include <QEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMainWindow>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QStyleOptionViewItem>
#include <QTableView>

#include <algorithm>

namespace
{
const char kColumnsKey[] = "window/columns";
const char kWidthsKey[] = "window/columnWidths";
const char kSortColumnKey[] = "window/sortColumn";
const char kSortOrderKey[] = "window/sortOrder";
const char kGeometryKey[] = "window/geometry";
// Rows whose texts a column is made wide enough for: a list of thousands is
// measured by its first ones, as the view itself does.
constexpr int kRowsMeasured = 1000;

QString KeyOf(int column)
{
    return QString::fromLatin1(kDeviceColumns[static_cast<std::size_t>(column)].captionKey);
}

int ColumnOf(const QString& key)
{
    for (int column = 0; column < kColumnCount; ++column)
    {
        if (KeyOf(column) == key)
            return column;
    }
    return -1;
}
} // namespace

int TextWidths::cell(const QTableView& table, const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (option.font != m_cellFont || m_cellFontKey.isEmpty())
    {
        m_cellFont = option.font;
        m_cellFontKey = QLatin1String("cell\x1f") + option.font.key() + QLatin1Char('\x1f');
    }
    const QString key = m_cellFontKey + index.data(Qt::DisplayRole).toString();
    const auto found = m_widths.constFind(key);
    if (found != m_widths.constEnd())
        return *found;
    return remembered(key, table.itemDelegateForIndex(index)->sizeHint(option, index).width() + 1);
}

int TextWidths::caption(const QHeaderView& header, int section)
{
    const QAbstractItemModel* model = header.model();
    const QString key = QLatin1String("caption\x1f") + header.font().key() + QLatin1Char('\x1f') +
                        model->headerData(section, header.orientation(), Qt::FontRole).toString() +
                        QLatin1Char(header.isSortIndicatorShown() ? '1' : '0') + QLatin1Char('\x1f') +
                        model->headerData(section, header.orientation(), Qt::DisplayRole).toString();
    const auto found = m_widths.constFind(key);
    if (found != m_widths.constEnd())
        return *found;
    return remembered(key, header.sectionSizeHint(section));
}

int TextWidths::remembered(const QString& key, int width)
{
    // Bounded: a list that keeps changing does not grow it without end.
    if (m_widths.size() >= 4 * kRowsMeasured * kColumnCount)
        m_widths.clear();
    m_widths.insert(key, width);
    return width;
}

int ContentWidth(const QTableView& table, int column, TextWidths& widths)
{
    int width = widths.caption(*table.horizontalHeader(), column);
    QStyleOptionViewItem option;
    option.initFrom(&table);
    const QAbstractItemModel* shown = table.model();
    const int rows = std::min(shown->rowCount(), kRowsMeasured);
    for (int row = 0; row < rows; ++row)
        width = std::max(width, widths.cell(table, option, shown->index(row, column)));
    return width;
}

ColumnChooser::ColumnChooser(QTableView* table, DeviceFilter& filter, const LanguageLoad& language,
                             QMainWindow* window)
    : QObject(window), menu(new QMenu(table)), m_table(table), m_viewport(table->viewport()),
      m_filter(filter), m_language(language), m_window(window)
{
    QHeaderView* header = table->horizontalHeader();
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QWidget::customContextMenuRequested, this, &ColumnChooser::showMenu);
    table->viewport()->installEventFilter(this);
    menu->setAccessibleName(QStringLiteral("Columns"));
    columnActions.resize(kDeviceColumns.size(), nullptr);
    for (int column = 0; column < kColumnCount; ++column)
    {
        const DeviceColumn& spec = kDeviceColumns[static_cast<std::size_t>(column)];
        if (!spec.optional)
            continue;
        QAction* action = menu->addAction(QString::fromUtf8(spec.english));
        action->setCheckable(true);
        connect(action, &QAction::toggled, this,
                [this, column](bool shown) { setColumnShown(column, shown); });
        columnActions[static_cast<std::size_t>(column)] = action;
    }
}

void ColumnChooser::setColumnShown(int column, bool shown)
{
    if (!shown && !kDeviceColumns[static_cast<std::size_t>(column)].optional)
        return;
    m_filter.setColumnShown(column, shown);
    if (QAction* action = columnActions[static_cast<std::size_t>(column)])
    {
        const QSignalBlocker quiet(action);
        action->setChecked(shown);
    }
    showSortColumn();
    fitColumns();
    save();
}

void ColumnChooser::fitColumns()
{
    // Before the window is shown its layout has not run, and the viewport's
    // width is no measure of the room the window gives the table: the
    // viewport's resize at the show fits the columns.
    if (!m_window->isVisible())
        return;
    QHeaderView* header = m_table->horizontalHeader();
    const int last = header->count() - 1;
    if (last < 0)
        return;
    int needed = 0;
    for (int column = 0; column < last; ++column)
    {
        // Never narrowed here: a width the user chose stays unless it cuts a text.
        const int wanted = ContentWidth(*m_table, column, m_widths);
        if (header->sectionSize(column) < wanted)
            header->resizeSection(column, wanted);
        needed += header->sectionSize(column);
    }
    const int lastWanted = ContentWidth(*m_table, last, m_widths);
    const int room = m_table->viewport()->width();
    header->resizeSection(last, std::max(lastWanted, room - needed));
    const int missing = needed + lastWanted - room;
    if (missing <= 0 || m_window->isMaximized() || m_window->isFullScreen())
        return;
    const QScreen* screen =
        m_window->screen() != nullptr ? m_window->screen() : QGuiApplication::primaryScreen();
    const int widest = screen != nullptr ? screen->availableGeometry().width() : m_window->width() + missing;
    m_window->resize(std::min(m_window->width() + missing, std::max(widest, m_window->width())),
                     m_window->height());
}

void ColumnChooser::applyCaptions()
{
    const Captions captions(&m_language);
    for (int column = 0; column < kColumnCount; ++column)
    {
        if (QAction* action = columnActions[static_cast<std::size_t>(column)])
            CaptionControl(action, captions.Entry(KeyOf(column)));
    }
    fitColumns();
}

void ColumnChooser::sorted(int column, Qt::SortOrder order)
{
    m_sortColumn = m_filter.sourceColumn(column);
    m_sortOrder = order;
    save();
}

void ColumnChooser::save() const
{
    QSettings settings = NasfinderSettings();
    QStringList shown;
    QVariantMap widths;
    for (int column = 0; column < kColumnCount; ++column)
    {
        if (!m_filter.columnShown(column))
            continue;
        shown.append(KeyOf(column));
        widths.insert(KeyOf(column), m_table->horizontalHeader()->sectionSize(m_filter.shownColumn(column)));
    }
    settings.setValue(QString::fromLatin1(kColumnsKey), shown);
    settings.setValue(QString::fromLatin1(kWidthsKey), widths);
    settings.setValue(QString::fromLatin1(kSortColumnKey),
                      m_sortColumn < 0 ? QString() : KeyOf(m_sortColumn));
    settings.setValue(QString::fromLatin1(kSortOrderKey), static_cast<int>(m_sortOrder));
    settings.setValue(QString::fromLatin1(kGeometryKey), m_window->saveGeometry());
    settings.sync();
}

void ColumnChooser::restore()
{
    const QSettings settings = NasfinderSettings();
    m_window->restoreGeometry(settings.value(QString::fromLatin1(kGeometryKey)).toByteArray());
    // A column a file names that this version has not is passed over; those
    // that must always be there are, whatever the file says.
    const QStringList shown = settings.value(QString::fromLatin1(kColumnsKey)).toStringList();
    for (int column = 0; column < kColumnCount; ++column)
    {
        const bool on =
            !kDeviceColumns[static_cast<std::size_t>(column)].optional || shown.contains(KeyOf(column));
        m_filter.setColumnShown(column, on);
        if (QAction* action = columnActions[static_cast<std::size_t>(column)])
        {
            const QSignalBlocker quiet(action);
            action->setChecked(on);
        }
    }
    const QVariantMap widths = settings.value(QString::fromLatin1(kWidthsKey)).toMap();
    for (auto it = widths.begin(); it != widths.end(); ++it)
    {
        const int column = m_filter.shownColumn(ColumnOf(it.key()));
        const int width = it.value().toInt();
        if (column >= 0 && width > 0 && width < 4096)
            m_table->horizontalHeader()->resizeSection(column, width);
    }
    m_sortColumn = ColumnOf(settings.value(QString::fromLatin1(kSortColumnKey)).toString());
    m_sortOrder = settings.value(QString::fromLatin1(kSortOrderKey)).toInt() == Qt::DescendingOrder
                      ? Qt::DescendingOrder
                      : Qt::AscendingOrder;
    showSortColumn();
}

bool ColumnChooser::eventFilter(QObject* watched, QEvent* event)
{
    // The last column follows the table's width.
    if (watched == m_viewport && event->type() == QEvent::Resize)
        QMetaObject::invokeMethod(this, &ColumnChooser::fitColumns, Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}

void ColumnChooser::showMenu(const QPoint& pos)
{
    menu->popup(m_table->horizontalHeader()->viewport()->mapToGlobal(pos));
}

void ColumnChooser::showSortColumn()
{
    // Moved with the columns shown before it, or gone with its column: not a
    // sort the user asked for, so not announced as one.
    const int column = m_filter.shownColumn(m_sortColumn);
    if (column < 0)
        m_sortColumn = -1;
    QHeaderView* header = m_table->horizontalHeader();
    {
        const QSignalBlocker quiet(header);
        header->setSortIndicator(column, m_sortOrder);
    }
    header->viewport()->update();
    m_filter.sort(column, m_sortOrder);
}
