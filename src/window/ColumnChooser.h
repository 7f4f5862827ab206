// The table's columns as the user arranges them: the optional ones chosen
// from the header's own menu (a right click on it), each column at least as
// wide as its caption and its texts, and the choice, the widths, the sort and
// the window's size and place kept in the user's settings for the next start.
#ifndef NASFINDER_COLUMNCHOOSER_H
#define NASFINDER_COLUMNCHOOSER_H

#include <QFont>
#include <QHash>
#include <QObject>
#include <QString>

#include <vector>

class DeviceFilter;
class LanguageLoad;
class QAction;
class QEvent;
class QHeaderView;
class QMainWindow;
class QMenu;
class QModelIndex;
class QPoint;
class QStyleOptionViewItem;
class QTableView;

// The widths the table's texts need, each measured once: measuring a text
// (shaping it in its font) is what fitting the columns costs, and the same
// texts come back at every change of the rows. A cell's width is taken to
// depend on its text and the table's font alone, as the rows give no cell a
// font, an icon or a check box of its own.
class TextWidths
{
public:
    int cell(const QTableView& table, const QStyleOptionViewItem& option, const QModelIndex& index);
    int caption(const QHeaderView& header, int section);

private:
    int remembered(const QString& key, int width);

    QHash<QString, int> m_widths;
    // The font of the cells last measured, and its part of their keys.
    QFont m_cellFont;
    QString m_cellFontKey;
};

// What the caption of the view's column `column` and the texts of the rows
// shown in it need.
int ContentWidth(const QTableView& table, int column, TextWidths& widths);

class ColumnChooser : public QObject
{
    Q_OBJECT
public:
    ColumnChooser(QTableView* table, DeviceFilter& filter, const LanguageLoad& language, QMainWindow* window);

    // Shows column `column` of kDeviceColumns or hides it, as its menu item does.
    void setColumnShown(int column, bool shown);

    // The header's menu: one checkable item per optional column.
    QMenu* menu;
    std::vector<QAction*> columnActions; // by column; nullptr for those always shown

public slots:
    // Widens each column its caption or a text shown in it does not fit; the
    // last takes the room left, and the window grows when the columns no
    // longer fit it (never past the screen: beyond it the table scrolls).
    void fitColumns();
    void applyCaptions();
    // The user sorted by the view's column `column`.
    void sorted(int column, Qt::SortOrder order);
    // Into the user's settings: the columns, their widths, the sort, the window.
    void save() const;
    void restore();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showMenu(const QPoint& pos);
    // The header's arrow on the sort column, wherever it is shown now.
    void showSortColumn();

    QTableView* m_table;
    // The table's viewport, compared with in eventFilter without asking the
    // table, which may be half destroyed when its viewport's last events come.
    const QObject* m_viewport;
    DeviceFilter& m_filter;
    const LanguageLoad& m_language;
    QMainWindow* m_window;
    int m_sortColumn = -1; // of kDeviceColumns
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    TextWidths m_widths;
};

#endif
