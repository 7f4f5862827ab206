#include "Controller.h"

#include "Captions.h"
#include "DeviceOpener.h"
#include "DeviceSearchInterface.h"
#include "DeviceTable.h"
#include "NotificationCenter.h"
#include "OperationQueue.h"
#include "ParseOperation.h"
#include "SearchAddresses.h"
#include "SearchStart.h"
#include "ProcessPrivileges.h"
#include "StatusLine.h"
#include "ui_MainWindow.h"

#include <QAction>
#include <QClipboard>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace
{
// A search follows the registry for this many one-second ticks, counting down to 0.
constexpr qint32 kCountdownTicks = nasfinder::kSearchSeconds;
constexpr int kTickMilliseconds = 1000;
// The row menu's entries; the English text is the key itself.
const char kOpenWebPageKey[] = "Open Web Page";
const char kOpenFileShareKey[] = "Open File Share";
const char kCopyAddressKey[] = "Copy Address";
const char kAddressesKey[] = "Addresses";
// Fewer language entries than this means a broken file: the user is told.
constexpr std::size_t kMinLanguageEntries = 5;
} // namespace

Controller::Controller(QMainWindow* window, const Ui::MainWindow& ui, QObject* parent)
    : QObject(parent), array_controller(new QSortFilterProxyModel(this)), tableview(ui.tableview),
      loginbutton(ui.loginbutton), refreshbutton(ui.refreshbutton), storagebutton(ui.storagebutton),
      addressesbutton(ui.addressesbutton), countdownField(ui.countdownField),
      deviceListField(ui.deviceListField), statusField(ui.statusField), window(window),
      rowModel(NewRowModel(this))
{
    // The status line repeats what a device sent (an address not opened): shown
    // as text, never read as markup.
    statusField->setTextFormat(Qt::PlainText);
    array_controller->setSourceModel(rowModel);
    tableview->setModel(array_controller);

    // Rows stay in the registry's order until the user clicks a header: no
    // sort column yet, and the view's own sorting stays off because turning it
    // on sorts at once.
    QHeaderView* header = tableview->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    // The columns share the table's width, so they follow the window's size.
    header->setSectionResizeMode(QHeaderView::Stretch);
    connect(header, &QHeaderView::sortIndicatorChanged, this, &Controller::tableViewSortDescriptorsDidChange);

    connect(loginbutton, &QPushButton::clicked, this, &Controller::onLogin);
    connect(refreshbutton, &QPushButton::clicked, this, &Controller::onRefresh);
    connect(storagebutton, &QPushButton::clicked, this, &Controller::onGotoStorage);
    connect(addressesbutton, &QPushButton::clicked, this, &Controller::onSearchAddresses);
    connect(tableview, &QTableView::doubleClicked, this, &Controller::onTableviewDoubleClicked);

    rowMenu = new QMenu(tableview);
    openWebPageAction = rowMenu->addAction(QString::fromLatin1(kOpenWebPageKey), this, &Controller::onLogin);
    openShareAction =
        rowMenu->addAction(QString::fromLatin1(kOpenFileShareKey), this, &Controller::onGotoStorage);
    copyAddressAction =
        rowMenu->addAction(QString::fromLatin1(kCopyAddressKey), this, &Controller::onCopyAddress);
    tableview->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tableview, &QWidget::customContextMenuRequested, this, &Controller::onTableviewContextMenu);

    // A disabled button ignores click(), so neither key can restart a running countdown.
    auto* refreshKeys = new QShortcut(window);
    refreshKeys->setKeys({QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_R)});
    connect(refreshKeys, &QShortcut::activated, refreshbutton, &QPushButton::click);

    connect(&mytimer, &QTimer::timeout, this, &Controller::getDeviceList);
    repeatTimer.setSingleShot(true);
    connect(&repeatTimer, &QTimer::timeout, this, &Controller::sendSearch);
    window->installEventFilter(this);
    showStatusLine();
}

Controller::~Controller()
{
    // The parse thread may still be running main() on parseOperation.
    parseQueue.reset();
}

void Controller::awakeFromNib()
{
    device.clear();
    startLanguageFile(PreferredLanguages(QProcessEnvironment::systemEnvironment()), QStringLiteral(":"));

    searchAddresses = LoadSearchAddresses();
    StartSearchLibrary(searchAddresses);
    counter = 0;
    setButtonsEnabled(false);
    showStatusLine();
    startSearch();

    mytimer.setInterval(kTickMilliseconds);
    mytimer.setSingleShot(false);
    mytimer.start();
}

