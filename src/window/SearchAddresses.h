// The addresses the user asks the window to search beyond the local network (a
// device behind a router or a VPN, which no broadcast reaches): kept in the
// user's settings, handed to the library, and edited in a small dialog.
#ifndef NASFINDER_SEARCHADDRESSES_H
#define NASFINDER_SEARCHADDRESSES_H

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

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

// The library searches these at every search from now on.
void UseSearchAddresses(const QStringList& addresses);

class SearchAddressesDialog : public QDialog
{
    Q_OBJECT
public:
    // A caption of the language file by its key, or the English text.
    using Caption = std::function<QString(const char* key, const char* english)>;

    SearchAddressesDialog(const QStringList& addresses, const Caption& caption, QWidget* parent = nullptr);

    QStringList addresses() const;

public slots:
    // Adds the typed address, or says below the list why it is not one.
    void addTyped();
    void removeSelected();

signals:
    void addressesChanged(const QStringList& addresses);

public:
    // The controls, open to tests.
    QListWidget* list;
    QLineEdit* entry;
    QPushButton* addButton;
    QPushButton* removeButton;
    QLabel* problem;

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Shows text on the problem line, cut with an ellipsis where it is too
    // long for the line, all of it in the line's tooltip.
    void sayProblem(const QString& text);

    Caption caption;
    QString problemText;
};

#endif
