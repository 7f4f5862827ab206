// What the user can do with the selected device and the list: open its web
// page or file share, copy its address, read its details, wake or forget a
// known device that did not answer, save the list as shown, and edit the
// addresses searched beyond the local network.
// One action each, in the row's menu and behind the buttons; each is on only
// where it can be done.
#ifndef NASFINDER_DEVICEACTIONS_H
#define NASFINDER_DEVICEACTIONS_H

#include "DeviceAddress.h"
#include "DeviceOpener.h"
#include "DeviceTable.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class Controller;
class LanguageLoad;
class QAction;
class QDialog;
class QFileDialog;
class QMenu;
class QPoint;
class QTableView;
class QWidget;
class SearchAddressesDialog;

class DeviceActions : public QObject
{
    Q_OBJECT
public:
    // The rows are `model`'s, shown by `table` through a sorting model.
    DeviceActions(QTableView* table, const DeviceRowModel& model, Controller& controller,
                  const LanguageLoad& language, QWidget* window);

    // The one row the user selected, in the model's terms.
    std::optional<DeviceRow> selectedRow() const;

    QMenu* rowMenu;
    QAction* openWebPageAction;
    QAction* openShareAction;
    QAction* copyAddressAction;
    QAction* detailsAction;
    // Only on the row of a known device that did not answer.
    QAction* wakeAction;
    QAction* forgetAction;
    // How a name is looked up when the user opens it, and how the desktop is
    // asked to open an address: tests choose.
    NameResolver resolveName = &nasfinder::ResolveIPv4;
    DesktopOpener desktopOpener = DefaultDesktopOpener();
    // While open.
    QPointer<SearchAddressesDialog> addressesDialog;
    QPointer<QDialog> detailsDialog;
    QPointer<QFileDialog> saveDialog;

public slots:
    void onLogin();
    void onGotoStorage();
    void onCopyAddress();
    void onWake();
    void onForget();
    void onDetails();
    void onSaveList();
    void onSearchAddresses();
    // A right click (or the menu key) on a row selects it and opens its menu.
    void showRowMenu(const QPoint& pos);
    // Which actions can be done now.
    void updateActions();
    void applyCaptions();

private:
    std::optional<QString> openableSelectedAddress(const char* purpose) const;
    void openSelectedDevice(const QString& scheme);

    QTableView* m_table;
    const DeviceRowModel& m_model;
    Controller& m_controller;
    const LanguageLoad& m_language;
    QWidget* m_window;
};

#endif
