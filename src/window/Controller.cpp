#include "Controller.h"

#include "Captions.h"
#include "DeviceOpener.h"
#include "DeviceSearchInterface.h"
#include "DeviceTable.h"
#include "KnownList.h"
#include "Neighbours.h"
#include "NotificationCenter.h"
#include "OperationQueue.h"
#include "ParseOperation.h"
#include "SearchAddresses.h"
#include "SearchStart.h"
#include "ProcessPrivileges.h"
#include "StatusLine.h"
#include "ui_MainWindow.h"

#include <QAction>
#include <QCheckBox>
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
#include <QTableView>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>

namespace
{
// A search follows the registry at each one-second tick of its countdown.
constexpr int kTickMilliseconds = 1000;
// The row menu's entries; the English text is the key itself.
const char kOpenWebPageKey[] = "Open Web Page";
const char kOpenFileShareKey[] = "Open File Share";
const char kCopyAddressKey[] = "Copy Address";
const char kAddressesKey[] = "Addresses";
const char kWakeKey[] = "Wake";
const char kForgetKey[] = "Forget";
const char kShowNotAnsweringKey[] = "Show Not Answering";
const char kKnownNotKeptKey[] = "Known Not Kept";
const char kKnownNotKeptText[] = "The list of known devices cannot be kept: %1";
constexpr qint64 kWakeWaitMilliseconds = qint64(nasfinder::kWakeSeconds) * 1000;
static_assert(nasfinder::kWakeSeconds == 180, "the \"Not Woken\" caption says 3 minutes, in every language");

std::int64_t Now()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::string FieldString(const char (&field)[kDeviceFieldSize])
{
    return std::string(field, ::strnlen(field, kDeviceFieldSize));
}
// Fewer language entries than this means a broken file: the user is told.
constexpr std::size_t kMinLanguageEntries = 5;
} // namespace

Controller::Controller(QMainWindow* window, const Ui::MainWindow& ui, QObject* parent)
    : QObject(parent), array_controller(new QSortFilterProxyModel(this)), tableview(ui.tableview),
      loginbutton(ui.loginbutton), refreshbutton(ui.refreshbutton), storagebutton(ui.storagebutton),
      addressesbutton(ui.addressesbutton), countdownField(ui.countdownField),
      deviceListField(ui.deviceListField), statusField(ui.statusField),
      showNotAnsweringBox(ui.showNotAnsweringBox), window(window), rowModel(new DeviceRowModel(this))
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
    wakeAction = rowMenu->addAction(QString::fromLatin1(kWakeKey), this, &Controller::onWake);
    forgetAction = rowMenu->addAction(QString::fromLatin1(kForgetKey), this, &Controller::onForget);
    localLinks = []
    {
        std::vector<LocalInterface> interfaces;
        ListLocalInterfaces(interfaces);
        return nasknown::BroadcastLinks(interfaces);
    };
    connect(showNotAnsweringBox, &QCheckBox::toggled, this, &Controller::onShowNotAnswering);
    wakeSearchTimer.setInterval(std::chrono::seconds(nasfinder::kWatchSeconds));
    connect(&wakeSearchTimer, &QTimer::timeout, this, &Controller::startSearch);
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
    if (rememberer.joinable())
        rememberer.join();
}

void Controller::awakeFromNib()
{
    device.clear();
    startLanguageFile(PreferredLanguages(QProcessEnvironment::systemEnvironment()), QStringLiteral(":"));

    searchAddresses = LoadSearchAddresses();
    {
        const QSignalBlocker quiet(showNotAnsweringBox);
        showNotAnsweringBox->setChecked(LoadShowNotAnswering());
    }
    const nasknown::StoreResult loaded = knownStore.Load(knownDevices);
    if (!loaded.movedAside.empty())
        qWarning("nasfinder: %s", loaded.movedAside.c_str());
    if (!loaded.ok)
        qWarning("nasfinder: the known devices cannot be read: %s", loaded.error.c_str());
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
    if (waking)
        followWake(vListDevice);

    if (!searchDriver.Over(std::chrono::seconds(counter)))
    {
        ++counter;
        const QString captionText = captions().Text("Search Time", "");
        countdownField->setText(QStringLiteral("%1 %2").arg(
            captionText, QString::number(searchDriver.SecondsLeft(std::chrono::seconds(counter)))));
        qInfo("vListDevice.size() = %ld", static_cast<long>(vListDevice.size()));

        // Rebuilt whenever what the rows show differs, not only when the
        // number of devices changes: a device that leaves while another
        // arrives must not stay listed with its old address.
        answered = vListDevice;
        const QList<DeviceRow> rows = RowsFromDevices(vListDevice, SeenNowText(captions()));
        if (rows != device)
            setRows(rows);
        return;
    }

    // Idle: the table keeps its rows until the next Refresh.
    if (refreshbutton->isEnabled())
        return;
    setButtonsEnabled(true);
    countdownField->setText(QString());
    // The devices that did not answer follow the answering ones, once the
    // search is over and not before: the countdown shows what answers.
    setRows(rowsAfterSearch(answered));
    rememberAnswers(answered);
}

