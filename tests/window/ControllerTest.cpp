// The window controller driven as its timer and buttons would drive it, over
// the real device registry and a recording stand-in for the discovery
// library's entry points (FakeSearchLib), so they run anywhere. The process
// entry runs in child processes, each in an empty network namespace of its own
// (tools/testbed/netns-run.sh), and skips where none can be made: the real window binary for
// its arguments, and CloseChild, which starts the real library.
#include "AppDelegate.h"
#include "Controller.h"
#include "DeviceRecord.h"
#include "DeviceSearchInterface.h"
#include "FakeSearchLib.h"
#include "Captions.h"
#include "KnownList.h"
#include "KnownStore.h"
#include "ParseOperation.h"
#include "SearchAddresses.h"
#include "SearchSchedule.h"
#include "WindowTestSupport.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QFile>
#include <QMainWindow>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QUrl>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

// Records what the window hands to the desktop to open.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QStringList opened;
public slots:
    void open(const QUrl& url) { opened.append(url.toString()); }
};

namespace
{

// A search reply from a device of an accepted vendor; each case names the rest.
testsupport::RecordBuilder Device()
{
    return testsupport::MakeRecord().Factory("tavik");
}

CDeviceSearchInterface* Registry()
{
    return CDeviceSearchInterface::GetInstance();
}

void Add(deviceinfo info)
{
    Registry()->AddDeviceInfo(info);
}

} // namespace

class ControllerTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { CDeviceSearchInterface::SetPrintStream(stderr); }

    void SetUp() override
    {
        g_fakeSearchLib = FakeSearchLib{};
        TestApplication();
        QFile::remove(KnownPath());
        delegate.loadWindowLayout();
        delegate.awakeFromNib();
        c = delegate.controller;
        c->awakeFromNib();
        // Nothing is asked of the kernel and no packet leaves: every device
        // answers on a link of its own with one MAC, and a wake is recorded.
        c->findLinks = [](std::vector<nasknown::KnownDevice>& seen)
        {
            for (nasknown::KnownDevice& device : seen)
                device = Linked(device);
        };
        c->localLinks = [] { return std::vector<nasknown::Link>{{"eth0", 2, 0xC6120001u, 0xFFFF0000u}}; };
        c->wakeSender = [this](const nasknown::MacAddress& mac, const nasknown::WakeTarget& target)
        {
            wakes.push_back(nasknown::MacText(mac) + " " + target.interfaceName + " " +
                            nasfinder::IPv4Text(target.subnetBroadcast));
            return std::string();
        };
        // The test is the timer.
        c->mytimer.stop();
        Registry()->ClearDeviceList();
        ASSERT_TRUE(c->parseOperation);
        WaitForParse(*c);
        CloseAlerts();
    }

    void TearDown() override
    {
        if (c != nullptr)
            Registry()->ClearDeviceList();
    }

    void Tick(int times = 1)
    {
        for (int i = 0; i < times; ++i)
            c->getDeviceList();
    }

    bool ButtonsEnabled() const
    {
        const bool on = c->loginbutton->isEnabled();
        EXPECT_EQ(c->refreshbutton->isEnabled(), on);
        EXPECT_EQ(c->storagebutton->isEnabled(), on);
        return on;
    }

    // The rows as the table shows them: host, IP, product of each visible row.
    QStringList Shown() const
    {
        QStringList shown;
        const QAbstractItemModel* model = c->tableview->model();
        for (int row = 0; row < model->rowCount(); ++row)
        {
            QStringList cells;
            for (int column = 0; column < 3; ++column)
                cells.append(model->index(row, column).data().toString());
            shown.append(cells.join(u'|'));
        }
        return shown;
    }

    // A caption of the language file in use, its %1, %2 filled in.
    QString Text(const char* key, const QStringList& values = {}) const
    {
        return Filled(c->parseOperation->entry(QString::fromLatin1(key))->String.value_or(""), values);
    }

    // The status line's count, as the language file in use words it.
    QString RowCount(int rows) const
    {
        return c->parseOperation->entry("Rows Shown")->String.value_or("").arg(rows);
    }

    // Shown and active, as the window is for the user: keys reach its
    // shortcuts, and its table has its real size.
    void ShowWindow()
    {
        delegate.window->show();
        delegate.window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(delegate.window));
    }

    static QString KnownPath() { return TestConfigHome() + "/nasfinder/devices.json"; }

    static nasknown::KnownDevice Linked(nasknown::KnownDevice device)
    {
        device.interfaceName = "eth0";
        device.mac = "02:00:5e:10:00:01";
        return device;
    }

    // Every cell of every row, the last seen column included.
    QStringList ShownWithLastSeen() const
    {
        QStringList shown;
        const QAbstractItemModel* model = c->tableview->model();
        for (int row = 0; row < model->rowCount(); ++row)
        {
            QStringList cells;
            for (int column = 0; column < model->columnCount(); ++column)
                cells.append(model->index(row, column).data().toString());
            shown.append(cells.join(u'|'));
        }
        return shown;
    }

    AppDelegate delegate;
    Controller* c = nullptr;
    std::vector<std::string> wakes;
};

TEST_F(ControllerTest, CountdownThenIdle)
{
    const QString caption = c->parseOperation->entry("Search Time")->String.value_or("");
    ASSERT_FALSE(caption.isEmpty());
    EXPECT_FALSE(ButtonsEnabled());

    Tick();
    EXPECT_EQ(c->countdownField->text(), caption + " " + QString::number(nasfinder::kSearchSeconds - 1));
    Tick(nasfinder::kSearchSeconds - 2);
    EXPECT_EQ(c->countdownField->text(), caption + " 1");
    EXPECT_FALSE(ButtonsEnabled());
    Tick();
    EXPECT_EQ(c->countdownField->text(), caption + " 0");
    EXPECT_FALSE(ButtonsEnabled());
    EXPECT_FALSE(c->statusField->text().contains("firewall")) << "only once the search has ended";
    Tick();
    EXPECT_EQ(c->countdownField->text(), "");
    EXPECT_TRUE(ButtonsEnabled());
    // Nothing found: the status line says where to look; where no interface
    // could carry the search, that instead.
    EXPECT_EQ(c->statusField->text(),
              RowCount(0) + "  \u00b7  " + c->parseOperation->entry("Firewall Hint")->String.value_or(""));
    g_fakeSearchLib.status.search_interfaces = 0;
    c->onRefresh();
    c->repeatTimer.stop();
    Tick(nasfinder::kSearchSeconds + 1);
    EXPECT_EQ(c->statusField->text(),
              RowCount(0) + "  \u00b7  " + c->parseOperation->entry("No Interface")->String.value_or(""));
    Tick(3);
    EXPECT_EQ(c->countdownField->text(), "");
    EXPECT_TRUE(ButtonsEnabled());
}

