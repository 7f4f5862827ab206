#include "MainWindow.h"

#include "Captions.h"
#include "KnownList.h"
#include "StatusLine.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHeaderView>
#include <QKeySequence>
#include <QLineEdit>
#include <QMessageBox>
#include <QShortcut>

#include <cstdio>
#include <cstdlib>

namespace
{
const char kAddressesKey[] = "Addresses";
const char kShowNotAnsweringKey[] = "Show Not Answering";
const char kFilterKey[] = "Filter";
const char kSaveListKey[] = "Save List";
// Fewer language entries than this means a broken file: the user is told.
constexpr std::size_t kMinLanguageEntries = 5;
} // namespace

MainWindow::MainWindow(nasfinder::SessionSettings settings, nasfinder::SessionHooks hooks, QWidget* parent)
    : QMainWindow(parent), model(new DeviceRowModel(this)), sorted(new DeviceFilter(*model, this)),
      controller(new Controller(language, std::move(settings), std::move(hooks), this))
{
    ui.setupUi(this);
    ui.tableview->setModel(sorted);
    actions = new DeviceActions(ui.tableview, *model, *controller, language, this);
    columns = new ColumnChooser(ui.tableview, *sorted, language, this);
    // The status line repeats what a device sent (an address not opened):
    // shown as text, never read as markup.
    ui.statusField->setTextFormat(Qt::PlainText);

    // Rows stay in the order they came until the user clicks a header: no
    // sort column yet, and the view's own sorting stays off because turning it
    // on sorts at once. Each column is as wide as its texts, and the last
    // takes the room left (ColumnChooser).
    QHeaderView* header = ui.tableview->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    header->setSectionResizeMode(QHeaderView::Interactive);
    // What the user chose last time: the columns, their widths and order, the
    // sort, the window's size and place.
    columns->restore();
    connect(header, &QHeaderView::sortIndicatorChanged, this, &MainWindow::onSortChanged);

    connect(ui.filterField, &QLineEdit::textChanged, this,
            [this](const QString& text)
            {
                // The clear button shows over a text only; turned on with the
                // first text, the style's icon for it (a read of the icon
                // theme) is not looked up at every start.
                if (!text.isEmpty())
                    ui.filterField->setClearButtonEnabled(true);
                sorted->setFilterText(text);
                showStatus();
            });
    auto* findKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this);
    connect(findKey, &QShortcut::activated, this,
            [this]
            {
                ui.filterField->setFocus(Qt::ShortcutFocusReason);
                ui.filterField->selectAll();
            });
    auto* clearKey =
        new QShortcut(QKeySequence(Qt::Key_Escape), ui.filterField, nullptr, nullptr, Qt::WidgetShortcut);
    connect(clearKey, &QShortcut::activated, ui.filterField, &QLineEdit::clear);
    auto* saveKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_S), this);
    connect(saveKey, &QShortcut::activated, ui.savebutton, &QPushButton::click);
    connect(ui.savebutton, &QPushButton::clicked, actions, &DeviceActions::onSaveList);

    connect(ui.loginbutton, &QPushButton::clicked, actions, &DeviceActions::onLogin);
    connect(ui.storagebutton, &QPushButton::clicked, actions, &DeviceActions::onGotoStorage);
    connect(ui.refreshbutton, &QPushButton::clicked, controller, &Controller::refresh);
    connect(ui.addressesbutton, &QPushButton::clicked, actions, &DeviceActions::onSearchAddresses);
    // A double click opens nothing: the buttons say which service to open.
    connect(ui.tableview->selectionModel(), &QItemSelectionModel::selectionChanged, actions,
            &DeviceActions::updateActions);
    {
        const QSignalBlocker quiet(ui.showNotAnsweringBox);
        ui.showNotAnsweringBox->setChecked(LoadShowNotAnswering());
    }
    connect(ui.showNotAnsweringBox, &QCheckBox::toggled, controller, &Controller::setShowNotAnswering);

    // A disabled button ignores click(), so neither key can restart a running countdown.
    auto* refreshKeys = new QShortcut(this);
    refreshKeys->setKeys({QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_R)});
    connect(refreshKeys, &QShortcut::activated, ui.refreshbutton, &QPushButton::click);

    connect(controller, &Controller::countdownChanged, ui.countdownField, &QLabel::setText);
    connect(controller, &Controller::searchingChanged, this,
            [this](bool searching) { setButtonsEnabled(!searching); });
    connect(controller, &Controller::rowsChanged, this, &MainWindow::showRows);
    connect(controller, &Controller::statusChanged, this, &MainWindow::showStatus);
    connect(&language, &LanguageLoad::loaded, this, &MainWindow::applyCaptions);
    showStatus();
}

