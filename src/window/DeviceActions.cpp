#include "DeviceActions.h"

#include "Captions.h"
#include "Controller.h"
#include "DeviceDetails.h"
#include "LanguageLoad.h"
#include "ListExport.h"
#include "SearchAddresses.h"
#include "WakeOnLan.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
#include <QSortFilterProxyModel>
#include <QTableView>

namespace
{
// The row menu's entries; the English text is the key itself.
const char kOpenWebPageKey[] = "Open Web Page";
const char kOpenFileShareKey[] = "Open File Share";
const char kCopyAddressKey[] = "Copy Address";
const char kWakeKey[] = "Wake";
const char kForgetKey[] = "Forget";
const char kAddressesKey[] = "Addresses";
const char kDetailsKey[] = "Details";
const char kDetailsText[] = "Details…";
const char kCopyKey[] = "Copy";
const char kCloseKey[] = "Close";
const char kSaveListKey[] = "Save List";
const char kSaveListText[] = "Save List…";
} // namespace

DeviceActions::DeviceActions(QTableView* table, const DeviceRowModel& model, Controller& controller,
                             const LanguageLoad& language, QWidget* window)
    : QObject(window), rowMenu(new QMenu(table)), m_table(table), m_model(model), m_controller(controller),
      m_language(language), m_window(window)
{
    openWebPageAction =
        rowMenu->addAction(QString::fromLatin1(kOpenWebPageKey), this, &DeviceActions::onLogin);
    openShareAction =
        rowMenu->addAction(QString::fromLatin1(kOpenFileShareKey), this, &DeviceActions::onGotoStorage);
    copyAddressAction =
        rowMenu->addAction(QString::fromLatin1(kCopyAddressKey), this, &DeviceActions::onCopyAddress);
    wakeAction = rowMenu->addAction(QString::fromLatin1(kWakeKey), this, &DeviceActions::onWake);
    forgetAction = rowMenu->addAction(QString::fromLatin1(kForgetKey), this, &DeviceActions::onForget);
    detailsAction = rowMenu->addAction(QString::fromUtf8(kDetailsText), this, &DeviceActions::onDetails);
    detailsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    // The shortcut works whether the menu is open or not.
    window->addAction(detailsAction);
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(table, &QWidget::customContextMenuRequested, this, &DeviceActions::showRowMenu);
    connect(&controller, &Controller::searchingChanged, this, &DeviceActions::updateActions);
    connect(&controller, &Controller::rowsChanged, this, &DeviceActions::updateActions);
    updateActions();
}

std::optional<DeviceRow> DeviceActions::selectedRow() const
{
    const QModelIndexList selected = m_table->selectionModel()->selectedRows();
    if (selected.size() != 1)
        return std::nullopt;
    const auto* sorted = static_cast<const QSortFilterProxyModel*>(m_table->model());
    const int row = sorted->mapToSource(selected.first()).row();
    if (row < 0 || row >= m_model.rows().size())
        return std::nullopt;
    return m_model.rows().at(row);
}

void DeviceActions::onLogin()
{
    openSelectedDevice(QStringLiteral("http"));
}

void DeviceActions::onGotoStorage()
{
    openSelectedDevice(QStringLiteral("smb"));
}

void DeviceActions::onCopyAddress()
{
    if (const std::optional<QString> address = openableSelectedAddress("copying the address"))
        QGuiApplication::clipboard()->setText(*address);
}

void DeviceActions::onWake()
{
    if (const std::optional<DeviceRow> row = selectedRow())
        m_controller.wake(*row);
}

void DeviceActions::onForget()
{
    if (const std::optional<DeviceRow> row = selectedRow())
        m_controller.forget(*row);
}