TEST_F(ControllerTest, RowsFollowTheRegistryDuringTheCountdownThenFreeze)
{
    CapturedLog log;
    Tick();
    EXPECT_TRUE(Shown().isEmpty());

    Add(Device().Id("id-z").Ip("198.18.1.1").Host("zeta").Product("NAS-2"));
    Add(Device().Id("id-a").Ip("198.18.1.2").Host("alpha").Product("NAS-4"));
    Tick();
    // Registry order, not sorted by any column.
    EXPECT_EQ(Shown(), QStringList({"zeta|198.18.1.1|NAS-2", "alpha|198.18.1.2|NAS-4"}));
    EXPECT_TRUE(log.lines().contains("vListDevice.size() = 2"));
    EXPECT_EQ(c->statusField->text(), RowCount(2));

    Tick(nasfinder::kSearchSeconds - 2);
    EXPECT_EQ(c->counter, nasfinder::kSearchSeconds);
    Add(Device().Id("id-late").Ip("198.18.1.3").Host("late").Product("NAS-1"));
    Tick();
    EXPECT_EQ(Shown().size(), 2);
    Registry()->ClearDeviceList();
    Tick(2);
    EXPECT_EQ(Shown().size(), 2) << "after the countdown the table keeps its rows until Refresh";
}

// Regression: a device that left while another arrived in the same second kept
// its row (and its address for "Log In"), because only a change in the number
// of devices rebuilt the table.
TEST_F(ControllerTest, StaleRowWhenADeviceIsReplacedWithinOneTick)
{
    Add(Device().Id("id-1").Ip("198.18.1.1").Host("one").Product("P"));
    Tick();
    ASSERT_EQ(Shown(), QStringList({"one|198.18.1.1|P"}));
    Registry()->ClearDeviceList();
    Add(Device().Id("id-2").Ip("198.18.1.2").Host("two").Product("P"));
    Tick();
    EXPECT_EQ(Shown(), QStringList({"two|198.18.1.2|P"}));
    // A listed device whose record changes in place shows the change.
    Add(Device().Id("id-2").Ip("198.18.1.2").Host("two").Product("Q"));
    Tick();
    EXPECT_EQ(Shown(), QStringList({"two|198.18.1.2|Q"}));
}

TEST_F(ControllerTest, StartAndRefreshEachSendTheSearchWithItsRepeats)
{
    // Start-up: the library once, with its log off, no log directory, every
    // local address searched, and the registry's own handler; then the search
    // with the standard packet, at once, and its repeats as they fall due.
    EXPECT_EQ(g_fakeSearchLib.initCalls, 1);
    EXPECT_FALSE(g_fakeSearchLib.bLogEnable);
    EXPECT_EQ(g_fakeSearchLib.logDir, nullptr);
    EXPECT_TRUE(g_fakeSearchLib.bMultiIP);
    EXPECT_EQ(g_fakeSearchLib.callback, &CDeviceSearchInterface::SearchDeviceRecallHandle);
    EXPECT_EQ(g_fakeSearchLib.sendCalls, 1);
    EXPECT_EQ(g_fakeSearchLib.lastPacket, nullptr);

    // The test is the repeat timer too. A device answering every send stays
    // one row: the table is not rebuilt for a repeat.
    const auto& times = nasfinder::kSearchSendTimes;
    QSignalSpy rebuilt(c->tableview->model(), &QAbstractItemModel::modelReset);
    for (std::size_t send = 1; send < times.size(); ++send)
    {
        Add(Device().Id("id-1").Ip("198.18.1.1").Host("one").Product("P"));
        Tick();
        ASSERT_TRUE(c->repeatTimer.isActive());
        EXPECT_EQ(c->repeatTimer.intervalAsDuration(), times[send] - times[send - 1]);
        c->repeatTimer.stop();
        c->sendSearch();
        EXPECT_EQ(g_fakeSearchLib.sendCalls, static_cast<int>(send) + 1);
    }
    EXPECT_FALSE(c->repeatTimer.isActive()) << "the last send arms nothing";
    Add(Device().Id("id-1").Ip("198.18.1.1").Host("one").Product("P"));
    Tick();
    EXPECT_EQ(Shown(), QStringList({"one|198.18.1.1|P"}));
    EXPECT_EQ(rebuilt.size(), 1);

    Tick(nasfinder::kSearchSeconds + 1);
    EXPECT_EQ(g_fakeSearchLib.sendCalls, static_cast<int>(times.size())) << "ticks only read the list";
    c->refreshbutton->click();
    EXPECT_EQ(g_fakeSearchLib.sendCalls, static_cast<int>(times.size()) + 1);
    EXPECT_TRUE(c->repeatTimer.isActive()) << "Refresh starts the repeats again";
    c->repeatTimer.stop();
    EXPECT_EQ(g_fakeSearchLib.lastPacket, nullptr);
    EXPECT_EQ(g_fakeSearchLib.initCalls, 1);
    EXPECT_EQ(g_fakeSearchLib.exitCalls, 0);

    // F5 and Ctrl+R are Refresh, and do nothing while it is disabled.
    ShowWindow();
    for (const QKeyCombination key : {QKeyCombination(Qt::Key_F5), Qt::CTRL | Qt::Key_R})
    {
        const int before = g_fakeSearchLib.sendCalls;
        QTest::keyClick(delegate.window, key.key(), key.keyboardModifiers());
        EXPECT_EQ(g_fakeSearchLib.sendCalls, before) << "the countdown runs";
        Tick(nasfinder::kSearchSeconds + 1);
        QTest::keyClick(delegate.window, key.key(), key.keyboardModifiers());
        EXPECT_EQ(g_fakeSearchLib.sendCalls, before + 1);
        EXPECT_FALSE(ButtonsEnabled());
        c->repeatTimer.stop();
    }
}

