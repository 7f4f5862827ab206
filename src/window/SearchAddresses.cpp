#include "SearchAddresses.h"

#include "DeviceSearchInterface.h"
#include "DeviceAddress.h"
#include "HostAddress.h"
#include "net/UnicastAddress.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

#include <string>
#include <vector>

namespace
{
const char kSettingsKey[] = "search/addresses";

QSettings UserSettings()
{
    // On Linux: $XDG_CONFIG_HOME/nasfinder/nasfinder.conf.
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("nasfinder"),
                     QStringLiteral("nasfinder"));
}

const char kTitleKey[] = "Search Addresses";
const char kTitleText[] = "Search Addresses";
const char kNoteKey[] = "Search Addresses Note";
const char kNoteText[] = "A device beyond a router or a VPN does not hear the broadcast. Each address listed "
                         "here is also searched, at every search.";
const char kAddKey[] = "Add";
const char kAddText[] = "Add";
const char kRemoveKey[] = "Remove";
const char kRemoveText[] = "Remove";
const char kNotAnAddressKey[] = "Not A Device Address";
const char kNotAnAddressText[] = "Not a device's IPv4 address: %1";
} // namespace

std::optional<QString> SearchAddressFromText(const QString& text)
{
    // A subnet's broadcast address would make the "unicast" search a broadcast.
    const std::optional<std::uint32_t> address = nasfinder::ParseCanonicalIPv4(text.trimmed().toStdString());
    if (!address || !IsSearchableUnicastAddress(*address, LocalInterfacesNow()))
        return std::nullopt;
    return QString::fromStdString(nasfinder::IPv4Text(*address));
}

QStringList LoadSearchAddresses()
{
    QStringList addresses;
    // A hand-edited file may hold anything; only device addresses are searched.
    for (const QString& text : UserSettings().value(QString::fromLatin1(kSettingsKey)).toStringList())
    {
        const std::optional<QString> address = SearchAddressFromText(text);
        if (address && !addresses.contains(*address))
            addresses.append(*address);
    }
    return addresses;
}

void SaveSearchAddresses(const QStringList& addresses)
{
    QSettings settings = UserSettings();
    settings.setValue(QString::fromLatin1(kSettingsKey), addresses);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning("nasfinder: could not save the search addresses in %s", qPrintable(settings.fileName()));
}

void UseSearchAddresses(const QStringList& addresses)
{
    std::vector<std::string> texts;
    for (const QString& address : addresses)
        texts.push_back(address.toStdString());
    CDeviceSearchInterface::GetInstance()->SetSearchAddresses(texts);
}

SearchAddressesDialog::SearchAddressesDialog(const QStringList& addresses, const Caption& caption,
                                             QWidget* parent)
    : QDialog(parent), list(new QListWidget(this)), entry(new QLineEdit(this)),
      addButton(new QPushButton(this)), removeButton(new QPushButton(this)), problem(new QLabel(this)),
      caption(caption)
{
    setWindowTitle(caption(kTitleKey, kTitleText));
    auto* note = new QLabel(caption(kNoteKey, kNoteText), this);
    note->setWordWrap(true);
    list->addItems(addresses);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    entry->setPlaceholderText(QStringLiteral("198.18.20.10"));
    addButton->setText(caption(kAddKey, kAddText));
    removeButton->setText(caption(kRemoveKey, kRemoveText));
    // One line whether it says something or not, so that the field and the
    // buttons stay where they are when it fills or empties.
    problem->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    problem->setFixedHeight(fontMetrics().lineSpacing());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);

    auto* adding = new QHBoxLayout;
    adding->addWidget(entry, 1);
    adding->addWidget(addButton);
    auto* closing = new QHBoxLayout;
    closing->addWidget(removeButton);
    closing->addStretch(1);
    closing->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(note);
    layout->addWidget(list, 1);
    layout->addLayout(adding);
    layout->addWidget(problem);
    layout->addLayout(closing);

    // Return in the field adds; it must not close the dialog.
    addButton->setAutoDefault(false);
    removeButton->setAutoDefault(false);
    buttons->button(QDialogButtonBox::Close)->setAutoDefault(false);
    connect(entry, &QLineEdit::returnPressed, this, &SearchAddressesDialog::addTyped);
    connect(addButton, &QPushButton::clicked, this, &SearchAddressesDialog::addTyped);
    connect(removeButton, &QPushButton::clicked, this, &SearchAddressesDialog::removeSelected);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    resize(360, 300);
}

QStringList SearchAddressesDialog::addresses() const
{
    QStringList addresses;
    for (int row = 0; row < list->count(); ++row)
        addresses.append(list->item(row)->text());
    return addresses;
}

void SearchAddressesDialog::addTyped()
{
    const QString typed = entry->text().trimmed();
    if (typed.isEmpty())
        return;
    const std::optional<QString> address = SearchAddressFromText(typed);
    if (!address)
    {
        const QString text = caption(kNotAnAddressKey, kNotAnAddressText);
        sayProblem(text.contains(QLatin1String("%1")) ? text.arg(typed) : text);
        return;
    }
    sayProblem(QString());
    entry->clear();
    const QList<QListWidgetItem*> known = list->findItems(*address, Qt::MatchExactly);
    if (!known.isEmpty())
    {
        list->setCurrentItem(known.first());
        return;
    }
    list->addItem(*address);
    list->setCurrentRow(list->count() - 1);
    emit addressesChanged(addresses());
}

void SearchAddressesDialog::sayProblem(const QString& text)
{
    problemText = text;
    problem->setToolTip(text);
    problem->setText(
        problem->fontMetrics().elidedText(text, Qt::ElideRight, problem->contentsRect().width()));
}

void SearchAddressesDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    // The captions' font comes after the dialog is made.
    if (event->type() == QEvent::FontChange)
        problem->setFixedHeight(QFontMetrics(font()).lineSpacing());
}

void SearchAddressesDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    sayProblem(problemText);
}

void SearchAddressesDialog::removeSelected()
{
    const int row = list->currentRow();
    if (row < 0)
        return;
    delete list->takeItem(row);
    emit addressesChanged(addresses());
}
