#include "SearchAddresses.h"

#include "Captions.h"
#include "DeviceAddress.h"
#include "FollowUpSetting.h"
#include "HostAddress.h"
#include "NetworkInterfaces.h"
#include "UserSettings.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QThread>
#include <QVBoxLayout>

#include <memory>

#include <string>
#include <vector>

namespace
{
const char kSettingsKey[] = "search/addresses";
const char kNamesKey[] = "search/names";

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
const char kLookingUpKey[] = "Looking Up";
const char kLookingUpText[] = "Looking up %1\u2026";
const char kNotResolvedKey[] = "Name Not Resolved";
const char kNotResolvedText[] = "%1 does not resolve to a device's address: %2";

// A listed address, with the name it was typed as beside it.
QString ItemText(const QString& address, const QString& name)
{
    return name.isEmpty() ? address : QStringLiteral("%1  (%2)").arg(address, name);
}
} // namespace

QSettings NasfinderSettings()
{
    // On Linux: $XDG_CONFIG_HOME/nasfinder/nasfinder.conf, in a folder of the user's own.
    return UserSettings();
}

void SaveSetting(const char* key, const QVariant& value)
{
    QSettings settings = NasfinderSettings();
    settings.setValue(QString::fromLatin1(key), value);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning("nasfinder: could not save the setting in %s", qPrintable(settings.fileName()));
}

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
    for (const QString& text : NasfinderSettings().value(QString::fromLatin1(kSettingsKey)).toStringList())
    {
        const std::optional<QString> address = SearchAddressFromText(text);
        if (address && !addresses.contains(*address))
            addresses.append(*address);
    }
    return addresses;
}

void SaveSearchAddresses(const QStringList& addresses)
{
    QSettings settings = NasfinderSettings();
    settings.setValue(QString::fromLatin1(kSettingsKey), addresses);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning("nasfinder: could not save the search addresses in %s", qPrintable(settings.fileName()));
}

QMap<QString, QString> LoadSearchAddressNames()
{
    QMap<QString, QString> names;
    const QVariantMap kept = NasfinderSettings().value(QString::fromLatin1(kNamesKey)).toMap();
    for (auto it = kept.begin(); it != kept.end(); ++it)
    {
        const QString name = it.value().toString();
        if (SearchAddressFromText(it.key()) && IsSafeDeviceAddress(name))
            names.insert(it.key(), name);
    }
    return names;
}

void SaveSearchAddressNames(const QMap<QString, QString>& names)
{
    QVariantMap kept;
    for (auto it = names.begin(); it != names.end(); ++it)
        kept.insert(it.key(), it.value());
    QSettings settings = NasfinderSettings();
    settings.setValue(QString::fromLatin1(kNamesKey), kept);
    settings.sync();
}

SearchAddressesDialog::SearchAddressesDialog(const QStringList& addresses, const Caption& caption,
                                             QWidget* parent, const QMap<QString, QString>& names)
    : QDialog(parent), list(new QListWidget(this)), entry(new QLineEdit(this)),
      addButton(new QPushButton(this)), removeButton(new QPushButton(this)), problem(new QLabel(this)),
      followUps(new QCheckBox(this)), caption(caption)
{
    setWindowTitle(caption(kTitleKey, kTitleText));
    auto* note = new QLabel(caption(kNoteKey, kNoteText), this);
    note->setWordWrap(true);
    for (const QString& address : addresses)
    {
        auto* item = new QListWidgetItem(ItemText(address, names.value(address)), list);
        item->setData(Qt::UserRole, address);
        item->setData(Qt::UserRole + 1, names.value(address));
    }
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    entry->setPlaceholderText(QStringLiteral("198.18.20.10 / nas.example"));
    addButton->setText(caption(kAddKey, kAddText));
    removeButton->setText(caption(kRemoveKey, kRemoveText));
    followUps->setText(caption(kFollowUpsKey, kFollowUpsText));
    followUps->setChecked(LoadFollowUps());
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
    layout->addWidget(followUps);
    layout->addLayout(closing);

    // Return in the field adds; it must not close the dialog.
    addButton->setAutoDefault(false);
    removeButton->setAutoDefault(false);
    buttons->button(QDialogButtonBox::Close)->setAutoDefault(false);
    connect(entry, &QLineEdit::returnPressed, this, &SearchAddressesDialog::addTyped);
    connect(addButton, &QPushButton::clicked, this, &SearchAddressesDialog::addTyped);
    connect(removeButton, &QPushButton::clicked, this, &SearchAddressesDialog::removeSelected);
    connect(followUps, &QCheckBox::toggled, this, &SearchAddressesDialog::followUpsChanged);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    resize(360, 300);
}

