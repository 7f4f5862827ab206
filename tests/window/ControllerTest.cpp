// The window driven as its timer and a user would drive it, over the real
// search session and registry and a recording stand-in for the discovery
// library's entry points (FakeSearchLib), on a clock of the test's own: no
// socket is opened, no packet leaves and no time passes. The test is the
// timer.
#include "AppDelegate.h"
#include "Captions.h"
#include "DeviceRecord.h"
#include "DeviceSearchInterface.h"
#include "FakeSearchLib.h"
#include "FollowUpSetting.h"
#include "KnownList.h"
#include "KnownStore.h"
#include "DeviceDetails.h"
#include "LanguageFile.h"
#include "ListExport.h"
#include "MainWindow.h"
#include "SearchAddresses.h"
#include "SearchSchedule.h"
#include "WindowTestSupport.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QListWidget>
#include <QMenu>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <string>
#include <vector>

using std::chrono::milliseconds;

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

nasknown::KnownDevice Linked(nasknown::KnownDevice device)
{
    device.interfaceName = "eth0";
    device.mac = "02:00:5e:10:00:01";
    return device;
}

// Nothing is asked of the kernel and no packet leaves: every device answers
// on a link of its own with one MAC, and a wake is recorded.
nasfinder::SessionHooks TestHooks(std::vector<std::string>& wakes)
{
    nasfinder::SessionHooks hooks;
    hooks.findLinks = [](std::vector<nasknown::KnownDevice>& seen, milliseconds)
    {
        for (nasknown::KnownDevice& device : seen)
            device = Linked(device);
    };
    hooks.sendMagicPacket = [&wakes](const nasknown::MacAddress& mac, const nasknown::WakeTarget& target)
    {
        wakes.push_back(nasknown::MacText(mac) + " " + target.interfaceName + " " +
                        nasfinder::IPv4Text(target.subnetBroadcast));
        return std::string();
    };
    return hooks;
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
        // The columns, the sort and the window's size the last test chose
        // are not this one's.
        QFile::remove(TestConfigHome() + "/nasfinder/nasfinder.conf");
        Registry()->ClearDeviceList();
        delegate.loadWindow(WindowSessionSettings({}), TestHooks(wakes));
        delegate.windowLoaded();
        w = delegate.window;
        c = w->controller;
        c->clock = [this] { return now; };
        c->localLinks = [] { return std::vector<nasknown::Link>{{"eth0", 2, 0xC6120001u, 0xFFFF0000u}}; };
        w->start(PreferredLanguages(QProcessEnvironment::systemEnvironment()), QStringLiteral(":"));
        Settle();
        WaitForParse(*w);
        CloseAlerts();
    }

    void TearDown() override { Registry()->ClearDeviceList(); }

    // The test is the timer: the window's own stops after each tick, and the
    // time it was due at is kept.
    void Settle()
    {
        if (c->tickTimer.isActive())
            due = now + c->tickTimer.intervalAsDuration();
        c->tickTimer.stop();
    }
    // The clock moves on by `span`, and the window ticks whenever it was due.
    void Run(milliseconds span)
    {
        Settle();
        const auto end = now + span;
        while (due <= end)
        {
            now = due;
            due = end + milliseconds(1);
            c->tick();
            Settle();
        }
        now = end;
    }
    void Tick(int seconds = 1) { Run(std::chrono::seconds(seconds)); }
    // Until the window shows what remembering left (it runs beside the
    // ticks).
    bool Remembered(std::size_t known)
    {
        return WaitUntil(
            [&]
            {
                Tick();
                return c->session().Known().size() == known;
            });
    }

    bool ButtonsEnabled() const
    {
        const bool on = w->ui.loginbutton->isEnabled();
        EXPECT_EQ(w->ui.refreshbutton->isEnabled(), on);
        EXPECT_EQ(w->ui.storagebutton->isEnabled(), on);
        return on;
    }

    // The rows as the table shows them: the first `columns` cells of each.
    QStringList Shown(int columns = 3) const
    {
        QStringList shown;
        const QAbstractItemModel* model = w->ui.tableview->model();
        for (int row = 0; row < model->rowCount(); ++row)
        {
            QStringList cells;
            for (int column = 0; column < std::min(columns, model->columnCount()); ++column)
                cells.append(model->index(row, column).data().toString());
            shown.append(cells.join(u'|'));
        }
        return shown;
    }
    QStringList ShownWithLastSeen() const { return Shown(4); }

    // A caption of the language file in use, its %1, %2 filled in.
    QString Text(const char* key, const QStringList& values = {}) const
    {
        return Filled(w->language.entry(QString::fromLatin1(key))->String.value_or(""), values);
    }

    // The status line's count, as the language file in use words it: the
    // rows shown and how many of them answered.
    QString RowCount(int rows, int answering = -1) const
    {
        return Text("Rows Shown", {QString::number(rows), QString::number(answering < 0 ? rows : answering)});
    }

    // Shown and active, as the window is for the user: keys reach its
    // shortcuts, and its table has its real size.
    void ShowWindow()
    {
        w->show();
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    }

    static QString KnownPath() { return TestConfigHome() + "/nasfinder/devices.json"; }

    AppDelegate delegate;
    MainWindow* w = nullptr;
    Controller* c = nullptr;
    nasfinder::SearchSession::TimePoint now{};
    nasfinder::SearchSession::TimePoint due = nasfinder::SearchSession::TimePoint::max();
    std::vector<std::string> wakes;
};