bool Controller::searchIsOver() const
{
    return searchDriver.Over(std::chrono::seconds(counter)) && refreshbutton->isEnabled();
}

QList<DeviceRow> Controller::rowsAfterSearch(const std::vector<deviceinfo>& live) const
{
    const Captions captions = this->captions();
    QList<DeviceRow> rows = RowsFromDevices(live, SeenNowText(captions));
    if (!showNotAnsweringBox->isChecked())
        return rows;
    QList<DeviceRow> silent = NotAnsweringRows(knownDevices, live, captions, Now());
    for (DeviceRow& row : silent)
    {
        if (waking && row.value(kRowVendor).toStdString() == waking->vendor &&
            row.value(kRowId).toStdString() == waking->id)
            row.insert(kRowLastSeen, WakingText(captions, waking->since.elapsed() / 1000));
    }
    rows.append(silent);
    return rows;
}

void Controller::showRowsAfterSearch()
{
    const QList<DeviceRow> rows = rowsAfterSearch(answered);
    if (rows != device)
        setRows(rows);
}

void Controller::rememberAnswers(const std::vector<deviceinfo>& live)
{
    std::vector<nasknown::KnownDevice> sightings;
    sightings.reserve(live.size());
    const std::int64_t now = Now();
    for (const deviceinfo& record : live)
        sightings.push_back(nasknown::SightingFromRecord(record, now));
    if (rememberer.joinable())
        rememberer.join();
    // The neighbour table may need a moment to learn a MAC, and the store's
    // lock may be held by a scan: neither may freeze the window.
    rememberer = std::thread(
        [this, sightings = std::move(sightings), store = knownStore, find = findLinks]() mutable
        {
            find(sightings);
            std::vector<nasknown::KnownDevice> known;
            nasknown::StoreResult result = store.Update([&sightings](std::vector<nasknown::KnownDevice>& list)
                                                        { nasknown::Remember(list, sightings); },
                                                        &known);
            QMetaObject::invokeMethod(
                this,
                [this, known = std::move(known), result = std::move(result)]() mutable
                { rememberDone(std::move(known), std::move(result)); },
                Qt::QueuedConnection);
        });
}

void Controller::rememberDone(std::vector<nasknown::KnownDevice> known, nasknown::StoreResult result)
{
    // What answered is shown as answering whatever the store says of it now;
    // the rows change only when a device not answering does (a MAC learned,
    // a device forgotten to make room).
    const bool silentChanged = !SameNotAnswering(knownDevices, known, answered);
    knownDevices = std::move(known);
    if (!result.movedAside.empty())
        qWarning("nasfinder: %s", result.movedAside.c_str());
    knownNotice = result.ok ? QString()
                            : Filled(captions().Text(kKnownNotKeptKey, kKnownNotKeptText),
                                     QString::fromStdString(result.error));
    if (!result.ok)
        qWarning("nasfinder: the known devices cannot be kept: %s", result.error.c_str());
    // During a countdown the rows are the countdown's.
    if (searchIsOver() && silentChanged)
        showRowsAfterSearch();
    showStatusLine();
#ifdef __GLIBC__
    // Reading and writing a store of a thousand devices took a few hundred
    // kilobytes, partly in the remembering thread's own heap: give them back.
    malloc_trim(0);
#endif
}

