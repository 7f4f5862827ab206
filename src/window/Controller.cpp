#include "Controller.h"

#include "DeviceAddress.h"
#include "DeviceSearchInterface.h"
#include "NotificationCenter.h"
#include "OperationQueue.h"
#include "ParseOperation.h"
#include "SearchAddresses.h"
#include "ui_MainWindow.h"

#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLocale>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QUrl>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>

const QString kRowHomeHost = QStringLiteral("HomeHost");
const QString kRowIP = QStringLiteral("IP");
const QString kRowDeviceType = QStringLiteral("DeviceType");

namespace
{

// The row keys in column order, and the language keys of the first three columns.
const QString* const kColumnKeys[] = {&kRowHomeHost, &kRowIP, &kRowDeviceType};
const char* const kColumnCaptionKeys[] = {"List1", "List2", "List3"};

// A search follows the registry for this many ticks, counting down to 0.
constexpr qint32 kCountdownTicks = 11;
constexpr int kTickMilliseconds = 1000;
// The row menu's entries; the English text is the key itself.
const char kOpenWebPageKey[] = "Open Web Page";
const char kOpenFileShareKey[] = "Open File Share";
const char kCopyAddressKey[] = "Copy Address";
// The status line's entries, and their English text where the file has none.
const char kRowsShownKey[] = "Rows Shown";
const char kRowsShownText[] = "Devices shown: %1";
const char kAddressesKey[] = "Addresses";
// Between the row count and each notice on the status line.
const char kStatusSeparator[] = "  \u00b7  ";
const char kBroadcastUnavailableKey[] = "Broadcast Unavailable";
const char kBroadcastUnavailableText[] =
    "Only the SSDP search is running: this program may not use UDP port 67 for the broadcast search. "
    "Install the nasfinder package, or grant the privilege: sudo setcap cap_net_bind_service=+ep %1";
const char kBroadcastPortBusyKey[] = "Broadcast Port Busy";
const char kBroadcastPortBusyText[] =
    "Only the SSDP search is running: another program holds UDP port 67, which the broadcast search needs. "
    "Ports 67 and 68 are the DHCP ports: a DHCP server on this computer (such as dnsmasq, or a "
    "virtual-machine network) may hold it.";
// A chosen interface that cannot carry every search, by what keeps it; the
// English text is the scan's, with the interface as %1.
const char* InterfaceLimitKey(InterfaceLimit limit)
{
    switch (limit)
    {
    case InterfaceLimit::None:
        break;
    case InterfaceLimit::Loopback:
        return "Interface Loopback";
    case InterfaceLimit::Down:
        return "Interface Down";
    case InterfaceLimit::NoAddress:
        return "Interface Without Address";
    case InterfaceLimit::NoBroadcast:
        return "Interface Without Broadcast";
    }
    return nullptr;
}
const char kCannotOpenKey[] = "Cannot Open";
const char kCannotOpenText[] = "The desktop could not open %1; open it by hand.";

// The address the user asked to open, and why it was not.
const char kNotOpenedKey[] = "Not Opened";
const char kNotOpenedText[] = "Not opened: %1";
const char kFirewallHintKey[] = "Firewall Hint";
const char kFirewallHintText[] =
    "A firewall may drop the devices' answers: see the FIREWALL section of \"man nasfinder\".";

const char kListFullKey[] = "List Full";
const char kListFullText[] = "The list is full: it holds %1 devices, and further new devices are not added.";

// Fewer language entries than this means a broken file: the user is told.
constexpr std::size_t kMinLanguageEntries = 5;

QString FieldText(const char (&field)[kDeviceFieldSize])
{
    return QString::fromUtf8(field, static_cast<qsizetype>(strnlen(field, kDeviceFieldSize)));
}

void ApplyCaption(const std::optional<FontNode>& entry, const std::function<void(const QString&)>& setText,
                  const std::function<void(const QFont&)>& setFont)
{
    if (!entry)
        return;
    if (entry->String)
        setText(*entry->String);
    if (const std::optional<QFont> font = FontForEntry(*entry))
        setFont(*font);
}

template <class Control> void CaptionControl(Control* control, const std::optional<FontNode>& entry)
{
    ApplyCaption(
        entry, [control](const QString& text) { control->setText(text); },
        [control](const QFont& font) { control->setFont(font); });
}

// A caption's one placeholder filled in; a caption without one is shown as it is.
QString Filled(const QString& caption, const QString& value)
{
    return caption.contains(QLatin1String("%1")) ? caption.arg(value) : caption;
}

} // namespace

DeviceRow RowFromDevice(const deviceinfo& info)
{
    DeviceRow row;
    row.insert(kRowHomeHost, FieldText(info.host));
    row.insert(kRowIP, FieldText(info.ip));
    row.insert(kRowDeviceType, FieldText(info.product));
    return row;
}

