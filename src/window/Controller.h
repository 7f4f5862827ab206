// The device list window's controller: the sequence of the window. It starts
// the search, follows the registry's list for the countdown's one-second ticks
// after each search start, then enables the buttons, and answers them. The
// table's rows (DeviceTable), the captions (Captions), the status line
// (StatusLine), the opening of a device (DeviceOpener) and the library's
// start (SearchStart) are files of their own.
#ifndef NASFINDER_CONTROLLER_H
#define NASFINDER_CONTROLLER_H

#include "Captions.h"
#include "DeviceAddress.h"
#include "DeviceOpener.h"
#include "DeviceTable.h"
#include "FontNode.h"
#include "net/LocalInterfaces.h"
#include "SearchSchedule.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

class QAction;
class QLabel;
class QMainWindow;
class QMenu;
class QModelIndex;
class QPoint;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;
class OperationQueue;
class ParseOperation;
class SearchAddressesDialog;
struct deviceinfo;

namespace Ui
{
class MainWindow;
}

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
    // The search's next send; repeatTimer calls it while the search has sends left.
    void sendSearch();
    void onRefresh();
    void onLogin();
    void onGotoStorage();
    void onTableviewDoubleClicked(const QModelIndex& index);
    // A right click (or the menu key) on a row selects it and opens rowMenu.
    void onTableviewContextMenu(const QPoint& pos);
    void onCopyAddress();
    // Opens the dialog of the addresses searched beyond the local network.
    void onSearchAddresses();
    // Keeps them in the user's settings and searches them from now on.
    void setSearchAddresses(const QStringList& addresses);
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
    QPushButton* addressesbutton;
    QLabel* countdownField;
    QLabel* deviceListField;
    // One line below the table: the number of rows shown, then a notice for
    // each thing that keeps a search from running (port 67, a chosen
    // interface), a full list, an address not opened, and a pointer to the
    // firewall when a search ended without a device.
    QLabel* statusField;
    // A row's menu: open the web page, open the file share, copy the address.
    // Its items are enabled when the buttons are and the address may be opened.
    QMenu* rowMenu;
    QAction* openWebPageAction;
    QAction* openShareAction;
    QAction* copyAddressAction;
    // The interfaces chosen with --interface and what each cannot carry.
    std::vector<ChosenInterface> chosenInterfaces;
    std::unique_ptr<OperationQueue> parseQueue;
    std::unique_ptr<ParseOperation> parseOperation;
    // Looks a device's name up when the user opens it; tests give their own.
    NameResolver resolveName = &nasfinder::ResolveIPv4;
    // How the desktop is asked to open an address; tests choose.
    DesktopOpener desktopOpener = DefaultDesktopOpener();
    // Why the last address the user asked to open was not (refused, or the
    // desktop could not open it), in the window's language, until the next
    // open or Refresh; shown on the status line.
    QString openNotice;
    QTimer mytimer;
    // Single-shot: due at the next send of the running search.
    QTimer repeatTimer;
    nasfinder::SearchSchedule searchSchedule;
    qint32 counter = 0;
    // The addresses searched beyond the local network, and their dialog while open.
    QStringList searchAddresses;
    QPointer<SearchAddressesDialog> addressesDialog;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The language file's captions, once parsed.
    Captions captions() const;
    void setRows(const QList<DeviceRow>& rows);
    void setButtonsEnabled(bool enabled);
    std::optional<QString> selectedAddress() const;
    std::optional<QString> openableSelectedAddress(const char* purpose) const;
    // Opens the selected row's address with the desktop; the status line says
    // what could not be opened.
    void openSelectedDevice(const QString& scheme);
    void updateRowActions();
    void showStatusLine();
    void startSearch();

    QMainWindow* window;
    QStandardItemModel* rowModel; // the rows behind array_controller, in `device` order
};

#endif
