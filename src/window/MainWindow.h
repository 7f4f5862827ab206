// The window: its widgets from the layout, the table's model with the filter
// and the sorting the user chooses, and the wiring between them, the search
// and the actions.
#ifndef NASFINDER_MAINWINDOW_H
#define NASFINDER_MAINWINDOW_H

#include "ColumnChooser.h"
#include "Controller.h"
#include "DeviceActions.h"
#include "DeviceFilter.h"
#include "DeviceTable.h"
#include "LanguageLoad.h"
#include "SearchSession.h"
#include "ui_MainWindow.h"

#include <QMainWindow>
#include <QStringList>

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(nasfinder::SessionSettings settings,
                        nasfinder::SessionHooks hooks = nasfinder::SessionHooks(), QWidget* parent = nullptr);

    // Reads the language file chosen by the user's languages (under
    // resourceDir), then starts the search.
    void start(const QStringList& preferredLanguages, const QString& resourceDir);

    // The widgets, the language file, the search and the actions: open to
    // tests as they are to the window.
    Ui::MainWindow ui;
    LanguageLoad language;
    DeviceRowModel* model;
    DeviceFilter* sorted;
    Controller* controller;
    DeviceActions* actions;
    ColumnChooser* columns;

public slots:
    // The language file's captions and fonts on every control.
    void applyCaptions();
    // Closing the window is the way to quit: the process ends with status 1.
    void onWindowClose();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void showRows();
    void showStatus();
    void setButtonsEnabled(bool enabled);
    void onSortChanged(int column, Qt::SortOrder order);
};

#endif