Controller::Controller(QMainWindow* window, const Ui::MainWindow& ui, QObject* parent)
    : QObject(parent), array_controller(new QSortFilterProxyModel(this)), tableview(ui.tableview),
      loginbutton(ui.loginbutton), refreshbutton(ui.refreshbutton), storagebutton(ui.storagebutton),
      addressesbutton(ui.addressesbutton), countdownField(ui.countdownField),
      deviceListField(ui.deviceListField), statusField(ui.statusField), window(window),
      rowModel(new QStandardItemModel(0, 3, this))
{
    // Captions until the language file says otherwise.
    rowModel->setHorizontalHeaderLabels({tr("Host Name"), tr("IP Address"), tr("Product")});
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
    connect(refreshbutton, &QPushButton::clicked, this, &Controller::onRefreash);
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
    startLanguageFile(QLocale::system().uiLanguages(), QStringLiteral(":"));

    CDeviceSearchInterface* registry = CDeviceSearchInterface::GetInstance();
    searchAddresses = LoadSearchAddresses();
    UseSearchAddresses(searchAddresses);
    registry->DeviceSearchDllInit(nullptr, false, nullptr, true);
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
        const std::optional<FontNode> caption = languageEntry(QStringLiteral("Search Time"));
        const QString captionText = caption && caption->String ? *caption->String : QString();
        countdownField->setText(
            QStringLiteral("%1 %2").arg(captionText, QString::number(kCountdownTicks - counter)));
        qInfo("vListDevice.size() = %ld", static_cast<long>(vListDevice.size()));

        // Rebuilt whenever what the rows show differs, not only when the
        // number of devices changes: a device that leaves while another
        // arrives must not stay listed with its old address.
        QList<DeviceRow> rows;
        rows.reserve(static_cast<qsizetype>(vListDevice.size()));
        for (const deviceinfo& info : vListDevice)
            rows.append(RowFromDevice(info));
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

void Controller::onRefreash()
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
    addressesDialog = new SearchAddressesDialog(
        searchAddresses, [this](const char* key, const char* english) { return languageText(key, english); },
        window);
    addressesDialog->setAttribute(Qt::WA_DeleteOnClose);
    // The language's font, so that Chinese is drawn with Chinese shapes.
    if (const std::optional<FontNode> entry = languageEntry(QString::fromLatin1(kAddressesKey)))
    {
        if (const std::optional<QFont> font = FontForEntry(*entry))
            addressesDialog->setFont(*font);
    }
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
    if (!parseOperation || parseOperation->entryCount() < kMinLanguageEntries)
    {
        // Not attached to the window and not modal: nothing waits for the answer.
        auto* alert = new QMessageBox();
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->setWindowModality(Qt::NonModal);
        alert->setWindowTitle(QStringLiteral("nasfinder"));
        alert->setText(QStringLiteral("aaa"));
        alert->setInformativeText(QStringLiteral("bbb"));
        alert->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        alert->show();
    }

    tableview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    const QHeaderView* header = tableview->horizontalHeader();
    for (int visual = 0; visual < header->count() && visual < 3; ++visual)
    {
        const int logical = header->logicalIndex(visual);
        ApplyCaption(
            languageEntry(QString::fromLatin1(kColumnCaptionKeys[visual])),
            [this, logical](const QString& text) { rowModel->setHeaderData(logical, Qt::Horizontal, text); },
            [this, logical](const QFont& font)
            { rowModel->setHeaderData(logical, Qt::Horizontal, font, Qt::FontRole); });
    }

    CaptionControl(loginbutton, languageEntry(QStringLiteral("Log In")));
    CaptionControl(refreshbutton, languageEntry(QStringLiteral("Refresh")));
    CaptionControl(storagebutton, languageEntry(QStringLiteral("My storage")));
    CaptionControl(addressesbutton, languageEntry(QString::fromLatin1(kAddressesKey)));
    CaptionControl(openWebPageAction, languageEntry(QString::fromLatin1(kOpenWebPageKey)));
    CaptionControl(openShareAction, languageEntry(QString::fromLatin1(kOpenFileShareKey)));
    CaptionControl(copyAddressAction, languageEntry(QString::fromLatin1(kCopyAddressKey)));
    CaptionControl(deviceListField, languageEntry(QStringLiteral("Device List")));
    showStatusLine();
}