void MainWindow::start(const QStringList& preferredLanguages, const QString& resourceDir)
{
    language.start(preferredLanguages, resourceDir);
    controller->start();
}

void MainWindow::applyCaptions()
{
    const Captions captions(&language);
    if (language.entryCount() < kMinLanguageEntries)
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

    ui.tableview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int column = 0; column < kColumnCount; ++column)
    {
        ApplyCaption(
            captions.Entry(QString::fromLatin1(kDeviceColumns[static_cast<std::size_t>(column)].captionKey)),
            [this, column](const QString& text) { model->setHeaderData(column, Qt::Horizontal, text); },
            [this, column](const QFont& font)
            { model->setHeaderData(column, Qt::Horizontal, font, Qt::FontRole); });
    }
    model->setCaptions(captions);

    CaptionControl(ui.loginbutton, captions.Entry(QStringLiteral("Log In")));
    CaptionControl(ui.refreshbutton, captions.Entry(QStringLiteral("Refresh")));
    CaptionControl(ui.storagebutton, captions.Entry(QStringLiteral("My storage")));
    CaptionControl(ui.addressesbutton, captions.Entry(QString::fromLatin1(kAddressesKey)));
    CaptionControl(ui.savebutton, captions.Entry(QString::fromLatin1(kSaveListKey)));
    const QString filter = captions.Text(kFilterKey, kFilterKey);
    ui.filterField->setPlaceholderText(filter);
    ui.filterField->setAccessibleName(filter);
    if (const std::optional<QFont> font = captions.Font(kFilterKey))
        ui.filterField->setFont(*font);
    CaptionControl(ui.showNotAnsweringBox, captions.Entry(QString::fromLatin1(kShowNotAnsweringKey)));
    CaptionControl(ui.deviceListField, captions.Entry(QStringLiteral("Device List")));
    actions->applyCaptions();
    columns->applyCaptions();
    showStatus();
}

void MainWindow::onWindowClose()
{
    columns->save();
    // The library's detached worker threads are still blocked in their
    // sockets and nothing needs saving, so the process ends here rather than
    // unwinding static objects under running threads.
    std::fflush(stderr);
    std::fflush(stdout);
    std::_Exit(1);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    onWindowClose();
}

void MainWindow::showRows()
{
    // A row the user selected stays selected when the rows are rebuilt under
    // it (a MAC learned, a wake's seconds counting).
    const std::optional<DeviceRow> selected = actions->selectedRow();
    model->setRows(controller->rows(), controller->rowsMadeAt());
    if (selected)
    {
        const QList<DeviceRow>& rows = model->rows();
        for (int row = 0; row < rows.size(); ++row)
        {
            const DeviceRow& candidate = rows.at(row);
            if (candidate.address == selected->address && candidate.id == selected->id &&
                candidate.answering == selected->answering)
            {
                ui.tableview->selectRow(sorted->mapFromSource(model->index(row, 0)).row());
                break;
            }
        }
    }
    actions->updateActions();
    columns->fitColumns();
    showStatus();
}

void MainWindow::showStatus()
{
    StatusLineState state = controller->statusState();
    state.rowsShown = sorted->rowCount();
    state.rowsTotal = model->rowCount();
    state.answeringShown = sorted->answeringShown();
    const Captions captions(&language);
    // The line keeps one font, that of its first part.
    if (const std::optional<QFont> font = captions.Font(kStatusLineFontKey))
        ui.statusField->setFont(*font);
    ui.statusField->setText(StatusLineText(state, captions));
}

void MainWindow::setButtonsEnabled(bool enabled)
{
    ui.loginbutton->setEnabled(enabled);
    ui.refreshbutton->setEnabled(enabled);
    ui.storagebutton->setEnabled(enabled);
}

void MainWindow::onSortChanged(int column, Qt::SortOrder order)
{
    sorted->sort(column, order);
    qInfo("count=11111");
    columns->sorted(column, order);
}
