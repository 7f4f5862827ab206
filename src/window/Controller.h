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
#include "SearchDeviceInfo.h"
#include "KnownDevices.h"
#include "KnownStore.h"
#include "Neighbours.h"
#include "NetworkInterfaces.h"
#include "SearchDriver.h"
#include "WakeOnLan.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QElapsedTimer>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

class QAction;
class QCheckBox;
class QLabel;
class QMainWindow;
class QMenu;
class QModelIndex;
class QPoint;
class QPushButton;
class QSortFilterProxyModel;
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
    // A device that did not answer: send its magic packet and search for it
    // every watch round for up to 3 minutes; or drop it from the known devices.
    void onWake();
    void onForget();
    void onShowNotAnswering(bool show);
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
    // Only on the row of a known device that did not answer.
    QAction* wakeAction;
    QAction* forgetAction;
    // "Show devices not answering", kept in the user's settings.
    QCheckBox* showNotAnsweringBox;
    // The known devices as last read or written, and where they are kept.
    std::vector<nasknown::KnownDevice> knownDevices;
    nasknown::KnownStore knownStore;
    // Finds the interface and MAC of the devices that answered (the kernel's
    // neighbour table), off the UI thread; tests give their own.
    std::function<void(std::vector<nasknown::KnownDevice>&)> findLinks =
        [](std::vector<nasknown::KnownDevice>& seen) { nasknown::FindLinksAndMacs(seen); };
    // Sends a magic packet; empty when it went out. Tests give their own.
    std::function<std::string(const nasknown::MacAddress&, const nasknown::WakeTarget&)> wakeSender =
        &nasknown::SendMagicPacket;
    // The host's broadcast links now; tests give their own.
    std::function<std::vector<nasknown::Link>()> localLinks;
    // Why the known devices cannot be kept, and what came of the last wake,
    // until the next one; both on the status line.
    QString knownNotice;
    QString wakeNotice;
    // The device being woken, while it is: its vendor and id, its name for
    // the status line, and the time since its packet went out.
    struct Waking
    {
        std::string vendor;
        std::string id;
        QString name;
        QElapsedTimer since;
    };
    std::optional<Waking> waking;
    // Searches again every watch round while a device is being woken.
    QTimer wakeSearchTimer;
    // What answered the search shown: the countdown's last list, and a woken
    // device once it answers.
    std::vector<deviceinfo> answered;
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
    // The running search: its sends, timed by repeatTimer, and its countdown,
    // whose time is `counter` seconds, one per tick of mytimer.
    nasfinder::SearchDriver searchDriver = nasfinder::SearchDriver::Search();
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
    // A new search: the sends start again, the countdown does not.
    void startSearch();
    // The countdown has ended and the buttons are on.
    bool searchIsOver() const;
    // The live rows, then (when shown) the known devices that did not answer.
    QList<DeviceRow> rowsAfterSearch(const std::vector<deviceinfo>& live) const;
    void showRowsAfterSearch();
    // Remembers the devices that answered, off the UI thread; the table and
    // the status line follow when it is done.
    void rememberAnswers(const std::vector<deviceinfo>& live);
    void rememberDone(std::vector<nasknown::KnownDevice> known, nasknown::StoreResult result);
    // A wake in progress: whether the device answered, or the time ran out.
    void followWake(const std::vector<deviceinfo>& live);
    std::optional<DeviceRow> selectedRow() const;

    QMainWindow* window;
    DeviceRowModel* rowModel; // the rows behind array_controller, in `device` order
    // The one remembering at a time; joined before the next and at the end.
    std::thread rememberer;
};

#endif