void Controller::showStatusLine()
{
    // Each entry in the file's language, or in English where the file has none.
    const auto caption = [this](const char* key, const char* english) { return languageText(key, english); };

    QStringList parts{
        Filled(caption(kRowsShownKey, kRowsShownText), QString::number(array_controller->rowCount()))};
    search_dll_status status{};
    CDeviceSearchInterface::GetInstance()->GetSearchStatus(status);
    const nasfinder::PortCheck broadcast = status.broadcast_bound != 0
                                               ? nasfinder::PortCheck::Available
                                               : nasfinder::PortCheckFromErrno(status.broadcast_error).state;
    switch (broadcast)
    {
    case nasfinder::PortCheck::Available:
        break;
    case nasfinder::PortCheck::NoPrivilege:
        parts.append(Filled(caption(kBroadcastUnavailableKey, kBroadcastUnavailableText),
                            QString::fromStdString(nasfinder::ProgramPath("nasfinder"))));
        break;
    case nasfinder::PortCheck::InUse:
    case nasfinder::PortCheck::Failed:
        parts.append(caption(kBroadcastPortBusyKey, kBroadcastPortBusyText));
        break;
    }
    for (const ChosenInterface& iface : chosenInterfaces)
    {
        if (const char* key = InterfaceLimitKey(iface.limit))
            parts.append(Filled(caption(key, InterfaceLimitText("%1", iface.limit).c_str()),
                                QString::fromStdString(iface.name)));
    }
    // Once the countdown is over and nothing was found: the commonest cause.
    if (counter >= kCountdownTicks && refreshbutton->isEnabled() && array_controller->rowCount() == 0)
        parts.append(caption(kFirewallHintKey, kFirewallHintText));
    if (CDeviceSearchInterface::GetInstance()->RefusedForFullList() > 0)
        parts.append(Filled(caption(kListFullKey, kListFullText),
                            QString::number(CDeviceSearchInterface::kMaxDevices)));
    if (!openNotice.isEmpty())
        parts.append(openNotice);
    // The line keeps one font, that of its first part.
    if (const std::optional<FontNode> entry = languageEntry(QString::fromLatin1(kRowsShownKey)))
    {
        if (const std::optional<QFont> font = FontForEntry(*entry))
            statusField->setFont(*font);
    }
    statusField->setText(parts.join(QString::fromUtf8(kStatusSeparator)));
}

bool Controller::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window && event->type() == QEvent::Close)
        windowWillClose();
    return QObject::eventFilter(watched, event);
}

std::optional<FontNode> Controller::languageEntry(const QString& key) const
{
    return parseOperation ? parseOperation->entry(key) : std::nullopt;
}

QString Controller::languageText(const char* key, const char* english) const
{
    const std::optional<FontNode> entry = languageEntry(QString::fromLatin1(key));
    return entry && entry->String ? *entry->String : QString::fromUtf8(english);
}

void Controller::setRows(const QList<DeviceRow>& rows)
{
    rowModel->removeRows(0, rowModel->rowCount());
    device = rows;
    for (const DeviceRow& row : device)
    {
        QList<QStandardItem*> items;
        for (const QString* key : kColumnKeys)
        {
            auto* item = new QStandardItem(row.value(*key));
            item->setEditable(false);
            items.append(item);
        }
        rowModel->appendRow(items);
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
        qWarning("not %s for \"%s\": not an IPv4 address or host name", purpose, qPrintable(*address));
        return std::nullopt;
    }
    return address;
}

void Controller::openSelectedDevice(const QString& scheme)
{
    const std::optional<QString> address = selectedAddress();
    if (!address)
        return;
    // A name is looked up once, here, and the URL gets the address that was
    // checked: the browser's own look-up could otherwise lead to this computer.
    const OpenTarget target = CheckedOpenTarget(*address, OwnIPv4Addresses(), resolveName);
    if (target.address.isEmpty())
    {
        qWarning("not opening %s for \"%s\": %s", qPrintable(scheme), qPrintable(*address),
                 qPrintable(target.refusal));
        setOpenNotice(Filled(languageText(kNotOpenedKey, kNotOpenedText),
                             QStringLiteral("%1 (%2)").arg(*address, target.refusal)));
        return;
    }
    const QUrl url(scheme + QStringLiteral("://") + target.address, QUrl::StrictMode);
    if (!url.isValid())
    {
        qWarning("not opening %s for \"%s\": %s", qPrintable(scheme), qPrintable(*address),
                 qPrintable(url.errorString()));
        return;
    }
    openWithDesktop(url);
}

void Controller::openWithDesktop(const QUrl& url)
{
    // False where the desktop has nothing to open the address with.
    const bool opened = QDesktopServices::openUrl(url);
    if (!opened)
        qWarning("the desktop could not open %s", qPrintable(url.toString()));
    setOpenNotice(opened ? QString() : Filled(languageText(kCannotOpenKey, kCannotOpenText), url.toString()));
}

void Controller::setOpenNotice(const QString& notice)
{
    openNotice = notice;
    showStatusLine();
}

void Controller::updateRowActions()
{
    const std::optional<QString> address = selectedAddress();
    const bool enabled = loginbutton->isEnabled() && address && IsSafeDeviceAddress(*address);
    for (QAction* action : rowMenu->actions())
        action->setEnabled(enabled);
}
