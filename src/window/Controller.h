// The device list window's controller: runs the search through the device
// registry, follows the registry's list for eleven one-second ticks after each
// search start, opens the selected device, and captions the window from the
// language file.
#ifndef NASFINDER_CONTROLLER_H
#define NASFINDER_CONTROLLER_H

#include "FontNode.h"

#include <QFont>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QMainWindow;
class QModelIndex;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;
class OperationQueue;
class ParseOperation;
struct deviceinfo;

namespace Ui
{
class MainWindow;
}

// One table row: "HomeHost", "IP" and "DeviceType" of one device.
using DeviceRow = QMap<QString, QString>;
extern const QString kRowHomeHost;
extern const QString kRowIP;
extern const QString kRowDeviceType;

DeviceRow RowFromDevice(const deviceinfo& info);

// True for a text that can follow "http://" or "smb://" and name exactly the
// host shown: a dotted IPv4 address in canonical form, or a host name of
// letters, digits, '-' and '.' that no URL parser would read as a number.
// Anything else (an '@', ':', '/', '%', a space, "0x7f.1", "010.0.0.1") could
// make a URL whose host is not the text the user sees.
bool IsSafeDeviceAddress(const QString& text);

// The font an entry names at its size, or none when the entry names no font
// or the system has no family of that name. Size 0 (absent, not a number)
// keeps the default size; sizes are capped at kMaxFontPoints so a broken file
// cannot ask for a font the size of a house.
constexpr double kMaxFontPoints = 200.0;
std::optional<QFont> FontForEntry(const FontNode& entry);

class Controller : public QObject
{
    Q_OBJECT
public:
    // Takes the layout's controls and wires their actions, as loading the
    // window layout does; nothing is started until awakeFromNib.
    Controller(QMainWindow* window, const Ui::MainWindow& ui, QObject* parent = nullptr);
    ~Controller() override;

    // Start-up: language file, library start and first search, buttons off,
    // the 1-second timer.
    void awakeFromNib();

    // The language part of start-up: logs the first preferred language,
    // observes the completion notice, and queues the parse of the chosen file
    // under resourceDir when it can be read.
    void startLanguageFile(const QStringList& preferredLanguages, const QString& resourceDir);

public slots:
    void getDeviceList();
    void onRefreash();
    void onLogin();
    void onGotoStorage();
    void onTableviewDoubleClicked(const QModelIndex& index);
    void tableViewSortDescriptorsDidChange(int column, Qt::SortOrder order);
    void windowWillClose();
    void ReflashLanguage();

public:
    // The layout's outlets and the controller's state, open to tests as the
    // outlets are to the layout.
    QList<DeviceRow> device;
    QSortFilterProxyModel* array_controller;
    QTableView* tableview;
    QPushButton* loginbutton;
    QPushButton* refreshbutton;
    QPushButton* storagebutton;
    QLabel* countdownField;
    QLabel* deviceListField;
    std::unique_ptr<OperationQueue> parseQueue;
    std::unique_ptr<ParseOperation> parseOperation;
    QTimer mytimer;
    qint32 counter = 0;
    qint32 count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::optional<FontNode> languageEntry(const QString& key) const;
    void setRows(const QList<DeviceRow>& rows);
    void setButtonsEnabled(bool enabled);
    void openSelectedDevice(const QString& scheme);

    QMainWindow* window;
    QStandardItemModel* rowModel; // the rows behind array_controller, in `device` order
};

#endif