TEST_F(ControllerTest, CountdownThenIdle)
{
    const QString caption = w->language.entry("Search Time")->String.value_or("");
    ASSERT_FALSE(caption.isEmpty());
    EXPECT_FALSE(ButtonsEnabled());

    Tick();
    EXPECT_EQ(w->ui.countdownField->text(), caption + " " + QString::number(nasfinder::kSearchSeconds - 1));
    Tick(nasfinder::kSearchSeconds - 2);
    EXPECT_EQ(w->ui.countdownField->text(), caption + " 1");
    EXPECT_FALSE(ButtonsEnabled());
    Tick();
    EXPECT_EQ(w->ui.countdownField->text(), caption + " 0");
    EXPECT_FALSE(ButtonsEnabled());
    EXPECT_FALSE(w->ui.statusField->text().contains("firewall")) << "only once the search has ended";
    Tick();
    EXPECT_EQ(w->ui.countdownField->text(), "");
    EXPECT_TRUE(ButtonsEnabled());
    // Nothing found: the status line says where to look; where no interface
    // could carry the search, that instead.
    EXPECT_EQ(w->ui.statusField->text(),
              RowCount(0) + "  \u00b7  " + w->language.entry("Firewall Hint")->String.value_or(""));
    g_fakeSearchLib.status.search_interfaces = 0;
    c->refresh();
    Tick(nasfinder::kSearchSeconds + 1);
    EXPECT_EQ(w->ui.statusField->text(),
              RowCount(0) + "  \u00b7  " + w->language.entry("No Interface")->String.value_or(""));
    Tick(3);
    EXPECT_EQ(w->ui.countdownField->text(), "");
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
    EXPECT_EQ(w->ui.statusField->text(), RowCount(2));

    Tick(nasfinder::kSearchSeconds - 2);
    EXPECT_TRUE(w->ui.countdownField->text().endsWith(" 0")) << "the countdown's last second";
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
    EXPECT_EQ(g_fakeSearchLib.logDir, "(null)");
    EXPECT_TRUE(g_fakeSearchLib.bMultiIP);
    EXPECT_EQ(g_fakeSearchLib.callback, &CDeviceSearchInterface::SearchDeviceRecallHandle);
    EXPECT_EQ(g_fakeSearchLib.sendCalls, 1);
    EXPECT_EQ(g_fakeSearchLib.lastPacket, nullptr);

    // Each repeat goes out when it falls due, the timer armed for it. A
    // device answering every send stays one row: the table is not rebuilt
    // for a repeat.
    const auto& times = nasfinder::kSearchSendTimes;
    const nasfinder::SearchSession::TimePoint start = now;
    QSignalSpy rebuilt(w->ui.tableview->model(), &QAbstractItemModel::modelReset);
    for (std::size_t send = 1; send < times.size(); ++send)
    {
        Add(Device().Id("id-1").Ip("198.18.1.1").Host("one").Product("P"));
        while (g_fakeSearchLib.sendCalls == static_cast<int>(send))
            Run(std::chrono::duration_cast<milliseconds>(due - now));
        EXPECT_EQ(now - start, times[send]);
        EXPECT_EQ(g_fakeSearchLib.sendCalls, static_cast<int>(send) + 1);
    }
    Add(Device().Id("id-1").Ip("198.18.1.1").Host("one").Product("P"));
    Tick();
    EXPECT_EQ(Shown(), QStringList({"one|198.18.1.1|P"}));
    EXPECT_EQ(rebuilt.size(), 1);

    Tick(nasfinder::kSearchSeconds + 1);
    EXPECT_EQ(g_fakeSearchLib.sendCalls, static_cast<int>(times.size())) << "ticks only read the list";
    w->ui.refreshbutton->click();
    EXPECT_EQ(g_fakeSearchLib.sendCalls, static_cast<int>(times.size()) + 1);
    Settle();
    EXPECT_EQ(due - now, times[1]) << "Refresh starts the repeats again";
    EXPECT_EQ(g_fakeSearchLib.lastPacket, nullptr);
    EXPECT_EQ(g_fakeSearchLib.initCalls, 1);
    EXPECT_EQ(g_fakeSearchLib.exitCalls, 0);

    // F5 and Ctrl+R are Refresh, and do nothing while it is disabled.
    ShowWindow();
    for (const QKeyCombination key : {QKeyCombination(Qt::Key_F5), Qt::CTRL | Qt::Key_R})
    {
        const int before = g_fakeSearchLib.sendCalls;
        QTest::keyClick(w, key.key(), key.keyboardModifiers());
        EXPECT_EQ(g_fakeSearchLib.sendCalls, before) << "the countdown runs";
        Tick(nasfinder::kSearchSeconds + 1);
        const int idle = g_fakeSearchLib.sendCalls;
        QTest::keyClick(w, key.key(), key.keyboardModifiers());
        EXPECT_EQ(g_fakeSearchLib.sendCalls, idle + 1);
        EXPECT_FALSE(ButtonsEnabled());
    }
}

