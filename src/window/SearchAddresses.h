// The addresses the user asks the window to search beyond the local network (a
// device behind a router or a VPN, which no broadcast reaches): kept in the
// user's settings, handed to the library, and edited in a small dialog.
#ifndef NASFINDER_SEARCHADDRESSES_H
#define NASFINDER_SEARCHADDRESSES_H

#include <QDialog>
#include <QMap>
#include <QSettings>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "DeviceAddress.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// The user's settings file: $XDG_CONFIG_HOME/nasfinder/nasfinder.conf.
QSettings NasfinderSettings();
// Keeps one setting there at once; a line on standard error when it cannot.
void SaveSetting(const char* key, const QVariant& value);

// The canonical form of a typed device address ("198.18.20.10"), or nothing
// for a text that is no device's IPv4 address (a name, another notation, a
// group, a broadcast, a local subnet's network or broadcast address, this
// computer's own loopback, ...).
std::optional<QString> SearchAddressFromText(const QString& text);

// The saved addresses, from the user's settings file (QSettings, organisation
// and application "nasfinder": $XDG_CONFIG_HOME/nasfinder/nasfinder.conf, by
// default ~/.config/nasfinder/nasfinder.conf). Each once, in the order added;
// an entry that is no device's address is left out.
QStringList LoadSearchAddresses();
void SaveSearchAddresses(const QStringList& addresses);

// The names the user typed for some of them, by address: shown beside the
// address, never looked up again (the address is what is searched).
QMap<QString, QString> LoadSearchAddressNames();
void SaveSearchAddressNames(const QMap<QString, QString>& names);

class SearchAddressesDialog : public QDialog
{
    Q_OBJECT
public:
    // A caption of the language file by its key, or the English text.
    using Caption = std::function<QString(const char* key, const char* english)>;

    SearchAddressesDialog(const QStringList& addresses, const Caption& caption, QWidget* parent = nullptr,
                          const QMap<QString, QString>& names = {});

    QStringList addresses() const;
    // The names typed for the addresses listed, by address.
    QMap<QString, QString> names() const;

    // Looks a typed name up, off the UI thread; tests give their own.
    NameResolver resolveName = &nasfinder::ResolveIPv4;

public slots:
    // Adds the typed address, or the address a typed name resolves to (looked
    // up once, now, without freezing the window), or says below the list why
    // it is neither.
    void addTyped();
    void removeSelected();

signals:
    void addressesChanged(const QStringList& addresses);
    void followUpsChanged(bool on);

public:
    // The controls, open to tests.
    QListWidget* list;
    QLineEdit* entry;
    QPushButton* addButton;
    QPushButton* removeButton;
    QLabel* problem;
    // Whether the known devices that do not answer are searched at their
    // last addresses (FollowUpSetting.h).
    QCheckBox* followUps;

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Shows text on the problem line, cut with an ellipsis where it is too
    // long for the line, all of it in the line's tooltip.
    void sayProblem(const QString& text);
    void add(const QString& address, const QString& name);
    void lookedUp(const QString& name, const nasfinder::ResolvedName& resolved);

    Caption caption;
    QString problemText;
};

#endif