QStringList SearchAddressesDialog::addresses() const
{
    QStringList addresses;
    for (int row = 0; row < list->count(); ++row)
        addresses.append(list->item(row)->data(Qt::UserRole).toString());
    return addresses;
}

QMap<QString, QString> SearchAddressesDialog::names() const
{
    QMap<QString, QString> names;
    for (int row = 0; row < list->count(); ++row)
    {
        const QString name = list->item(row)->data(Qt::UserRole + 1).toString();
        if (!name.isEmpty())
            names.insert(list->item(row)->data(Qt::UserRole).toString(), name);
    }
    return names;
}

void SearchAddressesDialog::addTyped()
{
    const QString typed = entry->text().trimmed();
    if (typed.isEmpty())
        return;
    const std::optional<QString> address = SearchAddressFromText(typed);
    if (address)
    {
        sayProblem(QString());
        entry->clear();
        add(*address, QString());
        return;
    }
    // A name that no URL or resolver could read as a number is looked up.
    if (!IsSafeDeviceAddress(typed) || nasfinder::ParseCanonicalIPv4(typed.toStdString()))
    {
        sayProblem(Filled(caption(kNotAnAddressKey, kNotAnAddressText), typed));
        return;
    }
    sayProblem(Filled(caption(kLookingUpKey, kLookingUpText), typed));
    addButton->setEnabled(false);
    entry->setEnabled(false);
    auto resolved = std::make_shared<nasfinder::ResolvedName>();
    QThread* lookup = QThread::create([resolved, resolve = resolveName, name = typed.toStdString()]
                                      { *resolved = resolve(name); });
    // Dropped with the dialog if it closes first; the thread ends on its own.
    connect(lookup, &QThread::finished, this, [this, typed, resolved] { lookedUp(typed, *resolved); });
    connect(lookup, &QThread::finished, lookup, &QObject::deleteLater);
    lookup->start();
}

void SearchAddressesDialog::lookedUp(const QString& name, const nasfinder::ResolvedName& resolved)
{
    addButton->setEnabled(true);
    entry->setEnabled(true);
    QStringList found;
    const std::vector<LocalInterface> local = LocalInterfacesNow();
    for (std::uint32_t address : resolved.addresses)
    {
        if (IsSearchableUnicastAddress(address, local))
        {
            sayProblem(QString());
            entry->clear();
            add(QString::fromStdString(nasfinder::IPv4Text(address)), name);
            return;
        }
        found.append(QString::fromStdString(nasfinder::IPv4Text(address)));
    }
    const QString why =
        found.isEmpty() ? QString::fromStdString(resolved.error) : found.join(QStringLiteral(", "));
    sayProblem(Filled(caption(kNotResolvedKey, kNotResolvedText), {name, why}));
}

void SearchAddressesDialog::add(const QString& address, const QString& name)
{
    for (int row = 0; row < list->count(); ++row)
    {
        if (list->item(row)->data(Qt::UserRole).toString() == address)
        {
            list->setCurrentRow(row);
            return;
        }
    }
    auto* item = new QListWidgetItem(ItemText(address, name), list);
    item->setData(Qt::UserRole, address);
    item->setData(Qt::UserRole + 1, name);
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