// The addresses searched beyond the LAN: typed in the dialog, kept in the
// user's settings under XDG_CONFIG_HOME, handed to the library at once and at
// the next start; what is no device's address never reaches the library.
TEST_F(ControllerTest, SearchAddressesRoundTripThroughTheSettings)
{
    const QString file = TestConfigHome() + "/nasfinder/nasfinder.conf";
    QFile::remove(file);
    w->actions->resolveName = [](const std::string& name)
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
    w->ui.addressesbutton->click();
    ASSERT_TRUE(w->actions->addressesDialog);
    SearchAddressesDialog& dialog = *w->actions->addressesDialog;
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
    // The known devices are searched at their last addresses unless the user
    // turns it off; that is kept too.
    EXPECT_TRUE(dialog.followUps->isChecked());
    dialog.followUps->click();
    EXPECT_FALSE(LoadFollowUps());
    EXPECT_FALSE(WindowSessionSettings({}).followUps);
    dialog.followUps->click();
    EXPECT_TRUE(WindowSessionSettings({}).followUps);

    // A hand-edited file: only device addresses, each once, are searched.
    {
        QSettings edited(file, QSettings::IniFormat);
        edited.setValue("search/addresses",
                        QStringList({"198.18.20.11", "255.255.255.255", "x", "198.18.20.11", "127.0.0.1"}));
    }
    g_fakeSearchLib = FakeSearchLib{};
    AppDelegate next;
    next.loadWindow(WindowSessionSettings({}), TestHooks(wakes));
    next.window->start({}, QStringLiteral(":"));
    next.window->controller->tickTimer.stop();
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

    EXPECT_EQ(w->ui.statusField->text(), RowCount(1)) << "a device was found: no firewall notice";

    w->ui.refreshbutton->click();
    EXPECT_TRUE(Shown().isEmpty());
    EXPECT_EQ(w->ui.statusField->text(), RowCount(0)) << "the new search is still running";
    std::vector<deviceinfo> list{Device().Id("x").Ip("198.18.9.9").Host("x").Product("x")};
    Registry()->GetDeviceList(list);
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(ButtonsEnabled());
    EXPECT_TRUE(c->searching());

    Add(Device().Id("id-2").Ip("198.18.1.2").Host("two").Product("P"));
    Tick();
    EXPECT_TRUE(w->ui.countdownField->text().endsWith(" " + QString::number(nasfinder::kSearchSeconds - 1)));
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
    w->actions->resolveName = [](const std::string& name)
    {
        nasfinder::ResolvedName resolved;
        resolved.addresses.push_back(name == "lan-nas" ? 0xC6120505u : 0x7F000001u);
        return resolved;
    };
    Tick(nasfinder::kSearchSeconds + 1);

    w->actions->onLogin();
    w->actions->onGotoStorage();
    EXPECT_TRUE(urls.opened.isEmpty()) << "nothing is selected";

    w->ui.tableview->selectRow(1);
    w->ui.loginbutton->click();
    w->ui.storagebutton->click();
    EXPECT_EQ(urls.opened, QStringList({"http://198.18.1.2", "smb://198.18.1.2"}));

    // A double click opens nothing.
    emit w->ui.tableview->doubleClicked(w->ui.tableview->model()->index(1, 0));
    EXPECT_EQ(urls.opened.size(), 2);

    w->ui.tableview->selectRow(2);
    w->actions->onLogin();
    w->actions->onGotoStorage();
    EXPECT_EQ(urls.opened.size(), 2) << "an address with '@' must not open another host";
    EXPECT_TRUE(log.lines().filter("not opening http").size() == 1);
    EXPECT_TRUE(w->ui.statusField->text().contains(
        "198.18.0.5@elsewhere.example (not an IPv4 address or host name)"));
    // A device's text there is shown as it is, never read as markup.
    EXPECT_EQ(w->ui.statusField->textFormat(), Qt::PlainText);

    // A name opens as the address it resolves to now, and not at all where
    // that is this computer; the status line says why.
    w->ui.tableview->selectRow(3);
    w->actions->onLogin();
    EXPECT_EQ(urls.opened.last(), "http://198.18.5.5");
    EXPECT_FALSE(w->ui.statusField->text().contains("elsewhere"));
    w->ui.tableview->selectRow(4);
    w->actions->onGotoStorage();
    EXPECT_EQ(urls.opened.size(), 3);
    EXPECT_TRUE(w->ui.statusField->text().contains(
        "localhost.localdomain (the name resolves to 127.0.0.1, not a device on the network)"))
        << w->ui.statusField->text().toStdString();

    // The user clicks the first header: rows sort by host name, and the
    // selected visible row is the one opened.
    QHeaderView* header = w->ui.tableview->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(0) + 5, 5));
    EXPECT_EQ(log.lines().count("count=11111"), 1);
    EXPECT_EQ(Shown(),
              QStringList({"alpha|198.18.1.2|P", "evil|198.18.0.5@elsewhere.example|P", "zeta|198.18.1.1|P",
                           "zz-name|lan-nas|P", "zzz-loop|localhost.localdomain|P"}));
    w->ui.tableview->selectRow(2);
    w->actions->onLogin();
    EXPECT_EQ(urls.opened.last(), "http://198.18.1.1");

    // A desktop with nothing to open smb:// (the offscreen platform opens
    // nothing itself): the status line gives the address to open by hand,
    // until an address opens.
    QDesktopServices::unsetUrlHandler("smb");
    w->actions->onGotoStorage();
    const QString notice = w->language.entry("Cannot Open")->String.value_or("");
    EXPECT_EQ(w->ui.statusField->text(),
              RowCount(5) + QString::fromUtf8("  \u00b7  ") + notice.arg("smb://198.18.1.1"));
    w->actions->onLogin();
    EXPECT_EQ(w->ui.statusField->text(), RowCount(5));

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
    w->actions->desktopOpener = DesktopOpener::XdgOpen;
    w->actions->onGotoStorage();
    EXPECT_EQ(w->ui.statusField->text(), RowCount(5)) << "nothing is known until xdg-open ends";
    EXPECT_TRUE(WaitUntil([&] { return w->ui.statusField->text().contains("smb://198.18.1.1"); }))
        << w->ui.statusField->text().toStdString();
    w->actions->onLogin();
    EXPECT_TRUE(WaitUntil([&] { return opened().contains("http:"); }));
    EXPECT_EQ(w->ui.statusField->text(), RowCount(5));
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

    QTableView* table = w->ui.tableview;
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
    const QList<QAction*> items{w->actions->openWebPageAction, w->actions->openShareAction,
                                w->actions->copyAddressAction};
    const auto itemsEnabled = [&]
    {
        for (QAction* item : items)
            EXPECT_EQ(item->isEnabled(), items.first()->isEnabled()) << item->text().toStdString();
        return items.first()->isEnabled();
    };

    rightClickRow(1);
    EXPECT_TRUE(w->actions->rowMenu->isVisible());
    EXPECT_EQ(selectedRow(), 1);
    EXPECT_FALSE(itemsEnabled()) << "the buttons are off while the countdown runs";
    w->actions->rowMenu->hide();

    Tick(nasfinder::kSearchSeconds);
    rightClickRow(0);
    EXPECT_EQ(selectedRow(), 0);
    rightClickRow(1);
    EXPECT_EQ(selectedRow(), 1);
    ASSERT_TRUE(itemsEnabled());
    for (QAction* item : items)
        item->trigger();
    w->actions->rowMenu->hide();
    EXPECT_EQ(urls.opened, QStringList({"http://198.18.1.2", "smb://198.18.1.2"}));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "198.18.1.2");

    rightClickRow(2);
    EXPECT_EQ(selectedRow(), 2);
    EXPECT_FALSE(itemsEnabled()) << "an address with '@' must not be opened or copied";
    w->actions->rowMenu->hide();

    // Below the last row there is no row to act on.
    rightClick(QPoint(5, table->viewport()->height() - 2));
    EXPECT_FALSE(w->actions->rowMenu->isVisible());

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
                    .Update([&](auto& list) { list.push_back(routed); })
                    .ok);
    Add(Device().Id("id-a").Ip("198.18.1.1").Host("alpha").Product("P"));
    Add(Device().Id("id-b").Ip("198.18.1.2").Host("beta").Product("Q"));
    Tick(nasfinder::kSearchSeconds);
    EXPECT_EQ(ShownWithLastSeen(), QStringList({"alpha|198.18.1.1|P|" + Text("Seen Now"),
                                                "beta|198.18.1.2|Q|" + Text("Seen Now")}))
        << "the countdown shows what answers";
    Tick();
    ASSERT_TRUE(Remembered(3)) << c->session().Known().size();
    EXPECT_EQ(ShownWithLastSeen(),
              QStringList({"alpha|198.18.1.1|P|" + Text("Seen Now"), "beta|198.18.1.2|Q|" + Text("Seen Now"),
                           "far|198.18.20.10||" + Text("Days Ago", {"3"})}));

    // beta sleeps: the next search lists it after alpha, greyed.
    w->ui.refreshbutton->click();
    Add(Device().Id("id-a").Ip("198.18.1.1").Host("alpha").Product("P"));
    CapturedLog log;
    Tick(nasfinder::kSearchSeconds + 1);
    EXPECT_TRUE(log.lines().contains("vListDevice.size() = 1"));
    ASSERT_EQ(ShownWithLastSeen(), QStringList({"alpha|198.18.1.1|P|" + Text("Seen Now"),
                                                "beta|198.18.1.2|Q|" + Text("Under A Minute"),
                                                "far|198.18.20.10||" + Text("Days Ago", {"3"})}));
    EXPECT_EQ(w->ui.statusField->text(), RowCount(3, 1)) << "a device that did not answer is no find";
    const QModelIndex beta = w->ui.tableview->model()->index(1, 0);
    EXPECT_EQ(beta.data(Qt::ForegroundRole).value<QBrush>().color(),
              QGuiApplication::palette().color(QPalette::Disabled, QPalette::Text));

    w->ui.tableview->selectRow(2);
    w->actions->showRowMenu(w->ui.tableview->visualRect(w->ui.tableview->model()->index(2, 0)).center());
    w->actions->rowMenu->hide();
    EXPECT_TRUE(w->actions->forgetAction->isEnabled());
    EXPECT_FALSE(w->actions->wakeAction->isEnabled()) << "beyond a router: no MAC to wake by";
    EXPECT_FALSE(w->actions->openWebPageAction->isEnabled());
    w->actions->forgetAction->trigger();
    EXPECT_EQ(ShownWithLastSeen().size(), 2);
    std::vector<nasknown::KnownDevice> kept;
    nasknown::KnownStore(KnownPath().toStdString()).Load(kept);
    EXPECT_EQ(kept.size(), 2u);

    w->ui.tableview->selectRow(1);
    w->actions->showRowMenu(w->ui.tableview->visualRect(w->ui.tableview->model()->index(1, 0)).center());
    w->actions->rowMenu->hide();
    ASSERT_TRUE(w->actions->wakeAction->isEnabled());
    w->actions->wakeAction->trigger();
    EXPECT_EQ(wakes, std::vector<std::string>({"02:00:5e:10:00:01 eth0 198.18.255.255"}));
    EXPECT_EQ(ShownWithLastSeen().at(1), "beta|198.18.1.2|Q|" + Text("Waking", {"0"}));
    Add(Device().Id("id-b").Ip("198.18.1.2").Host("beta").Product("Q"));
    Tick();
    EXPECT_EQ(ShownWithLastSeen(), QStringList({"alpha|198.18.1.1|P|" + Text("Seen Now"),
                                                "beta|198.18.1.2|Q|" + Text("Seen Now")}));
    EXPECT_TRUE(w->ui.statusField->text().endsWith(Text("Woken", {"beta"})));

    // The setting hides them, and is kept.
    w->ui.refreshbutton->click();
    Tick(nasfinder::kSearchSeconds + 1);
    EXPECT_EQ(ShownWithLastSeen().size(), 2);
    w->ui.showNotAnsweringBox->setChecked(false);
    EXPECT_TRUE(ShownWithLastSeen().isEmpty());
    EXPECT_FALSE(LoadShowNotAnswering());
    w->ui.showNotAnsweringBox->setChecked(true);
}