// The addresses searched beyond the LAN: typed in the dialog, kept in the
// user's settings under XDG_CONFIG_HOME, handed to the library at once and at
// the next start; what is no device's address never reaches the library.
TEST_F(ControllerTest, SearchAddressesRoundTripThroughTheSettings)
{
    const QString file = TestConfigHome() + "/nasfinder/nasfinder.conf";
    QFile::remove(file);
    c->resolveName = [](const std::string& name)
    {
        nasfinder::ResolvedName resolved;
        if (name == "nas-beyond")
            resolved.addresses = {0x7F000001u, 0xC612140Bu}; // the first that is a device's
        else if (name == "nas.lan")
            resolved.addresses = {0x7F000001u};
        else
            resolved.error = "Name or service not known";
        return resolved;
    };
    c->addressesbutton->click();
    ASSERT_TRUE(c->addressesDialog);
    SearchAddressesDialog& dialog = *c->addressesDialog;
    const int before = g_fakeSearchLib.unicastCalls;
    // A name is looked up off the UI thread; the line below the field says
    // what became of each text, and the field stays in its place while that
    // line fills and empties.
    QCoreApplication::processEvents();
    const QRect field = dialog.entry->geometry();
    const struct
    {
        const char* typed;
        const char* problem;
        QStringList values;
    } cases[] = {{" 198.18.20.10 ", nullptr, {}},
                 {"10.1.2.3", nullptr, {}},
                 {"198.18.20.10", nullptr, {}},
                 {"224.0.0.1", "Not A Device Address", {"224.0.0.1"}},
                 {"010.0.0.1", "Not A Device Address", {"010.0.0.1"}},
                 {"nas.lan", "Name Not Resolved", {"nas.lan", "127.0.0.1"}},
                 {"nowhere", "Name Not Resolved", {"nowhere", "Name or service not known"}},
                 {"nas-beyond", nullptr, {}}};
    for (const auto& row : cases)
    {
        dialog.entry->setText(QString::fromLatin1(row.typed));
        dialog.addButton->click();
        ASSERT_TRUE(WaitUntil([&] { return dialog.entry->isEnabled(); })) << row.typed;
        QCoreApplication::processEvents();
        // The line shows as much as fits; its tooltip holds all of it.
        EXPECT_EQ(dialog.problem->toolTip(), row.problem ? Text(row.problem, row.values) : QString())
            << row.typed;
        EXPECT_EQ(dialog.entry->geometry(), field)
            << row.typed << ": the field is at y " << dialog.entry->y();
    }
    EXPECT_EQ(dialog.addresses(), QStringList({"198.18.20.10", "10.1.2.3", "198.18.20.11"}));
    EXPECT_EQ(dialog.list->item(2)->text(), "198.18.20.11  (nas-beyond)");
    EXPECT_EQ(g_fakeSearchLib.unicastCalls, before + 3) << "once per change";
    EXPECT_EQ(LoadSearchAddressNames().value("198.18.20.11"), "nas-beyond");
    dialog.list->setCurrentRow(0);
    dialog.removeButton->click();
    EXPECT_EQ(g_fakeSearchLib.unicast, std::vector<std::string>({"10.1.2.3", "198.18.20.11"}));
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_EQ(LoadSearchAddresses(), QStringList({"10.1.2.3", "198.18.20.11"}));

    // A hand-edited file: only device addresses, each once, are searched.
    {
        QSettings edited(file, QSettings::IniFormat);
        edited.setValue("search/addresses",
                        QStringList({"198.18.20.11", "255.255.255.255", "x", "198.18.20.11", "127.0.0.1"}));
    }
    g_fakeSearchLib = FakeSearchLib{};
    AppDelegate next;
    next.loadWindowLayout();
    next.controller->awakeFromNib();
    EXPECT_EQ(g_fakeSearchLib.unicast, std::vector<std::string>({"198.18.20.11"}));
    EXPECT_EQ(g_fakeSearchLib.initCalls, 1);
    QFile::remove(file);
}

TEST_F(ControllerTest, RefreshEmptiesAtOnceAndRestartsTheCountdown)
{
    Add(Device().Id("id-1").Ip("198.18.1.1").Host("one").Product("P"));
    Tick(nasfinder::kSearchSeconds + 1);
    ASSERT_TRUE(ButtonsEnabled());
    ASSERT_EQ(Shown().size(), 1);

    EXPECT_EQ(c->statusField->text(), RowCount(1)) << "a device was found: no firewall notice";

    c->refreshbutton->click();
    EXPECT_TRUE(Shown().isEmpty());
    EXPECT_EQ(c->statusField->text(), RowCount(0)) << "the new search is still running";
    std::vector<deviceinfo> list{Device().Id("x").Ip("198.18.9.9").Host("x").Product("x")};
    Registry()->GetDeviceList(list);
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(ButtonsEnabled());
    EXPECT_EQ(c->counter, 0);

    Add(Device().Id("id-2").Ip("198.18.1.2").Host("two").Product("P"));
    Tick();
    EXPECT_TRUE(c->countdownField->text().endsWith(" " + QString::number(nasfinder::kSearchSeconds - 1)));
    EXPECT_EQ(Shown(), QStringList({"two|198.18.1.2|P"}));
}