void Controller::startLanguageFile(const QStringList& preferredLanguages, const QString& resourceDir)
{
    qInfo("current=%s", preferredLanguages.isEmpty() ? "(null)" : qPrintable(preferredLanguages.first()));
    const QString path =
        PathForResource(resourceDir, LanguageResourceName(preferredLanguages), QStringLiteral("xml"));

    NotificationCenter::defaultCenter()->addObserver(
        this, kReflashLanguage, [this](QObject*, const QVariantMap&) { ReflashLanguage(); });

    parseQueue = std::make_unique<OperationQueue>();

    QFile file(path);
    if (!path.isNull() && file.open(QIODevice::ReadOnly))
    {
        parseOperation = std::make_unique<ParseOperation>(file.readAll());
        ParseOperation* operation = parseOperation.get();
        parseQueue->addOperation([operation] { operation->main(); });
    }
    qInfo("fileToOpen = %s", path.isNull() ? "(null)" : qPrintable(path));
}

void Controller::getDeviceList()
{
    std::vector<deviceinfo> vListDevice;
    CDeviceSearchInterface::GetInstance()->GetDeviceList(vListDevice);

    if (counter < kCountdownTicks)
    {
        ++counter;
        const QString captionText = captions().Text("Search Time", "");
        countdownField->setText(
            QStringLiteral("%1 %2").arg(captionText, QString::number(kCountdownTicks - counter)));
        qInfo("vListDevice.size() = %ld", static_cast<long>(vListDevice.size()));

        // Rebuilt whenever what the rows show differs, not only when the
        // number of devices changes: a device that leaves while another
        // arrives must not stay listed with its old address.
        const QList<DeviceRow> rows = RowsFromDevices(vListDevice);
        if (rows != device)
            setRows(rows);
        return;
    }

    // Idle: the table keeps its rows until the next Refresh.
    if (refreshbutton->isEnabled())
        return;
    setButtonsEnabled(true);
    countdownField->setText(QString());
    showStatusLine();
}

void Controller::sendSearch()
{
    if (!searchSchedule.NextSendAt())
        return;
    CDeviceSearchInterface::GetInstance()->SendSearchDeviceCommand(nullptr);
    if (const std::optional<std::chrono::milliseconds> pause = searchSchedule.Sent())
        repeatTimer.start(*pause);
    else
        repeatTimer.stop();
}

void Controller::startSearch()
{
    searchSchedule.Restart();
    sendSearch();
}

void Controller::onRefresh()
{
    openNotice.clear();
    counter = 0;
    setButtonsEnabled(false);
    setRows({});
    CDeviceSearchInterface* registry = CDeviceSearchInterface::GetInstance();
    registry->ClearDeviceList();
#ifdef __GLIBC__
    // The rows and the list of a large list (a flood of forged devices) are
    // freed above, but the C library keeps the freed pages for later; hand
    // them back so that the window shrinks again.
    malloc_trim(0);
#endif
    startSearch();
}

void Controller::onLogin()
{
    openSelectedDevice(QStringLiteral("http"));
}

void Controller::onGotoStorage()
{
    openSelectedDevice(QStringLiteral("smb"));
}

void Controller::onTableviewDoubleClicked(const QModelIndex&)
{
    // A double click opens nothing: the buttons say which service to open.
}

void Controller::onTableviewContextMenu(const QPoint& pos)
{
    const QModelIndex index = tableview->indexAt(pos);
    if (!index.isValid())
        return;
    tableview->selectRow(index.row());
    updateRowActions();
    rowMenu->popup(tableview->viewport()->mapToGlobal(pos));
}

void Controller::onCopyAddress()
{
    if (const std::optional<QString> address = openableSelectedAddress("copying the address"))
        QGuiApplication::clipboard()->setText(*address);
}

void Controller::onSearchAddresses()
{
    if (addressesDialog)
    {
        addressesDialog->raise();
        addressesDialog->activateWindow();
        return;
    }
    const Captions captions = this->captions();
    addressesDialog = new SearchAddressesDialog(
        searchAddresses,
        [captions](const char* key, const char* english) { return captions.Text(key, english); }, window);
    addressesDialog->setAttribute(Qt::WA_DeleteOnClose);
    // The language's font, so that Chinese is drawn with Chinese shapes.
    if (const std::optional<QFont> font = captions.Font(kAddressesKey))
        addressesDialog->setFont(*font);
    connect(addressesDialog, &SearchAddressesDialog::addressesChanged, this, &Controller::setSearchAddresses);
    addressesDialog->open();
}

void Controller::setSearchAddresses(const QStringList& addresses)
{
    searchAddresses = addresses;
    SaveSearchAddresses(addresses);
    UseSearchAddresses(addresses);
}

void Controller::tableViewSortDescriptorsDidChange(int column, Qt::SortOrder order)
{
    array_controller->sort(column, order);
    qInfo("count=11111");
}

void Controller::windowWillClose()
{
    // Closing the window is the way to quit, and it ends the process with
    // status 1. The library's detached worker threads are still blocked in
    // their sockets and nothing needs saving, so the process ends here rather
    // than unwinding static objects under running threads.
    std::fflush(stderr);
    std::fflush(stdout);
    std::_Exit(1);
}

