#include "AppDelegate.h"

#include "Controller.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QColor>
#include <QIcon>
#include <QMainWindow>
#include <QPalette>
#include <QTimer>

// The language files and the icon are compiled into this static library; a
// library's resources are registered only when something references them.
static void InitApplicationResources()
{
    Q_INIT_RESOURCE(nasfinder);
}

AppDelegate::AppDelegate() = default;

AppDelegate::~AppDelegate()
{
    // The controller watches the window, so it goes first.
    ownedController.reset();
    ownedWindow.reset();
}

void AppDelegate::loadWindowLayout()
{
    InitApplicationResources();
    ownedWindow = std::make_unique<QMainWindow>();
    window = ownedWindow.get();
    Ui::MainWindow ui;
    ui.setupUi(window);
    window->setWindowIcon(QIcon(QStringLiteral(":/nasfinder.png")));
    ownedController = std::make_unique<Controller>(window, ui);
    controller = ownedController.get();
}

void AppDelegate::awakeFromNib()
{
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, QColor::fromRgbF(0.13f, 0.29f, 0.67f, 1.0f));
    // Dark text would be unreadable on that blue.
    palette.setColor(QPalette::WindowText, Qt::white);
    window->setPalette(palette);
    window->setAutoFillBackground(true);
    qInfo("application awakeFromNib........");
}

void AppDelegate::applicationDidFinishLaunching()
{
    qInfo("applicationDidFinishLaunching........");
}

int ApplicationMain(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("nasfinder"));
    QApplication::setDesktopFileName(QStringLiteral("nasfinder"));

    AppDelegate delegate;
    delegate.loadWindowLayout();
    delegate.awakeFromNib();
    delegate.controller->awakeFromNib();
    delegate.window->show();
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