// At the window's default size no caption and no text of a row is cut, in
// any language: each column is as wide as what it shows, and the window
// wider where the columns need it. The longest "Last seen" of each language
// is among the rows.
TEST_F(ControllerTest, NoCaptionOrTextIsCutAtTheDefaultSize)
{
    nasknown::KnownDevice silent;
    silent.vendor = "TAVIK";
    silent.id = "id-far";
    silent.host = "a-rather-long-host-name";
    silent.address = "198.18.200.200";
    silent.product = "TN-4200 Storage";
    silent.lastSeen = static_cast<std::int64_t>(std::time(nullptr)) - 30;
    ASSERT_TRUE(
        nasknown::KnownStore(KnownPath().toStdString()).Update([&](auto& list) { list = {silent}; }).ok);
    Add(Device().Id("id-1").Ip("198.18.1.1").Host("office-nas").Product("TN-4200"));
    Tick(nasfinder::kSearchSeconds + 1);
    ASSERT_TRUE(Remembered(2));
    const QStringList files = QDir(QStringLiteral(":")).entryList({"XML_*.xml"});
    ASSERT_EQ(files.size(), 15);
    const QSize defaultSize = w->size();
    // Where nothing needs more room, the window keeps the size it was made
    // with (before it was shown, the table's room was no measure of it).
    EXPECT_EQ(defaultSize, QSize(640, 400));
    // The four columns of a first start, then every column (which may scroll).
    for (const bool every : {false, true})
    {
        for (int column = 0; column < kColumnCount; ++column)
            w->columns->setColumnShown(column,
                                       every || !kDeviceColumns[static_cast<std::size_t>(column)].optional);
        for (const QString& file : files)
        {
            SCOPED_TRACE(file.toStdString() + (every ? ", every column" : ""));
            const QString code = file.mid(4, 2);
            w->resize(defaultSize);
            w->language.start({code == "ch"   ? "zh-Hans"
                               : code == "tl" ? "zh-Hant"
                                              : code},
                              QStringLiteral(":"));
            WaitForParse(*w);
            CloseAlerts();
            ShowWindow();
            QCoreApplication::processEvents();
            ASSERT_EQ(Shown().size(), 2);
            const QHeaderView* header = w->ui.tableview->horizontalHeader();
            ASSERT_EQ(header->count(), every ? kColumnCount : 4);
            TextWidths measured;
            for (int column = 0; column < header->count(); ++column)
            {
                EXPECT_GE(header->sectionSize(column), ContentWidth(*w->ui.tableview, column, measured))
                    << header->model()->headerData(column, Qt::Horizontal).toString().toStdString();
            }
            // Nor a button's caption or a label on one line.
            for (const QWidget* widget : w->findChildren<QWidget*>())
            {
                const auto* label = qobject_cast<const QLabel*>(widget);
                if ((qobject_cast<const QAbstractButton*>(widget) == nullptr && label == nullptr) ||
                    (label != nullptr && label->wordWrap()) || !widget->isVisible())
                    continue;
                EXPECT_GE(widget->width(), widget->minimumSizeHint().width())
                    << widget->objectName().toStdString();
            }
        }
    }
}