void Controller::ReflashLanguage()
{
    const Captions captions = this->captions();
    if (!parseOperation || parseOperation->entryCount() < kMinLanguageEntries)
    {
        // Not attached to the window and not modal: nothing waits for the answer.
        auto* alert = new QMessageBox();
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->setWindowModality(Qt::NonModal);
        alert->setWindowTitle(QStringLiteral("nasfinder"));
        alert->setText(IncompleteLanguageFileText(captions));
        alert->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        alert->show();
    }

    tableview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    const QHeaderView* header = tableview->horizontalHeader();
    for (int visual = 0; visual < header->count() && visual < kColumnCount; ++visual)
    {
        const int logical = header->logicalIndex(visual);
        ApplyCaption(
            captions.Entry(QString::fromLatin1(kColumnCaptionKeys[visual])),
            [this, logical](const QString& text) { rowModel->setHeaderData(logical, Qt::Horizontal, text); },
            [this, logical](const QFont& font)
            { rowModel->setHeaderData(logical, Qt::Horizontal, font, Qt::FontRole); });
    }

    CaptionControl(loginbutton, captions.Entry(QStringLiteral("Log In")));
    CaptionControl(refreshbutton, captions.Entry(QStringLiteral("Refresh")));
    CaptionControl(storagebutton, captions.Entry(QStringLiteral("My storage")));
    CaptionControl(addressesbutton, captions.Entry(QString::fromLatin1(kAddressesKey)));
    CaptionControl(openWebPageAction, captions.Entry(QString::fromLatin1(kOpenWebPageKey)));
    CaptionControl(openShareAction, captions.Entry(QString::fromLatin1(kOpenFileShareKey)));
    CaptionControl(copyAddressAction, captions.Entry(QString::fromLatin1(kCopyAddressKey)));
    CaptionControl(deviceListField, captions.Entry(QStringLiteral("Device List")));
    showStatusLine();
}

void Controller::showStatusLine()
{
    StatusLineState state;
    state.rowsShown = array_controller->rowCount();
    CDeviceSearchInterface* registry = CDeviceSearchInterface::GetInstance();
    registry->GetSearchStatus(state.search);
    state.chosenInterfaces = chosenInterfaces;
    state.searchEndedEmpty = counter >= kCountdownTicks && refreshbutton->isEnabled() && state.rowsShown == 0;
    state.listFull = registry->RefusedForFullList() > 0;
    state.maxDevices = CDeviceSearchInterface::kMaxDevices;
    state.openNotice = openNotice;
    // Asked of the system only for the notices that name it.
    if (state.search.broadcast_bound == 0)
        state.helperPath = QString::fromStdString(nasfinder::BroadcastHelperPath());
    const Captions captions = this->captions();
    // The line keeps one font, that of its first part.
    if (const std::optional<QFont> font = captions.Font(kStatusLineFontKey))
        statusField->setFont(*font);
    statusField->setText(StatusLineText(state, captions));
}

bool Controller::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window && event->type() == QEvent::Close)
        windowWillClose();
    return QObject::eventFilter(watched, event);
}

Captions Controller::captions() const
{
    return Captions(parseOperation.get());
}

void Controller::setRows(const QList<DeviceRow>& rows)
{
    device = rows;
    SetModelRows(*rowModel, device);
    updateRowActions();
    showStatusLine();
}

void Controller::setButtonsEnabled(bool enabled)
{
    loginbutton->setEnabled(enabled);
    refreshbutton->setEnabled(enabled);
    storagebutton->setEnabled(enabled);
    updateRowActions();
}

std::optional<QString> Controller::selectedAddress() const
{
    const QModelIndexList selected = tableview->selectionModel()->selectedRows();
    if (selected.size() != 1)
        return std::nullopt;
    const int row = array_controller->mapToSource(selected.first()).row();
    if (row < 0 || row >= device.size())
        return std::nullopt;
    return device.at(row).value(kRowIP);
}

std::optional<QString> Controller::openableSelectedAddress(const char* purpose) const
{
    const std::optional<QString> address = selectedAddress();
    if (address && !IsSafeDeviceAddress(*address))
    {
        qWarning("not %s for \"%s\": not an IPv4 address or host name", purpose, Inert(*address).constData());
        return std::nullopt;
    }
    return address;
}

void Controller::openSelectedDevice(const QString& scheme)
{
    if (const std::optional<QString> address = selectedAddress())
    {
        openNotice = OpenDeviceAddress(scheme, *address, resolveName, captions(), desktopOpener, this,
                                       [this](const QString& notice)
                                       {
                                           openNotice = notice;
                                           showStatusLine();
                                       });
        showStatusLine();
    }
}

void Controller::updateRowActions()
{
    const std::optional<QString> address = selectedAddress();
    const bool enabled = loginbutton->isEnabled() && address && IsSafeDeviceAddress(*address);
    for (QAction* action : rowMenu->actions())
        action->setEnabled(enabled);
}