void Controller::followWake(const std::vector<deviceinfo>& live)
{
    const auto woken = std::find_if(live.begin(), live.end(),
                                    [this](const deviceinfo& record) {
                                        return FieldString(record.factory) == waking->vendor &&
                                               FieldString(record.id) == waking->id;
                                    });
    const bool answers = woken != live.end();
    const Captions captions = this->captions();
    if (answers)
    {
        wakeNotice = Filled(captions.Text("Woken", "%1 answers again."), waking->name);
        // It joins the answering rows of the search shown.
        if (searchIsOver())
            answered.push_back(*woken);
    }
    else if (waking->since.elapsed() >= kWakeWaitMilliseconds)
        wakeNotice = Filled(captions.Text("Not Woken", "%1 did not answer within 3 minutes."), waking->name);
    else
    {
        // The row counts the seconds, after the countdown's rows.
        if (searchIsOver())
            showRowsAfterSearch();
        return;
    }
    waking.reset();
    wakeSearchTimer.stop();
    if (searchIsOver())
    {
        showRowsAfterSearch();
        if (answers)
            rememberAnswers(answered);
    }
    showStatusLine();
}

void Controller::sendSearch()
{
    // repeatTimer was armed for the next send, so its time is the search's
    // now; the pauses between sends are the schedule's own, as a timer that
    // fires late delays what follows rather than crowding it.
    const std::optional<nasfinder::SearchDriver::Time> now = searchDriver.NextSendAt();
    if (!now || !searchDriver.Take(*now).send)
        return;
    CDeviceSearchInterface::GetInstance()->SendSearchDeviceCommand(nullptr);
    if (const std::optional<nasfinder::SearchDriver::Time> next = searchDriver.NextSendAt())
        repeatTimer.start(std::chrono::duration_cast<std::chrono::milliseconds>(*next - *now));
    else
        repeatTimer.stop();
}

void Controller::startSearch()
{
    searchDriver.Start();
    sendSearch();
}

void Controller::onRefresh()
{
    openNotice.clear();
    // What came of a wake stays said until the next search, unless it goes on.
    if (!waking)
        wakeNotice.clear();
    counter = 0;
    setButtonsEnabled(false);
    std::vector<deviceinfo>().swap(answered);
    setRows({});
    CDeviceSearchInterface* registry = CDeviceSearchInterface::GetInstance();
    registry->ClearDeviceList();
#ifdef __GLIBC__
    // The rows, the devices that answered and the registry's list of a large
    // list (a flood of forged devices) are freed above, but the C library
    // keeps the freed pages for later; hand them back so that the window
    // shrinks again.
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

void Controller::onWake()
{
    const std::optional<DeviceRow> row = selectedRow();
    if (!row || !IsNotAnsweringRow(*row) || waking)
        return;
    const Captions captions = this->captions();
    const QString name = row->value(kRowHomeHost).isEmpty() ? row->value(kRowIP) : row->value(kRowHomeHost);
    const std::optional<nasknown::MacAddress> mac = nasknown::ParseMac(row->value(kRowMac).toStdString());
    if (!mac)
    {
        wakeNotice =
            Filled(captions.Text("Cannot Wake", "%1 cannot be woken: its MAC address is not known."), name);
        showStatusLine();
        return;
    }
    const std::string vendor = row->value(kRowVendor).toStdString();
    const std::string id = row->value(kRowId).toStdString();
    std::string interfaceName;
    for (const nasknown::KnownDevice& known : knownDevices)
    {
        if (known.vendor == vendor && known.id == id)
            interfaceName = known.interfaceName;
    }
    std::string error = "no interface " + interfaceName;
    for (const nasknown::Link& link : localLinks())
    {
        if (link.interfaceName == interfaceName)
        {
            error = wakeSender(*mac, {link.interfaceName, link.Broadcast()});
            break;
        }
    }
    if (!error.empty())
    {
        wakeNotice = Filled(captions.Text("Wake Not Sent", "The wake-up packet could not be sent: %1"),
                            QString::fromStdString(error));
        qWarning("nasfinder: %s", qPrintable(wakeNotice));
        showStatusLine();
        return;
    }
    waking = Waking{vendor, id, name, QElapsedTimer()};
    waking->since.start();
    wakeNotice.clear();
    // The usual search, again every watch round until the device answers.
    startSearch();
    wakeSearchTimer.start();
    showRowsAfterSearch();
}

void Controller::onForget()
{
    const std::optional<DeviceRow> row = selectedRow();
    if (!row || !IsNotAnsweringRow(*row))
        return;
    const std::string vendor = row->value(kRowVendor).toStdString();
    const std::string id = row->value(kRowId).toStdString();
    const nasknown::StoreResult result = knownStore.Update(
        [&vendor, &id](std::vector<nasknown::KnownDevice>& list)
        {
            list.erase(std::remove_if(list.begin(), list.end(),
                                      [&](const nasknown::KnownDevice& k)
                                      { return k.vendor == vendor && k.id == id; }),
                       list.end());
        },
        &knownDevices);
    knownNotice = result.ok ? QString()
                            : Filled(captions().Text(kKnownNotKeptKey, kKnownNotKeptText),
                                     QString::fromStdString(result.error));
    showRowsAfterSearch();
}

void Controller::onShowNotAnswering(bool show)
{
    SaveShowNotAnswering(show);
    if (searchIsOver())
        showRowsAfterSearch();
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
        [captions](const char* key, const char* english) { return captions.Text(key, english); }, window,
        LoadSearchAddressNames());
    addressesDialog->resolveName = resolveName;
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
    if (addressesDialog)
        SaveSearchAddressNames(addressesDialog->names());
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
            captions.Entry(QString::fromLatin1(kDeviceColumns[visual].captionKey)),
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
    CaptionControl(wakeAction, captions.Entry(QString::fromLatin1(kWakeKey)));
    CaptionControl(forgetAction, captions.Entry(QString::fromLatin1(kForgetKey)));
    CaptionControl(showNotAnsweringBox, captions.Entry(QString::fromLatin1(kShowNotAnsweringKey)));
    CaptionControl(deviceListField, captions.Entry(QStringLiteral("Device List")));
    showStatusLine();
}