// The table as a user arranges it: a filter over the columns shown, known
// devices included; sorting that fits each column's data, with the devices
// that did not answer kept below; optional columns from the header's menu;
// all of it back at the next start.
TEST_F(ControllerTest, FilterSortAndColumnsAsTheUserArrangesThem)
{
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    const auto known = [now](const char* id, const char* host, const char* address, int daysAgo)
    {
        nasknown::KnownDevice device;
        device.vendor = "TAVIK";
        device.id = id;
        device.host = host;
        device.address = address;
        device.lastSeen = now - daysAgo * 86400;
        return device;
    };
    ASSERT_TRUE(nasknown::KnownStore(KnownPath().toStdString())
                    .Update(
                        [&](auto& list) {
                            list = {known("id-o", "old-nas", "198.18.1.3", 2),
                                    known("id-p", "older", "198.18.1.1", 5)};
                        })
                    .ok);
    Add(Device().Id("id-b").Ip("198.18.1.10").Host("nas-b").Product("P"));
    Add(Device().Id("id-a").Ip("198.18.1.2").Host("NAS-a").Product("P"));
    Add(Device().Id("id-c").Ip("198.18.1.9").Host("backup").Product("P"));
    Tick(nasfinder::kSearchSeconds + 1);
    ASSERT_TRUE(Remembered(5));
    const auto column = [this](int index)
    {
        QStringList cells;
        for (int row = 0; row < w->sorted->rowCount(); ++row)
            cells.append(w->sorted->index(row, index).data().toString());
        return cells.join(' ');
    };
    QHeaderView* header = w->ui.tableview->horizontalHeader();
    const struct
    {
        int column;
        Qt::SortOrder order;
        int shownColumn;
        const char* shown;
    } sorts[] = {
        {1, Qt::AscendingOrder, 1, "198.18.1.2 198.18.1.9 198.18.1.10 198.18.1.1 198.18.1.3"},
        {1, Qt::DescendingOrder, 1, "198.18.1.10 198.18.1.9 198.18.1.2 198.18.1.3 198.18.1.1"},
        {0, Qt::AscendingOrder, 0, "backup NAS-a nas-b old-nas older"},
        // Devices that answer were seen at the same time: they keep the order
        // of the last sort.
        {3, Qt::AscendingOrder, 0, "backup NAS-a nas-b older old-nas"},
    };
    for (const auto& sort : sorts)
    {
        header->setSortIndicator(sort.column, sort.order);
        EXPECT_EQ(column(sort.shownColumn), sort.shown) << "sorted by " << sort.column;
    }
    // The order holds across the ticks.
    Tick(3);
    EXPECT_EQ(column(0), "backup NAS-a nas-b older old-nas");
    header->setSortIndicator(0, Qt::AscendingOrder);

    // The filter: any column shown, without regard to case; Ctrl+F, Escape,
    // the clear button over a text.
    ShowWindow();
    QTest::keyClick(w, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(w->ui.filterField->hasFocus());
    QTest::keyClicks(w->ui.filterField, "NaS");
    EXPECT_EQ(column(0), "NAS-a nas-b old-nas");
    EXPECT_TRUE(w->ui.filterField->isClearButtonEnabled());
    EXPECT_TRUE(w->ui.statusField->text().startsWith(Text("Rows Shown Filtered", {"3", "5", "2"})))
        << w->ui.statusField->text().toStdString();
    w->ui.filterField->setText("198.18.1.1");
    EXPECT_EQ(column(0), "nas-b older");
    // A column not shown is not searched; shown from the header's menu, it is.
    w->ui.filterField->setText("02:00:5e");
    EXPECT_EQ(column(0), "");
    QAction* mac = w->columns->columnActions[6];
    ASSERT_NE(mac, nullptr);
    EXPECT_FALSE(mac->isChecked());
    mac->trigger();
    EXPECT_TRUE(w->sorted->columnShown(6));
    EXPECT_EQ(w->sorted->headerData(4, Qt::Horizontal).toString(), Text("Column MAC"));
    EXPECT_EQ(column(0), "backup NAS-a nas-b");
    QTest::keyClick(w->ui.filterField, Qt::Key_Escape);
    EXPECT_EQ(w->ui.filterField->text(), "");
    EXPECT_EQ(w->sorted->rowCount(), 5);
    EXPECT_TRUE(w->ui.statusField->text().startsWith(RowCount(5, 3)));

    // The next start: the MAC column, the sort and the widths are back.
    header->resizeSection(1, header->sectionSize(1) + 40);
    const int addressWidth = header->sectionSize(1);
    w->columns->save();
    AppDelegate next;
    next.loadWindow(WindowSessionSettings({}), TestHooks(wakes));
    const QHeaderView* again = next.window->ui.tableview->horizontalHeader();
    EXPECT_TRUE(next.window->sorted->columnShown(6));
    EXPECT_FALSE(next.window->sorted->columnShown(5));
    EXPECT_EQ(again->sortIndicatorSection(), 0);
    EXPECT_EQ(again->sectionSize(1), addressWidth);
    EXPECT_EQ(next.window->sorted->sortColumn(), 0);
    EXPECT_TRUE(next.window->columns->columnActions[6]->isChecked());
}

// Device text is hostile: the details show it as text and copy it as
// "key: value" lines, and the saved list keeps a spreadsheet from running it.
TEST_F(ControllerTest, DetailsAndTheSavedListKeepDeviceTextAsText)
{
    Add(Device()
            .Id("id-1")
            .Ip("198.18.1.1")
            .Host("=cmd|' /C calc'!A0")
            .Product("<b>NAS</b>, \"4\"")
            .OsVersion("7.1"));
    Add(Device().Id("id-2").Ip("198.18.1.2").Host("plain").Product("P"));
    Tick(nasfinder::kSearchSeconds + 1);
    ASSERT_TRUE(Remembered(2));
    w->ui.tableview->selectRow(0);
    ShowWindow();
    QTest::keyClick(w, Qt::Key_I, Qt::ControlModifier);
    ASSERT_TRUE(w->actions->detailsDialog);
    auto* details = qobject_cast<DeviceDetails*>(w->actions->detailsDialog.data());
    ASSERT_NE(details, nullptr);
    const QString text = details->fields->toPlainText();
    for (const char* line : {"host: =cmd|' /C calc'!A0", "product: <b>NAS</b>, \"4\"", "osversion: 7.1",
                             "vendor: TAVIK", "answering: yes", "mac: 02:00:5e:10:00:01", "interface: eth0"})
        EXPECT_TRUE(text.split('\n').contains(QString::fromUtf8(line))) << line << "\n" << text.toStdString();
    details->copyButton->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), text);
    details->close();

    // The list as shown, a header line of the captions; the formula inert.
    const testsupport::TempDir folder;
    const QString path = QString::fromStdString(folder.str() + "/devices.csv");
    ASSERT_EQ(SaveTable(*w->ui.tableview, path), "");
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(saved.readAll()).split("\r\n");
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0],
              QStringList({Text("List1"), Text("List2"), Text("List3"), Text("Last Seen")}).join(','));
    EXPECT_EQ(lines[1], QString::fromUtf8("\"'=cmd|' /C calc'!A0\",198.18.1.1,\"<b>NAS</b>, \"\"4\"\"\",") +
                            Text("Seen Now"));
    EXPECT_EQ(testsupport::ListDir(folder.path()).size(), 1u) << "no temporary file is left";
    // A folder that is not there: the status line says why.
    EXPECT_NE(SaveTable(*w->ui.tableview, QString::fromStdString(folder.str() + "/none/devices.csv")), "");
}

#include "ControllerTest.moc"