TEST_F(ControllerTest, LogInAndMyStorageOpenTheSelectedAddress)
{
    UrlRecorder urls;
    QDesktopServices::setUrlHandler("http", &urls, "open");
    QDesktopServices::setUrlHandler("smb", &urls, "open");
    CapturedLog log;

    Add(Device().Id("id-z").Ip("198.18.1.1").Host("zeta").Product("P"));
    Add(Device().Id("id-a").Ip("198.18.1.2").Host("alpha").Product("P"));
    Add(Device().Id("id-evil").Ip("198.18.0.5@elsewhere.example").Host("evil").Product("P"));
    // Names, as the resolver below answers them.
    Add(Device().Id("id-name").Ip("lan-nas").Host("zz-name").Product("P"));
    Add(Device().Id("id-loop").Ip("localhost.localdomain").Host("zzz-loop").Product("P"));
    c->resolveName = [](const std::string& name)
    {
        nasfinder::ResolvedName resolved;
        resolved.addresses.push_back(name == "lan-nas" ? 0xC6120505u : 0x7F000001u);
        return resolved;
    };
    Tick(nasfinder::kSearchSeconds + 1);

    c->onLogin();
    c->onGotoStorage();
    EXPECT_TRUE(urls.opened.isEmpty()) << "nothing is selected";

    c->tableview->selectRow(1);
    c->loginbutton->click();
    c->storagebutton->click();
    EXPECT_EQ(urls.opened, QStringList({"http://198.18.1.2", "smb://198.18.1.2"}));

    // A double click opens nothing.
    emit c->tableview->doubleClicked(c->tableview->model()->index(1, 0));
    EXPECT_EQ(urls.opened.size(), 2);

    c->tableview->selectRow(2);
    c->onLogin();
    c->onGotoStorage();
    EXPECT_EQ(urls.opened.size(), 2) << "an address with '@' must not open another host";
    EXPECT_TRUE(log.lines().filter("not opening http").size() == 1);
    EXPECT_TRUE(
        c->statusField->text().contains("198.18.0.5@elsewhere.example (not an IPv4 address or host name)"));
    // A device's text there is shown as it is, never read as markup.
    EXPECT_EQ(c->statusField->textFormat(), Qt::PlainText);

    // A name opens as the address it resolves to now, and not at all where
    // that is this computer; the status line says why.
    c->tableview->selectRow(3);
    c->onLogin();
    EXPECT_EQ(urls.opened.last(), "http://198.18.5.5");
    EXPECT_FALSE(c->statusField->text().contains("elsewhere"));
    c->tableview->selectRow(4);
    c->onGotoStorage();
    EXPECT_EQ(urls.opened.size(), 3);
    EXPECT_TRUE(c->statusField->text().contains(
        "localhost.localdomain (the name resolves to 127.0.0.1, not a device on the network)"))
        << c->statusField->text().toStdString();

    // The user clicks the first header: rows sort by host name, and the
    // selected visible row is the one opened.
    QHeaderView* header = c->tableview->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(0) + 5, 5));
    EXPECT_EQ(log.lines().count("count=11111"), 1);
    EXPECT_EQ(Shown(),
              QStringList({"alpha|198.18.1.2|P", "evil|198.18.0.5@elsewhere.example|P", "zeta|198.18.1.1|P",
                           "zz-name|lan-nas|P", "zzz-loop|localhost.localdomain|P"}));
    c->tableview->selectRow(2);
    c->onLogin();
    EXPECT_EQ(urls.opened.last(), "http://198.18.1.1");

    // A desktop with nothing to open smb:// (the offscreen platform opens
    // nothing itself): the status line gives the address to open by hand,
    // until an address opens.
    QDesktopServices::unsetUrlHandler("smb");
    c->onGotoStorage();
    const QString notice = c->parseOperation->entry("Cannot Open")->String.value_or("");
    EXPECT_EQ(c->statusField->text(),
              RowCount(5) + QString::fromUtf8("  \u00b7  ") + notice.arg("smb://198.18.1.1"));
    c->onLogin();
    EXPECT_EQ(c->statusField->text(), RowCount(5));

    // On a desktop, xdg-open starts whatever the desktop opens a scheme with,
    // and fails where it has nothing: its exit status decides (a stand-in here,
    // first on PATH, that records the URL and fails for smb://).
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    {
        QFile script(bin.filePath("xdg-open"));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(
            "#!/bin/sh\necho \"$1\" >> \"$(dirname \"$0\")/opened\"\ncase \"$1\" in smb:*) exit 3;; esac\n");
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const auto opened = [&bin]
    {
        QFile file(bin.filePath("opened"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toLocal8Bit() + ":" + path);
    c->desktopOpener = DesktopOpener::XdgOpen;
    c->onGotoStorage();
    EXPECT_EQ(c->statusField->text(), RowCount(5)) << "nothing is known until xdg-open ends";
    EXPECT_TRUE(WaitUntil([&] { return c->statusField->text().contains("smb://198.18.1.1"); }))
        << c->statusField->text().toStdString();
    c->onLogin();
    EXPECT_TRUE(WaitUntil([&] { return opened().contains("http:"); }));
    EXPECT_EQ(c->statusField->text(), RowCount(5));
    EXPECT_EQ(opened(), "smb://198.18.1.1\nhttp://198.18.1.1\n");
    qputenv("PATH", path);

    QDesktopServices::unsetUrlHandler("http");
}

// A right click on a row selects it and offers what the buttons do: enabled
// when they are, and only for an address that may be opened.
TEST_F(ControllerTest, RowMenuSelectsTheRowAndActsLikeTheButtons)
{
    UrlRecorder urls;
    QDesktopServices::setUrlHandler("http", &urls, "open");
    QDesktopServices::setUrlHandler("smb", &urls, "open");
    ShowWindow();
    Add(Device().Id("id-z").Ip("198.18.1.1").Host("zeta").Product("P"));
    Add(Device().Id("id-a").Ip("198.18.1.2").Host("alpha").Product("P"));
    Add(Device().Id("id-evil").Ip("198.18.0.5@elsewhere.example").Host("evil").Product("P"));
    Tick();

    QTableView* table = c->tableview;
    const auto rightClick = [table](QPoint at)
    {
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, table->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(table->viewport(), &event);
    };
    const auto rightClickRow = [&](int row)
    { rightClick(table->visualRect(table->model()->index(row, 1)).center()); };
    const auto selectedRow = [table]
    {
        const QModelIndexList rows = table->selectionModel()->selectedRows();
        return rows.size() == 1 ? rows.first().row() : -1;
    };
    const QList<QAction*> items{c->openWebPageAction, c->openShareAction, c->copyAddressAction};
    const auto itemsEnabled = [&]
    {
        for (QAction* item : items)
            EXPECT_EQ(item->isEnabled(), items.first()->isEnabled()) << item->text().toStdString();
        return items.first()->isEnabled();
    };

    rightClickRow(1);
    EXPECT_TRUE(c->rowMenu->isVisible());
    EXPECT_EQ(selectedRow(), 1);
    EXPECT_FALSE(itemsEnabled()) << "the buttons are off while the countdown runs";
    c->rowMenu->hide();

    Tick(nasfinder::kSearchSeconds);
    rightClickRow(0);
    EXPECT_EQ(selectedRow(), 0);
    rightClickRow(1);
    EXPECT_EQ(selectedRow(), 1);
    ASSERT_TRUE(itemsEnabled());
    for (QAction* item : items)
        item->trigger();
    c->rowMenu->hide();
    EXPECT_EQ(urls.opened, QStringList({"http://198.18.1.2", "smb://198.18.1.2"}));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "198.18.1.2");

    rightClickRow(2);
    EXPECT_EQ(selectedRow(), 2);
    EXPECT_FALSE(itemsEnabled()) << "an address with '@' must not be opened or copied";
    c->rowMenu->hide();

    // Below the last row there is no row to act on.
    rightClick(QPoint(5, table->viewport()->height() - 2));
    EXPECT_FALSE(c->rowMenu->isVisible());

    QDesktopServices::unsetUrlHandler("http");
    QDesktopServices::unsetUrlHandler("smb");
}

// After the countdown the known devices that did not answer follow the
// answering ones, greyed, with when they were last seen; their menu wakes
// (with a MAC) or forgets them, and opens nothing.
TEST_F(ControllerTest, KnownDevicesThatDidNotAnswerFollowTheCountdown)
{
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    nasknown::KnownDevice routed;
    routed.vendor = "TAVIK";
    routed.id = "id-far";
    routed.host = "far";
    routed.address = "198.18.20.10";
    routed.lastSeen = now - 3 * 86400 - 60;
    ASSERT_TRUE(nasknown::KnownStore(KnownPath().toStdString())
                    .Update([&](auto& list) { list.push_back(routed); }, &c->knownDevices)
                    .ok);
    Add(Device().Id("id-a").Ip("198.18.1.1").Host("alpha").Product("P"));
    Add(Device().Id("id-b").Ip("198.18.1.2").Host("beta").Product("Q"));
    Tick(nasfinder::kSearchSeconds);
    EXPECT_EQ(ShownWithLastSeen(), QStringList({"alpha|198.18.1.1|P|" + Text("Seen Now"),
                                                "beta|198.18.1.2|Q|" + Text("Seen Now")}))
        << "the countdown shows what answers";
    Tick();
    ASSERT_TRUE(WaitUntil([&] { return c->knownDevices.size() == 3; })) << c->knownDevices.size();
    EXPECT_EQ(ShownWithLastSeen(),
              QStringList({"alpha|198.18.1.1|P|" + Text("Seen Now"), "beta|198.18.1.2|Q|" + Text("Seen Now"),
                           "far|198.18.20.10||" + Text("Days Ago", {"3"})}));

    // beta sleeps: the next search lists it after alpha, greyed.
    c->refreshbutton->click();
    Add(Device().Id("id-a").Ip("198.18.1.1").Host("alpha").Product("P"));
    CapturedLog log;
    Tick(nasfinder::kSearchSeconds + 1);
    EXPECT_TRUE(log.lines().contains("vListDevice.size() = 1"));
    ASSERT_EQ(ShownWithLastSeen(), QStringList({"alpha|198.18.1.1|P|" + Text("Seen Now"),
                                                "beta|198.18.1.2|Q|" + Text("Under A Minute"),
                                                "far|198.18.20.10||" + Text("Days Ago", {"3"})}));
    EXPECT_EQ(c->statusField->text(), RowCount(1)) << "a device that did not answer is no find";
    const QModelIndex beta = c->tableview->model()->index(1, 0);
    EXPECT_EQ(beta.data(Qt::ForegroundRole).value<QBrush>().color(),
              QGuiApplication::palette().color(QPalette::Disabled, QPalette::Text));

    c->tableview->selectRow(2);
    c->onTableviewContextMenu(c->tableview->visualRect(c->tableview->model()->index(2, 0)).center());
    c->rowMenu->hide();
    EXPECT_TRUE(c->forgetAction->isEnabled());
    EXPECT_FALSE(c->wakeAction->isEnabled()) << "beyond a router: no MAC to wake by";
    EXPECT_FALSE(c->openWebPageAction->isEnabled());
    c->forgetAction->trigger();
    EXPECT_EQ(ShownWithLastSeen().size(), 2);
    std::vector<nasknown::KnownDevice> kept;
    nasknown::KnownStore(KnownPath().toStdString()).Load(kept);
    EXPECT_EQ(kept.size(), 2u);

    c->tableview->selectRow(1);
    c->onTableviewContextMenu(c->tableview->visualRect(c->tableview->model()->index(1, 0)).center());
    c->rowMenu->hide();
    ASSERT_TRUE(c->wakeAction->isEnabled());
    c->wakeAction->trigger();
    EXPECT_EQ(wakes, std::vector<std::string>({"02:00:5e:10:00:01 eth0 198.18.255.255"}));
    EXPECT_EQ(ShownWithLastSeen().at(1), "beta|198.18.1.2|Q|" + Text("Waking", {"0"}));
    Add(Device().Id("id-b").Ip("198.18.1.2").Host("beta").Product("Q"));
    Tick();
    EXPECT_EQ(ShownWithLastSeen(), QStringList({"alpha|198.18.1.1|P|" + Text("Seen Now"),
                                                "beta|198.18.1.2|Q|" + Text("Seen Now")}));
    EXPECT_TRUE(c->statusField->text().endsWith(Text("Woken", {"beta"})));

    // The setting hides them, and is kept.
    c->refreshbutton->click();
    Tick(nasfinder::kSearchSeconds + 1);
    EXPECT_EQ(ShownWithLastSeen().size(), 2);
    c->showNotAnsweringBox->setChecked(false);
    EXPECT_TRUE(ShownWithLastSeen().isEmpty());
    EXPECT_FALSE(LoadShowNotAnswering());
    c->showNotAnsweringBox->setChecked(true);
}

// The columns share the table's width at any window size: none is pushed out
// of sight in a small window, none leaves a gap in a large one.
TEST_F(ControllerTest, ColumnsFollowTheWindowWidth)
{
    ShowWindow();
    const QHeaderView* header = c->tableview->horizontalHeader();
    for (const int width : {delegate.window->minimumWidth(), 1200})
    {
        SCOPED_TRACE(width);
        delegate.window->resize(width, 400);
        // The header lays its sections out after the viewport's resize event.
        const auto shared = [&]
        {
            const int viewport = c->tableview->viewport()->width();
            bool fair = header->length() == viewport;
            for (int column = 0; column < kColumnCount; ++column)
                fair = fair && header->sectionSize(column) >= viewport / kColumnCount - 1;
            return fair;
        };
        EXPECT_TRUE(WaitUntil(shared))
            << header->sectionSize(0) << " " << header->sectionSize(1) << " " << header->sectionSize(2) << " "
            << header->sectionSize(3) << " of " << c->tableview->viewport()->width();
    }
}

namespace
{

struct ChildRun
{
    bool ended = false;
    int status = 0;
    std::string out;
    std::string err;
};

std::string ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

// Runs a program with its output in files. Started with posix_spawn rather
// than QProcess, whose fork in a process full of threads trips
// ThreadSanitizer's runtime.
ChildRun RunChild(std::vector<std::string> args, char** env)
{
    TestApplication();
    ChildRun run;
    QTemporaryDir dir;
    const QByteArray outPath = dir.filePath("stdout.txt").toLocal8Bit();
    const QByteArray errPath = dir.filePath("stderr.txt").toLocal8Bit();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
    {
        run.err = std::string("posix_spawn: ") + std::strerror(spawned);
        return run;
    }
    run.ended = WaitUntil([&] { return waitpid(pid, &run.status, WNOHANG) == pid; }, 30000);
    if (!run.ended)
    {
        kill(pid, SIGKILL);
        waitpid(pid, &run.status, 0);
    }
    run.out = ReadAll(QString::fromLocal8Bit(outPath));
    run.err = ReadAll(QString::fromLocal8Bit(errPath));
    return run;
}

// Exit status of netns-run.sh where it cannot make a namespace.
constexpr int kSkipped = 77;

ChildRun RunIsolated(const std::vector<std::string>& args, char** env)
{
    std::vector<std::string> wrapped{"/bin/sh", NETNS_RUN};
    wrapped.insert(wrapped.end(), args.begin(), args.end());
    return RunChild(wrapped, env);
}

bool Skipped(const ChildRun& run)
{
    return run.ended && WIFEXITED(run.status) && WEXITSTATUS(run.status) == kSkipped;
}

} // namespace

TEST(WindowEntry, ClosingTheWindowEndsTheProcessWithStatusOne)
{
    const ChildRun run = RunIsolated({WINDOW_CLOSE_CHILD}, environ);
    if (Skipped(run))
        GTEST_SKIP() << run.out << run.err;
    ASSERT_TRUE(run.ended) << "the window closed but the process went on\n" << run.err;
    ASSERT_TRUE(WIFEXITED(run.status)) << run.err;
    EXPECT_EQ(WEXITSTATUS(run.status), 1) << run.err;
    EXPECT_NE(run.err.find("vListDevice.size() = 0"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("closing now"), std::string::npos) << run.err;
}

// The window starts the broadcast helper first and says below the table why
// the broadcast search is off: run for real, by root (the port is free), with
// the port held by another socket, by a user whose helper lacks the privilege,
// and where the helper is missing. With the privilege on the helper, neither
// the capability nor the port reaches a toolkit module that the user's
// settings name, and a device that answers only the broadcast search is
// listed (in the test bed's LAN).
TEST(WindowEntry, StatusLineSaysWhyTheBroadcastSearchIsOff)
{
    std::vector<std::string> envText{"LC_ALL=en_US.UTF-8", "QT_QPA_PLATFORM=offscreen"};
    for (char** e = environ; *e != nullptr; ++e)
    {
        const std::string entry = *e;
        if (entry.rfind("LC_ALL=", 0) != 0 && entry.rfind("LANGUAGE=", 0) != 0 &&
            entry.rfind("NASFINDER_TEST_HOLD_PORT=", 0) != 0)
            envText.push_back(entry);
    }
    // Copies of the window and its helper, the helper with the file capability
    // the package grants, in a folder every user can read (not /tmp, which may
    // ignore file capabilities), with a plugin folder of the user's choosing
    // beside them and a toolkit module that the user's settings name. A second
    // folder holds the window alone, a third the window and a helper without
    // the capability: what another user runs must be in that user's reach,
    // which a build tree in root's home is not.
    char folder[] = "/var/tmp/nasfinder-cap-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    chmod(folder, 0755);
    // Gone however the test ends: a skip or a failed assertion returns early.
    const std::unique_ptr<char, void (*)(char*)> removeFolder(
        folder, [](char* path) { QDir(QString::fromLocal8Bit(path)).removeRecursively(); });
    const std::string capable = std::string(folder) + "/window_close_child";
    const std::string helper = std::string(folder) + "/nasfinder-broadcast";
    const std::string alone = std::string(folder) + "/alone/window_close_child";
    const std::string plain = std::string(folder) + "/plain/window_close_child";
    const std::string plainHelper = std::string(folder) + "/plain/nasfinder-broadcast";
    const std::string plugins = std::string(folder) + "/plugins";
    mkdir(plugins.c_str(), 0755);
    mkdir((std::string(folder) + "/alone").c_str(), 0755);
    mkdir((std::string(folder) + "/plain").c_str(), 0755);
    const std::string moduleDir = std::string(folder) + "/gtk";
    mkdir(moduleDir.c_str(), 0777);
    chmod(moduleDir.c_str(), 0777);
    const std::string module = moduleDir + "/libmarker.so";
    const std::string marker = moduleDir + "/marker";
    QFile::copy(QString::fromLocal8Bit(GTK_MARKER_MODULE), QString::fromStdString(module));
    const std::string config = std::string(folder) + "/config";
    mkdir(config.c_str(), 0755);
    mkdir((config + "/gtk-3.0").c_str(), 0755);
    std::ofstream(config + "/gtk-3.0/settings.ini") << "[Settings]\ngtk-modules=" << module << "\n";
    const bool copied =
        QFile::copy(QString::fromLocal8Bit(WINDOW_CLOSE_CHILD), QString::fromStdString(capable)) &&
        QFile::copy(QString::fromLocal8Bit(BROADCAST_HELPER), QString::fromStdString(helper)) &&
        QFile::copy(QString::fromLocal8Bit(WINDOW_CLOSE_CHILD), QString::fromStdString(alone)) &&
        QFile::copy(QString::fromLocal8Bit(WINDOW_CLOSE_CHILD), QString::fromStdString(plain)) &&
        QFile::copy(QString::fromLocal8Bit(BROADCAST_HELPER), QString::fromStdString(plainHelper));
    ASSERT_TRUE(copied) << "cannot copy the window and its helper to " << folder;
    const ChildRun granted = RunChild({"/sbin/setcap", "cap_net_bind_service=+ep", helper}, environ);
    const bool withCapability =
        granted.ended && WIFEXITED(granted.status) && WEXITSTATUS(granted.status) == 0;
    // A desktop session as the user has it: Qt takes the toolkit's platform
    // theme for GNOME, and the toolkit loads the modules of the user's settings.
    const std::vector<std::string> desktop{"QT_PLUGIN_PATH=" + plugins, "QT_QPA_PLATFORM=xcb",
                                           "XDG_CURRENT_DESKTOP=GNOME", "XDG_CONFIG_HOME=" + config,
                                           "HOME=" + std::string(folder)};
    const std::vector<std::string> asNobody{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                            "--clear-groups"};
    // One device of an accepted vendor that answers the broadcast search only.
    std::vector<std::string> inLan{"/usr/bin/python3",
                                   LAN_SANDBOX,
                                   "-q",
                                   "-n",
                                   "1",
                                   "--vendors",
                                   "TAVIK",
                                   "--no-ssdp",
                                   "xvfb-run",
                                   "-a",
                                   "-s",
                                   "-ac -screen 0 640x400x24"};
    inLan.insert(inLan.end(), asNobody.begin(), asNobody.end());
    const bool haveXvfb = std::system("command -v xvfb-run >/dev/null 2>&1") == 0;

    const struct
    {
        const char* name;
        std::vector<std::string> prefix;
        std::vector<std::string> extraEnv;
        std::string program;
        std::string line;
    } rows[] = {
        {"free", {}, {}, WINDOW_CLOSE_CHILD, "status line: Devices shown: 0\n"},
        {"capability", inLan, desktop, capable, "status line: Devices shown: 1\n"},
        {"held",
         {},
         {"NASFINDER_TEST_HOLD_PORT=67"},
         WINDOW_CLOSE_CHILD,
         "another program holds UDP port 67"},
        {"unprivileged",
         asNobody,
         {},
         plain,
         "Restore it: sudo setcap cap_net_bind_service=+ep " + plainHelper},
        {"missing", {}, {}, alone, "is missing. Install the nasfinder-common package."},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        // A variable of the row's replaces the test's own: a program may read
        // either of two entries of one name.
        std::vector<std::string> rowEnv;
        for (const std::string& entry : envText)
        {
            const std::string name = entry.substr(0, entry.find('=') + 1);
            if (std::none_of(row.extraEnv.begin(), row.extraEnv.end(),
                             [&name](const std::string& extra) { return extra.rfind(name, 0) == 0; }))
                rowEnv.push_back(entry);
        }
        rowEnv.insert(rowEnv.end(), row.extraEnv.begin(), row.extraEnv.end());
        std::vector<char*> env;
        for (std::string& entry : rowEnv)
            env.push_back(entry.data());
        env.push_back(nullptr);
        const bool capabilityRow = std::string(row.name) == "capability";
        if (capabilityRow && (!withCapability || !haveXvfb))
        {
            std::cerr << "no file capability can be granted here, or no xvfb-run: " << granted.err << "\n";
            continue;
        }
        std::vector<std::string> args = row.prefix;
        args.push_back(row.program);
        const ChildRun run = capabilityRow ? RunChild(args, env.data()) : RunIsolated(args, env.data());
        if (Skipped(run) || (capabilityRow && run.err.find("LAN test bed unavailable") != std::string::npos))
            GTEST_SKIP() << run.out << run.err;
        ASSERT_TRUE(run.ended) << run.err;
        if (!row.prefix.empty() && run.err.find("status line") == std::string::npos)
        {
            // The build tree may not be readable by another user here.
            std::cerr << "not run as an unprivileged user: " << run.out << run.err << "\n";
            continue;
        }
        if (capabilityRow && run.err.find("sudo setcap") != std::string::npos)
        {
            // setcap wrote the attribute, but the kernel did not apply it at exec:
            // a folder mounted nosuid (a chroot's /var/tmp, say) ignores file
            // capabilities, and the helper then runs as any user's program does.
            std::cerr << "the file capability does not take effect in " << folder << " here\n";
            continue;
        }
        EXPECT_EQ(WEXITSTATUS(run.status), 1) << run.err;
        EXPECT_NE(run.err.find(row.line), std::string::npos) << run.err;
        if (capabilityRow)
        {
            EXPECT_NE(run.err.find("library paths: " + plugins + ":"), std::string::npos) << run.err;
            const std::string recorded = ReadAll(QString::fromStdString(marker));
            EXPECT_NE(recorded.find("CapPrm:\t0000000000000000"), std::string::npos) << recorded << run.err;
            EXPECT_NE(recorded.find("CapEff:\t0000000000000000"), std::string::npos) << recorded << run.err;
            EXPECT_EQ(recorded.find("port 67"), std::string::npos) << recorded << run.err;
        }
    }
}

// --help, --version and bad arguments are answered before anything of Qt or
// the library exists: the binary runs with no display at all, where creating
// the window would abort, and says nothing beyond its answer. Without a
// graphical session the window says so in one line and ends with status 3.
TEST(WindowEntry, ArgumentsAreAnsweredWithoutStartingTheWindow)
{
    std::vector<std::string> envText;
    for (char** e = environ; *e != nullptr; ++e)
    {
        const std::string entry = *e;
        bool session = false;
        for (const char* name : {"QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY=", "WAYLAND_SOCKET=",
                                 "XDG_SESSION_TYPE=", "XDG_RUNTIME_DIR="})
            session = session || entry.rfind(name, 0) == 0;
        if (!session)
            envText.push_back(entry);
    }
    std::vector<char*> env;
    for (std::string& entry : envText)
        env.push_back(entry.data());
    env.push_back(nullptr);
    // A copy of ./run.sh alone in a folder: it must answer before it installs
    // or builds anything, which it could not do there.
    QTemporaryDir runFolder;
    const std::string runSh = runFolder.filePath("run.sh").toStdString();
    ASSERT_TRUE(QFile::copy(QStringLiteral(RUN_SH), QString::fromStdString(runSh)));

    const std::string usage = "Usage: nasfinder [OPTIONS]\n"
                              "Find the storage devices on the local network and list them in a window.\n"
                              "\n"
                              "  --interface NAME|ADDRESS\n"
                              "                  search only on this interface, given by name (eth0) or\n";
    const std::string version = "nasfinder " NASFINDER_VERSION "\n";
    const auto noSession = [](const std::string& why)
    {
        return "nasfinder: the window needs a graphical session (" + why +
               "); without one, search with nasfinder-scan, or ./run.sh --scan in the source tree\n";
    };
    const struct
    {
        std::vector<std::string> args;
        int status;
        std::string outStart;
        std::string err;
        std::vector<std::string> command = {NASFINDER_APP};
    } rows[] = {
        {{"--help"}, 0, usage, ""},
        {{"-h"}, 0, usage, ""},
        {{"--version"}, 0, version, ""},
        // Qt's own options and their values are left to Qt.
        {{"-platform", "offscreen", "--reverse", "-style=Fusion", "--version"}, 0, version, ""},
        {{"--bogus"}, 2, "", "nasfinder: unknown option '--bogus'; try 'nasfinder --help'\n"},
        {{"-platform", "xcb", "-x", "--help"},
         2,
         "",
         "nasfinder: unknown option '-x'; try 'nasfinder --help'\n"},
        {{"search"}, 2, "", "nasfinder: unexpected argument 'search'; try 'nasfinder --help'\n"},
        // Read as Qt reads its own options: a value is the next argument,
        // whatever it looks like, and only an option with a value takes "=".
        {{"-"}, 2, "", "nasfinder: unexpected argument '-'; try 'nasfinder --help'\n"},
        {{"--version=1"}, 2, "", "nasfinder: unknown option '--version=1'; try 'nasfinder --help'\n"},
        {{"--interface", "--version"},
         2,
         "",
         "nasfinder: unknown interface '--version'; the interfaces here are: lo; try 'nasfinder --help'\n"},
        // The interfaces to search: checked against the ones there are (only lo
        // in the empty namespace) before anything starts.
        {{"--interface", "nosuch0"},
         2,
         "",
         "nasfinder: unknown interface 'nosuch0'; the interfaces here are: lo; try 'nasfinder --help'\n"},
        {{"--exclude-interface"},
         2,
         "",
         "nasfinder: option --exclude-interface needs an interface name or address; try 'nasfinder "
         "--help'\n"},
        // A choice that searches nothing is refused, not run with an empty list.
        {{"--interface", "lo", "--exclude-interface=lo"},
         2,
         "",
         "nasfinder: interface lo is both chosen (--interface lo) and excluded (--exclude-interface lo); try "
         "'nasfinder --help'\n"},
        {{"--interface", "lo"},
         2,
         "",
         "nasfinder: interface lo is a loopback interface: no search runs there\nnasfinder: no chosen "
         "interface "
         "can carry a search; try 'nasfinder --help'\n"},
        {{}, 3, "", noSession("DISPLAY is not set")},
        {{"-platform", "wayland;xcb"}, 3, "", noSession("neither WAYLAND_DISPLAY nor DISPLAY is set")},
        // A display that is named but not there: Qt's platform plugin gives up.
        {{"-display", ":9317"}, 3, "", noSession("could not connect to display :9317")},
        {{"-platform", "wayland"}, 3, "", noSession("WAYLAND_DISPLAY is not set"), {"/bin/bash", runSh}},
    };
    for (const auto& row : rows)
    {
        std::vector<std::string> args = row.command;
        args.insert(args.end(), row.args.begin(), row.args.end());
        const ChildRun run = RunIsolated(args, env.data());
        if (Skipped(run))
            GTEST_SKIP() << run.out;
        SCOPED_TRACE(::testing::PrintToString(args));
        ASSERT_TRUE(run.ended);
        ASSERT_TRUE(WIFEXITED(run.status)) << run.err;
        EXPECT_EQ(WEXITSTATUS(run.status), row.status) << run.err;
        EXPECT_EQ(run.out.substr(0, row.outStart.size()), row.outStart);
        EXPECT_EQ(run.out.empty(), row.outStart.empty()) << run.out;
        EXPECT_EQ(run.err, row.err);
    }
}

#include "ControllerTest.moc"