void Controller::showStatusLine()
{
    StatusLineState state;
    // The devices that answered: a known one that did not is no find.
    state.rowsShown = static_cast<int>(std::count_if(
        device.begin(), device.end(), [](const DeviceRow& row) { return !IsNotAnsweringRow(row); }));
    CDeviceSearchInterface* registry = CDeviceSearchInterface::GetInstance();
    registry->GetSearchStatus(state.search);
    state.chosenInterfaces = chosenInterfaces;
    state.searchEndedEmpty = searchIsOver() && state.rowsShown == 0;
    state.searchesAddresses = !searchAddresses.isEmpty();
    state.listFull = registry->RefusedForFullList() > 0;
    state.maxDevices = CDeviceSearchInterface::kMaxDevices;
    state.openNotice = openNotice;
    state.knownNotice = knownNotice;
    state.wakeNotice = wakeNotice;
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
    // A row the user selected stays selected when the rows are rebuilt
    // under it (a MAC learned, a wake's seconds counting).
    const std::optional<DeviceRow> selected = selectedRow();
    device = rows;
    rowModel->setRows(device);
    if (selected)
    {
        for (int row = 0; row < device.size(); ++row)
        {
            const DeviceRow& candidate = device.at(row);
            if (candidate.value(kRowIP) == selected->value(kRowIP) &&
                candidate.value(kRowId) == selected->value(kRowId) &&
                IsNotAnsweringRow(candidate) == IsNotAnsweringRow(*selected))
            {
                tableview->selectRow(array_controller->mapFromSource(rowModel->index(row, 0)).row());
                break;
            }
        }
    }
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

std::optional<DeviceRow> Controller::selectedRow() const
{
    const QModelIndexList selected = tableview->selectionModel()->selectedRows();
    if (selected.size() != 1)
        return std::nullopt;
    const int row = array_controller->mapToSource(selected.first()).row();
    if (row < 0 || row >= device.size())
        return std::nullopt;
    return device.at(row);
}

std::optional<QString> Controller::selectedAddress() const
{
    if (const std::optional<DeviceRow> row = selectedRow())
        return row->value(kRowIP);
    return std::nullopt;
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
    // A device that did not answer has nothing to open.
    if (const std::optional<DeviceRow> row = selectedRow(); row && IsNotAnsweringRow(*row))
        return;
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
    const std::optional<DeviceRow> row = selectedRow();
    const std::optional<QString> address = selectedAddress();
    const bool enabled = loginbutton->isEnabled() && address && IsSafeDeviceAddress(*address);
    const bool silent = row && IsNotAnsweringRow(*row);
    openWebPageAction->setEnabled(enabled && !silent);
    openShareAction->setEnabled(enabled && !silent);
    copyAddressAction->setEnabled(enabled);
    // Waking needs the MAC; a device beyond a router has none.
    wakeAction->setVisible(silent);
    forgetAction->setVisible(silent);
    wakeAction->setEnabled(silent && loginbutton->isEnabled() && !waking &&
                           nasknown::ParseMac(row->value(kRowMac).toStdString()).has_value());
    forgetAction->setEnabled(silent && loginbutton->isEnabled());
}
