// The window controller driven as its timer and buttons would drive it, over
// the real device registry. awakeFromNib starts the discovery library, so
// these tests only run in an isolated network namespace (netns-run.sh or the
// LAN test bed) and skip anywhere else.
#include "AppDelegate.h"
#include "Controller.h"
#include "DeviceSearchInterface.h"
#include "ParseOperation.h"
#include "WindowTestSupport.h"

#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QUrl>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>

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

deviceinfo Device(const char* id, const char* ip, const char* host, const char* product)
{
    deviceinfo info;
    CopyDeviceField(info.id, id);
    CopyDeviceField(info.ip, ip);
    CopyDeviceField(info.host, host);
    CopyDeviceField(info.product, product);
    CopyDeviceField(info.factory, "tavik");
    info.type = 1;
    return info;
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
        std::string why;
        if (!NetworkIsIsolated(&why))
            GTEST_SKIP() << "not starting the discovery library here (" << why
                         << "); run this test through netns-run.sh or inside the LAN test bed";
        TestApplication();
        delegate.loadWindowLayout();
        delegate.awakeFromNib();
        c = delegate.controller;
        c->awakeFromNib();
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

    AppDelegate delegate;
    Controller* c = nullptr;
};

TEST_F(ControllerTest, CountdownThenIdle)
{
    const QString caption = c->parseOperation->entry("Search Time")->String.value_or("");
    ASSERT_FALSE(caption.isEmpty());
    EXPECT_FALSE(ButtonsEnabled());

    Tick();
    EXPECT_EQ(c->countdownField->text(), caption + " 10");
    Tick(9);
    EXPECT_EQ(c->countdownField->text(), caption + " 1");
    EXPECT_FALSE(ButtonsEnabled());
    Tick();
    EXPECT_EQ(c->countdownField->text(), caption + " 0");
    EXPECT_FALSE(ButtonsEnabled());
    Tick();
    EXPECT_EQ(c->countdownField->text(), "");
    EXPECT_TRUE(ButtonsEnabled());
    Tick(3);
    EXPECT_EQ(c->countdownField->text(), "");
    EXPECT_TRUE(ButtonsEnabled());
}

TEST_F(ControllerTest, RowsFollowTheRegistryDuringTheCountdownThenFreeze)
{
    CapturedLog log;
    Tick();
    EXPECT_TRUE(Shown().isEmpty());

    Add(Device("id-z", "198.18.1.1", "zeta", "NAS-2"));
    Add(Device("id-a", "198.18.1.2", "alpha", "NAS-4"));
    Tick();
    // Registry order, not sorted by any column.
    EXPECT_EQ(Shown(), QStringList({"zeta|198.18.1.1|NAS-2", "alpha|198.18.1.2|NAS-4"}));
    EXPECT_EQ(c->count, 2);
    EXPECT_TRUE(log.lines().contains("vListDevice.size() = 2"));

    Tick(9);
    EXPECT_EQ(c->counter, 11);
    Add(Device("id-late", "198.18.1.3", "late", "NAS-1"));
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
    Add(Device("id-1", "198.18.1.1", "one", "P"));
    Tick();
    ASSERT_EQ(Shown(), QStringList({"one|198.18.1.1|P"}));
    Registry()->ClearDeviceList();
    Add(Device("id-2", "198.18.1.2", "two", "P"));
    Tick();
    EXPECT_EQ(Shown(), QStringList({"two|198.18.1.2|P"}));
    // A listed device whose record changes in place shows the change.
    Add(Device("id-2", "198.18.1.2", "two", "Q"));
    Tick();
    EXPECT_EQ(Shown(), QStringList({"two|198.18.1.2|Q"}));
}

TEST_F(ControllerTest, RefreshEmptiesAtOnceAndRestartsTheCountdown)
{
    Add(Device("id-1", "198.18.1.1", "one", "P"));
    Tick(12);
    ASSERT_TRUE(ButtonsEnabled());
    ASSERT_EQ(Shown().size(), 1);

    c->refreshbutton->click();
    EXPECT_TRUE(Shown().isEmpty());
    std::vector<deviceinfo> list{Device("x", "198.18.9.9", "x", "x")};
    Registry()->GetDeviceList(list);
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(ButtonsEnabled());
    EXPECT_EQ(c->counter, 0);
    EXPECT_EQ(c->count, 0);

    Add(Device("id-2", "198.18.1.2", "two", "P"));
    Tick();
    EXPECT_TRUE(c->countdownField->text().endsWith(" 10"));
    EXPECT_EQ(Shown(), QStringList({"two|198.18.1.2|P"}));
}

TEST_F(ControllerTest, LogInAndMyStorageOpenTheSelectedAddress)
{
    UrlRecorder urls;
    QDesktopServices::setUrlHandler("http", &urls, "open");
    QDesktopServices::setUrlHandler("smb", &urls, "open");
    CapturedLog log;

    Add(Device("id-z", "198.18.1.1", "zeta", "P"));
    Add(Device("id-a", "198.18.1.2", "alpha", "P"));
    Add(Device("id-evil", "198.18.0.5@elsewhere.example", "evil", "P"));
    Tick(12);

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

    // The user clicks the first header: rows sort by host name, and the
    // selected visible row is the one opened.
    QHeaderView* header = c->tableview->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(0) + 5, 5));
    EXPECT_EQ(log.lines().count("count=11111"), 1);
    EXPECT_EQ(Shown(), QStringList({"alpha|198.18.1.2|P", "evil|198.18.0.5@elsewhere.example|P",
                                    "zeta|198.18.1.1|P"}));
    c->tableview->selectRow(2);
    c->onLogin();
    EXPECT_EQ(urls.opened.last(), "http://198.18.1.1");

    QDesktopServices::unsetUrlHandler("http");
    QDesktopServices::unsetUrlHandler("smb");
}

TEST_F(ControllerTest, ClosingTheWindowEndsTheProcessWithStatusZero)
{
    // In a child: the process really ends, while its search is running. The
    // child is started with posix_spawn rather than QProcess, whose fork in a
    // process full of library threads trips ThreadSanitizer's runtime.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray errPath = dir.filePath("stderr.txt").toLocal8Bit();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    char program[] = WINDOW_CLOSE_CHILD;
    char* argv[] = {program, nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(spawned, 0) << std::strerror(spawned);

    int status = 0;
    bool ended = WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 30000);
    if (!ended)
    {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    QFile errFile(QString::fromLocal8Bit(errPath));
    ASSERT_TRUE(errFile.open(QIODevice::ReadOnly));
    const std::string err = errFile.readAll().toStdString();
    ASSERT_TRUE(ended) << "the window closed but the process went on\n" << err;
    ASSERT_TRUE(WIFEXITED(status)) << err;
    EXPECT_EQ(WEXITSTATUS(status), 0) << err;
    EXPECT_NE(err.find("vListDevice.size() = 0"), std::string::npos) << err;
    EXPECT_NE(err.find("closing now"), std::string::npos) << err;
}

#include "ControllerTest.moc"