void DeviceActions::onDetails()
{
    const std::optional<DeviceRow> row = selectedRow();
    if (!row)
        return;
    if (detailsDialog)
        detailsDialog->close();
    const Captions captions(&m_language);
    auto* dialog =
        new DeviceDetails(DetailsText(*row, captions, m_model.madeAt()),
                          captions.Text(kDetailsKey, "Details").remove(QChar(0x2026)),
                          captions.Text(kCopyKey, kCopyKey), captions.Text(kCloseKey, kCloseKey), m_window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (const std::optional<QFont> font = captions.Font(kDetailsKey))
        dialog->setFont(*font);
    detailsDialog = dialog;
    dialog->open();
}

void DeviceActions::onSaveList()
{
    if (saveDialog)
    {
        saveDialog->raise();
        return;
    }
    const Captions captions(&m_language);
    // Qt's own dialog, the same on every desktop and for assistive technology.
    auto* dialog = new QFileDialog(m_window, captions.Text(kSaveListKey, kSaveListText).remove(QChar(0x2026)),
                                   QDir::homePath(), QStringLiteral("CSV (*.csv)"));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("csv"));
    dialog->selectFile(QStringLiteral("nasfinder-devices.csv"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this,
            [this](const QString& path)
            {
                const Captions captions(&m_language);
                const QString why = SaveTable(*m_table, path);
                m_controller.setActionNotice(
                    why.isEmpty()
                        ? Filled(captions.Text("List Saved", "The list was saved to %1."), path)
                        : Filled(captions.Text("List Not Saved", "The list could not be saved: %1"), why));
            });
    saveDialog = dialog;
    dialog->open();
}

void DeviceActions::onSearchAddresses()
{
    if (addressesDialog)
    {
        addressesDialog->raise();
        addressesDialog->activateWindow();
        return;
    }
    const Captions captions(&m_language);
    addressesDialog = new SearchAddressesDialog(
        LoadSearchAddresses(),
        [captions](const char* key, const char* english) { return captions.Text(key, english); }, m_window,
        LoadSearchAddressNames());
    addressesDialog->resolveName = resolveName;
    addressesDialog->setAttribute(Qt::WA_DeleteOnClose);
    // The language's font, so that Chinese is drawn with Chinese shapes.
    if (const std::optional<QFont> font = captions.Font(kAddressesKey))
        addressesDialog->setFont(*font);
    connect(addressesDialog, &SearchAddressesDialog::addressesChanged, this,
            [this](const QStringList& addresses)
            {
                m_controller.setSearchAddresses(addresses);
                if (addressesDialog)
                    SaveSearchAddressNames(addressesDialog->names());
            });
    connect(addressesDialog, &SearchAddressesDialog::followUpsChanged, &m_controller,
            &Controller::setFollowUps);
    addressesDialog->open();
}

void DeviceActions::showRowMenu(const QPoint& pos)
{
    const QModelIndex index = m_table->indexAt(pos);
    if (!index.isValid())
        return;
    m_table->selectRow(index.row());
    updateActions();
    rowMenu->popup(m_table->viewport()->mapToGlobal(pos));
}

void DeviceActions::updateActions()
{
    const std::optional<DeviceRow> row = selectedRow();
    const bool idle = !m_controller.searching();
    const bool openable = idle && row && IsSafeDeviceAddress(row->address);
    const bool silent = row && !row->answering;
    openWebPageAction->setEnabled(openable && !silent);
    openShareAction->setEnabled(openable && !silent);
    copyAddressAction->setEnabled(openable);
    detailsAction->setEnabled(row.has_value());
    wakeAction->setVisible(silent);
    forgetAction->setVisible(silent);
    // Waking needs the MAC; a device beyond a router has none.
    wakeAction->setEnabled(silent && idle && m_controller.session().Waking() == nullptr &&
                           nasknown::ParseMac(row->mac.toStdString()).has_value());
    forgetAction->setEnabled(silent && idle);
}

void DeviceActions::applyCaptions()
{
    const Captions captions(&m_language);
    CaptionControl(openWebPageAction, captions.Entry(QString::fromLatin1(kOpenWebPageKey)));
    CaptionControl(openShareAction, captions.Entry(QString::fromLatin1(kOpenFileShareKey)));
    CaptionControl(copyAddressAction, captions.Entry(QString::fromLatin1(kCopyAddressKey)));
    CaptionControl(detailsAction, captions.Entry(QString::fromLatin1(kDetailsKey)));
    CaptionControl(wakeAction, captions.Entry(QString::fromLatin1(kWakeKey)));
    CaptionControl(forgetAction, captions.Entry(QString::fromLatin1(kForgetKey)));
}

std::optional<QString> DeviceActions::openableSelectedAddress(const char* purpose) const
{
    const std::optional<DeviceRow> row = selectedRow();
    if (row && !IsSafeDeviceAddress(row->address))
    {
        qWarning("not %s for \"%s\": not an IPv4 address or host name", purpose,
                 Inert(row->address).constData());
        return std::nullopt;
    }
    if (!row)
        return std::nullopt;
    return row->address;
}

void DeviceActions::openSelectedDevice(const QString& scheme)
{
    const std::optional<DeviceRow> row = selectedRow();
    // A device that did not answer has nothing to open.
    if (!row || !row->answering)
        return;
    const QString notice =
        OpenDeviceAddress(scheme, row->address, resolveName, Captions(&m_language), desktopOpener, this,
                          [this](const QString& later) { m_controller.setActionNotice(later); });
    m_controller.setActionNotice(notice);
}
