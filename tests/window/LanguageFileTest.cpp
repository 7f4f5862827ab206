// The language file: which file a user's languages choose, what the parser
// makes of a file, and what the caption step does with the table. Nothing here
// starts the discovery library, so these tests run anywhere.
#include "AppDelegate.h"
#include "Captions.h"
#include "DeviceRecord.h"
#include "DeviceSearchInterface.h"
#include "FakeSearchLib.h"
#include "LanguageFile.h"
#include "MainWindow.h"
#include "SearchSchedule.h"
#include "StatusLine.h"
#include "WindowTestSupport.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QRawFont>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>

namespace
{

QByteArray Node(const char* key, const char* text, const char* extra = "")
{
    return QByteArray("<NODE><KEY KeyString=\"") + key + "\" String=\"" + text + "\" " + extra +
           "/></NODE>\n";
}

QByteArray Document(const QByteArray& nodes)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<LanguageCFG>\n" + nodes + "</LanguageCFG>\n";
}

QByteArray AllEightEntries()
{
    return Node("List1", "Host", "Font=\"DejaVu Sans\" Size=\"13.5\"") + Node("List2", "Address") +
           Node("List3", "Model") + Node("Log In", "Open web page", "Font=\"DejaVu Sans\" Size=\"13.5\"") +
           Node("Refresh", "Search again") + Node("My storage", "Open share") +
           Node("Device List", "Devices", "Font=\"DejaVu Sans\" Size=\"17\"") +
           Node("Search Time", "Seconds");
}

// The first preferred language, as a language tag or a locale name, and the
// file it chooses.
const std::vector<std::pair<QStringList, const char*>> kChoices = {
    // The lists QLocale::system().uiLanguages() gives for common locales.
    {{"en-US", "en-Latn-US", "en"}, "XML_en"},
    {{"en-GB", "en-Latn-GB"}, "XML_en"},
    {{"zh-CN", "zh-Hans-CN", "zh"}, "XML_ch"},
    {{"zh-TW", "zh-Hant-TW"}, "XML_tl"},
    {{"zh-HK", "zh-Hant-HK"}, "XML_tl"},
    {{"zh-MO"}, "XML_tl"},
    {{"zh-Hant"}, "XML_tl"},
    {{"zh-Hans"}, "XML_ch"},
    {{"zh-SG"}, "XML_ch"},
    {{"zh_TW"}, "XML_tl"},
    // A locale name's codeset is not part of the region.
    {{"zh_TW.UTF-8"}, "XML_tl"},
    {{"de-DE", "de-Latn-DE", "de"}, "XML_de"},
    {{"de-AT"}, "XML_de"},
    {{"de_CH.UTF-8"}, "XML_de"},
    {{"fr_CA.UTF-8@euro"}, "XML_fr"},
    {{"es-419"}, "XML_es"},
    {{"it_IT"}, "XML_it"},
    {{"pt-BR"}, "XML_pt"},
    {{"pt-PT"}, "XML_pt"},
    {{"ru_RU.UTF-8"}, "XML_ru"},
    {{"uk-UA"}, "XML_uk"},
    {{"PL_pl"}, "XML_pl"},
    {{"nl-BE"}, "XML_nl"},
    {{"tr_TR.UTF-8"}, "XML_tr"},
    {{"ja-JP", "ja"}, "XML_ja"},
    {{"ko_KR.eucKR"}, "XML_ko"},
    // Only the first language counts.
    {{"fr-FR", "en-US"}, "XML_fr"},
    {{"sv-SE", "de-DE"}, "XML_ch"},
    // Country codes and three-letter codes are not language subtags.
    {{"ua"}, "XML_ch"},
    {{"jp"}, "XML_ch"},
    {{"eng"}, "XML_ch"},
    {{"C"}, "XML_ch"},
    {{"C.UTF-8"}, "XML_ch"},
    {{"POSIX"}, "XML_ch"},
    {{}, "XML_ch"},
};

} // namespace

TEST(LanguageChoice, FirstPreferredLanguageByLanguageSubtag)
{
    for (const auto& [languages, resource] : kChoices)
        EXPECT_EQ(LanguageResourceName(languages), resource) << languages.join(',').toStdString();
}

TEST(LanguageChoice, PreferredLanguagesFromTheEnvironment)
{
    struct Row
    {
        const char* language;
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        const char* resource;
    };
    const Row rows[] = {
        {"fr:en", "", "", "de_DE.UTF-8", "XML_fr"},
        // LANGUAGE is read even where the locale is C.
        {"ko", "", "", "C.UTF-8", "XML_ko"},
        {":pt_PT:", "", "", "", "XML_pt"},
        {"", "ru_RU.UTF-8", "ja_JP.UTF-8", "en_US.UTF-8", "XML_ru"},
        {"", "", "ja_JP.UTF-8", "en_US.UTF-8", "XML_ja"},
        {"", "", "", "uk_UA.UTF-8", "XML_uk"},
        {"", "", "", "C.UTF-8", "XML_ch"},
        {nullptr, nullptr, nullptr, nullptr, "XML_ch"},
    };
    for (const Row& row : rows)
    {
        QProcessEnvironment environment;
        const std::pair<const char*, const char*> variables[] = {{"LANGUAGE", row.language},
                                                                 {"LC_ALL", row.lcAll},
                                                                 {"LC_MESSAGES", row.lcMessages},
                                                                 {"LANG", row.lang}};
        for (const auto& [name, value] : variables)
        {
            if (value != nullptr)
                environment.insert(name, value);
        }
        EXPECT_EQ(LanguageResourceName(PreferredLanguages(environment)), row.resource)
            << environment.toStringList().join(' ').toStdString();
    }
}

namespace
{

QSet<QString> Placeholders(const QString& caption)
{
    QSet<QString> found;
    QRegularExpressionMatchIterator it = QRegularExpression("%[0-9]+").globalMatch(caption);
    while (it.hasNext())
        found.insert(it.next().captured());
    return found;
}

LanguageParseResult ParseResource(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return ParseLanguageData(file.readAll());
}

} // namespace

// Every language file in the source folder is shipped, chosen by some language,
// and captions every control: every key, in one installed font that has every
// character it shows, keeping the English entry's placeholders and the
// commands the user is to type.
TEST(LanguageChoice, ShippedFilesAreComplete)
{
    TestApplication();
    AppDelegate delegate; // registers the compiled-in resources
    delegate.loadWindow(WindowSessionSettings({}));
    const LanguageTable english = ParseResource(":/XML_en.xml").table;
    // Kept as they are in every language.
    const std::pair<const char*, const char*> literals[] = {
        {"Broadcast Unavailable", "sudo setcap cap_net_bind_service=+ep %1"},
        {"Broadcast Helper Not Allowed", " nasfinder"},
        {"Firewall Hint", "man nasfinder"},
        {"Firewall Hint", "FIREWALL"},
    };
    const QStringList files = QDir(NASFINDER_WINDOW_RESOURCES).entryList({"XML_*.xml"}, QDir::Files);
    EXPECT_GE(files.size(), 15);
    for (const QString& fileName : files)
    {
        SCOPED_TRACE(fileName.toStdString());
        const QString name = QFileInfo(fileName).completeBaseName();
        const QString code = name.mid(4);
        const QString tag = code == "ch" ? "zh-Hans" : code == "tl" ? "zh-Hant" : code;
        EXPECT_EQ(LanguageResourceName({tag}), name);
        const QString path = PathForResource(":", name, "xml");
        ASSERT_FALSE(path.isNull()) << "not in nasfinder.qrc";
        QFile source(QDir(NASFINDER_WINDOW_RESOURCES).filePath(fileName));
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        QFile shipped(path);
        ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
        EXPECT_EQ(source.readAll(), shipped.readAll()) << "the build holds an old copy";

        const LanguageParseResult result = ParseResource(path);
        EXPECT_FALSE(result.error.has_value());
        EXPECT_EQ(result.completions, 1);
        const std::optional<QString> family =
            result.table.empty() ? std::nullopt : result.table.begin()->second.Font;
        ASSERT_TRUE(family.has_value());
        // A missing font would leave CJK text drawn with another language's
        // shapes, or as boxes.
        ASSERT_TRUE(QFontDatabase::hasFamily(*family)) << family->toStdString() << " is not installed";
        const QRawFont font = QRawFont::fromFont(QFont(*family));
        for (const char* key : WindowCaptionKeys())
        {
            const auto it = result.table.find(key);
            ASSERT_NE(it, result.table.end()) << key;
            const QString text = it->second.String.value_or("");
            EXPECT_FALSE(text.isEmpty()) << key;
            EXPECT_EQ(it->second.Font, family) << key;
            EXPECT_GT(ReadFontSize(it->second.FontSize), 0.0) << key;
            QString notInFont;
            for (const uint c : text.toUcs4())
            {
                if (!font.supportsCharacter(c))
                    notInFont += QString::fromUcs4(reinterpret_cast<const char32_t*>(&c), 1);
            }
            EXPECT_EQ(notInFont, "") << key << ": not in " << family->toStdString();
            const QString englishText = english.at(key).String.value_or("");
            // Without its placeholders a notice loses the port, the count or the address.
            EXPECT_EQ(Placeholders(text), Placeholders(englishText)) << key;
            if (name != "XML_en" && englishText.count(u' ') >= 2)
            {
                EXPECT_NE(text, englishText) << key << " is left in English";
            }
        }
        for (const auto& [key, literal] : literals)
            EXPECT_TRUE(result.table.at(key).String.value_or("").contains(literal)) << key << ": " << literal;
    }
    for (const auto& choice : kChoices)
        EXPECT_FALSE(PathForResource(":", choice.second, "xml").isNull()) << choice.second;
}

TEST(LanguageParse, EntriesKeysAndCompletion)
{
    int keyElements = 0;
    const QByteArray file = Document(AllEightEntries() +
                                     // Same key twice: the second wins.
                                     Node("List2", "first") + Node("List2", "second") +
                                     // Two KEYs in one NODE: the second sets all six members again.
                                     "<NODE><KEY KeyString=\"Twice\" String=\"a\" Font=\"F\" Color=\"red\"/>"
                                     "<KEY KeyString=\"Twice\" Size=\"9\"/></NODE>"
                                     // No KeyString, and no KEY at all: not stored.
                                     "<NODE><KEY String=\"orphan\"/></NODE><NODE/>"
                                     // Case matters for element names.
                                     "<node><KEY KeyString=\"lower\"/></node>");
    const LanguageParseResult result = ParseLanguageData(file, [&] { ++keyElements; });
    EXPECT_FALSE(result.error.has_value());
    EXPECT_EQ(result.completions, 1);
    EXPECT_EQ(keyElements, 8 + 2 + 2 + 1 + 1);
    EXPECT_EQ(result.table.at("List2").String, QString("second"));
    const FontNode& twice = result.table.at("Twice");
    EXPECT_FALSE(twice.String.has_value());
    EXPECT_FALSE(twice.Font.has_value());
    EXPECT_FALSE(twice.FontColor.has_value());
    EXPECT_EQ(twice.FontSize, QString("9"));
    // "node" is not an entry element: its KEY only changes the entry left
    // over from the NODE before it, which is never stored again.
    EXPECT_EQ(result.table.size(), 9u);
    EXPECT_EQ(result.table.count("lower"), 0u);
}

TEST(LanguageParse, AttributesPresentEmptyAndAbsent)
{
    const LanguageParseResult result = ParseLanguageData(Document(
        "<NODE><KEY KeyString=\"K\" String=\"\" Color=\"#123456\" Offset=\"3\">ignored text</KEY></NODE>"));
    const FontNode& node = result.table.at("K");
    EXPECT_EQ(node.String, QString(""));
    EXPECT_FALSE(node.Font.has_value());
    EXPECT_EQ(node.FontColor, QString("#123456"));
    EXPECT_EQ(node.FontOffset, QString("3"));
    EXPECT_FALSE(node.FontSize.has_value());
}

TEST(LanguageParse, KeyBeforeAnyNodeIsDropped)
{
    const LanguageParseResult result =
        ParseLanguageData(Document("<KEY KeyString=\"early\"/>" + Node("late", "x")));
    EXPECT_EQ(result.table.count("early"), 0u);
    EXPECT_EQ(result.table.count("late"), 1u);
}

TEST(LanguageParse, WithoutRootElementEntriesStayButNoCompletion)
{
    const LanguageParseResult result = ParseLanguageData("<Other>" + Node("Search Time", "T") + "</Other>");
    EXPECT_FALSE(result.error.has_value());
    EXPECT_EQ(result.completions, 0);
    EXPECT_EQ(result.table.at("Search Time").String, QString("T"));
}

TEST(LanguageParse, MalformedFileKeepsEntriesBeforeTheError)
{
    const LanguageParseResult truncated =
        ParseLanguageData("<LanguageCFG>" + Node("List1", "kept") + "<NODE><KEY KeyString=\"List2\"");
    ASSERT_TRUE(truncated.error.has_value());
    EXPECT_EQ(truncated.completions, 0);
    EXPECT_EQ(truncated.table.count("List1"), 1u);
    EXPECT_EQ(truncated.table.count("List2"), 0u);

    const LanguageParseResult mismatched = ParseLanguageData("<LanguageCFG><NODE></KEY></LanguageCFG>");
    ASSERT_TRUE(mismatched.error.has_value());
    EXPECT_GT(mismatched.error->line, 0);

    // An error after the root ended: the completion already happened.
    const LanguageParseResult trailing = ParseLanguageData(Document(Node("List1", "x")) + "<extra/>");
    ASSERT_TRUE(trailing.error.has_value());
    EXPECT_EQ(trailing.completions, 1);

    for (const QByteArray& broken : {QByteArray(), QByteArray("\xff\xfe\x00garbage", 10), QByteArray("<<<<")})
        EXPECT_TRUE(ParseLanguageData(broken).error.has_value());
}

TEST(LanguageParse, EntityDeclarationsAreRefusedQuickly)
{
    // Ten levels of ten references each: a billion copies when expanded.
    QByteArray laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE LanguageCFG [\n<!ENTITY l0 \"ha\">\n";
    for (int i = 1; i <= 10; ++i)
    {
        laughs += "<!ENTITY l" + QByteArray::number(i) + " \"";
        for (int j = 0; j < 10; ++j)
            laughs += "&l" + QByteArray::number(i - 1) + ";";
        laughs += "\">\n";
    }
    laughs += "]>\n<LanguageCFG><NODE><KEY KeyString=\"List1\" String=\"&l10;\"/></NODE></LanguageCFG>";
    QElapsedTimer clock;
    clock.start();
    const LanguageParseResult bomb = ParseLanguageData(laughs);
    EXPECT_LT(clock.elapsed(), 1000);
    ASSERT_TRUE(bomb.error.has_value());
    EXPECT_TRUE(bomb.table.empty());
    EXPECT_EQ(bomb.completions, 0);

    const LanguageParseResult external = ParseLanguageData(
        "<!DOCTYPE LanguageCFG [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
        "<LanguageCFG><NODE><KEY KeyString=\"List1\" String=\"&x;\"/></NODE></LanguageCFG>");
    ASSERT_TRUE(external.error.has_value());
    EXPECT_TRUE(external.table.empty());

    const LanguageParseResult undeclared = ParseLanguageData(Document(Node("List1", "&nothere;")));
    ASSERT_TRUE(undeclared.error.has_value());
    EXPECT_EQ(undeclared.completions, 0);

    // A bare document type declares nothing and is harmless; one that names
    // an external file, or declares anything (a default attribute would fill
    // in captions), stays refused.
    const auto withDoctype = [](const char* doctype)
    { return Document(Node("List1", "x")).replace("<LanguageCFG>", QByteArray(doctype) + "<LanguageCFG>"); };
    const LanguageParseResult bare = ParseLanguageData(withDoctype("<!DOCTYPE LanguageCFG>\n"));
    EXPECT_FALSE(bare.error.has_value()) << bare.error->message.toStdString();
    EXPECT_EQ(bare.completions, 1);
    for (const char* refused : {"<!DOCTYPE LanguageCFG SYSTEM \"lang.dtd\">",
                                "<!DOCTYPE LanguageCFG [<!ATTLIST KEY Font CDATA \"Injected\">]>"})
        EXPECT_TRUE(ParseLanguageData(withDoctype(refused)).error.has_value()) << refused;

    // The predefined entities and character references are plain text.
    const LanguageParseResult plain = ParseLanguageData(Document(Node("List1", "a&amp;b&#x4E3B;")));
    EXPECT_FALSE(plain.error.has_value());
    EXPECT_EQ(plain.table.at("List1").String, QString::fromUtf8("a&b\u4E3B"));
}

TEST(LanguageParse, FontSizeText)
{
    EXPECT_EQ(ReadFontSize(QString("13.5")), 13.5);
    EXPECT_EQ(ReadFontSize(QString("  \t12pt")), 12.0);
    EXPECT_EQ(ReadFontSize(QString("+7")), 7.0);
    EXPECT_EQ(ReadFontSize(QString("-3")), -3.0);
    EXPECT_EQ(ReadFontSize(QString(".5")), 0.5);
    EXPECT_EQ(ReadFontSize(QString("12.")), 12.0);
    EXPECT_EQ(ReadFontSize(QString("1e1")), 10.0);
    EXPECT_EQ(ReadFontSize(QString("12e")), 12.0);
    EXPECT_EQ(ReadFontSize(QString("12e+")), 12.0);
    EXPECT_EQ(ReadFontSize(QString("12,5")), 12.0); // the decimal point is '.' in every locale
    EXPECT_TRUE(std::isinf(ReadFontSize(QString("1e999"))));
    for (const char* none : {"", "big", "pt12", ".", "-", "e5", "0x10", "inf", "nan"})
        EXPECT_EQ(ReadFontSize(QString(none)), 0.0) << none;
    EXPECT_EQ(ReadFontSize(std::nullopt), 0.0);
    // Non-ASCII digits are not decimal digits here.
    EXPECT_EQ(ReadFontSize(QString::fromUtf8("\u0661\u0662")), 0.0);
}

// Drives the caption step through a real window whose language file comes
// from a temporary folder; the library is the recording stand-in.
class CaptionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TestApplication();
        ASSERT_TRUE(dir.isValid());
        g_fakeSearchLib = FakeSearchLib{};
        delegate.loadWindow(WindowSessionSettings({}));
        w = delegate.window;
        w->controller->clock = [this] { return now; };
    }
    void TearDown() override { CloseAlerts(); }

    // Writes the file as the simplified Chinese file, parses it and waits
    // until its captions are on.
    void Load(const QByteArray& contents)
    {
        QFile file(dir.filePath("XML_ch.xml"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
        file.close();
        w->language.start({"zh-CN"}, dir.path());
        ASSERT_TRUE(w->language.started());
        WaitForParse(*w);
    }

    // The search's first second, on the test's clock.
    void FirstTick()
    {
        w->controller->start();
        now += std::chrono::seconds(1);
        w->controller->tick();
        w->controller->tickTimer.stop();
    }

    QString Header(int column) const { return w->sorted->headerData(column, Qt::Horizontal).toString(); }

    QTemporaryDir dir;
    AppDelegate delegate;
    MainWindow* w = nullptr;
    nasfinder::SearchSession::TimePoint now{};
};

TEST_F(CaptionTest, EightEntriesCaptionEveryControlWithoutAlert)
{
    const QFont buttonFontBefore = w->ui.refreshbutton->font();
    Load(Document(AllEightEntries() + Node("Copy Address", "Copy IP", "Font=\"DejaVu Sans\" Size=\"13.5\"")));
    EXPECT_EQ(Header(0), "Host");
    EXPECT_EQ(Header(1), "Address");
    EXPECT_EQ(Header(2), "Model");
    EXPECT_EQ(w->ui.loginbutton->text(), "Open web page");
    EXPECT_EQ(w->ui.refreshbutton->text(), "Search again");
    EXPECT_EQ(w->ui.storagebutton->text(), "Open share");
    EXPECT_EQ(w->ui.deviceListField->text(), "Devices");
    EXPECT_EQ(w->actions->copyAddressAction->text(), "Copy IP");
    EXPECT_DOUBLE_EQ(w->actions->copyAddressAction->font().pointSizeF(), 13.5);
    EXPECT_EQ(w->actions->openWebPageAction->text(), "Open Web Page"); // no entry: English
    EXPECT_TRUE(OpenAlerts().isEmpty());

    // Fonts: named family at the given size; no "Font" leaves the font alone.
    EXPECT_EQ(w->ui.loginbutton->font().family(), "DejaVu Sans");
    EXPECT_DOUBLE_EQ(w->ui.loginbutton->font().pointSizeF(), 13.5);
    EXPECT_DOUBLE_EQ(w->ui.deviceListField->font().pointSizeF(), 17.0);
    EXPECT_EQ(w->ui.refreshbutton->font(), buttonFontBefore);
    const QFont headerFont = w->sorted->headerData(0, Qt::Horizontal, Qt::FontRole).value<QFont>();
    EXPECT_EQ(headerFont.family(), "DejaVu Sans");
    EXPECT_FALSE(w->sorted->headerData(1, Qt::Horizontal, Qt::FontRole).isValid());
    EXPECT_EQ(w->ui.tableview->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(CaptionTest, FourEntriesShowTheAlertAndStillApply)
{
    Load(
        Document(Node("List1", "H") + Node("Log In", "L") + Node("Refresh", "R") + Node("Device List", "D")));
    const QList<QMessageBox*> alerts = OpenAlerts();
    ASSERT_EQ(alerts.size(), 1);
    // It says what is wrong, in English where the file has no entry for it.
    EXPECT_EQ(alerts[0]->text(),
              QString("The language file lacks captions: it has 4 of the %1 that the window "
                      "shows. The missing ones are shown in English or left as they are.")
                  .arg(WindowCaptionKeys().size()));
    ASSERT_EQ(alerts[0]->buttons().size(), 1);
    EXPECT_EQ(alerts[0]->buttons()[0]->text(), "OK");
    EXPECT_FALSE(alerts[0]->isModal());
    EXPECT_EQ(Header(0), "H");
    EXPECT_EQ(w->ui.loginbutton->text(), "L");
    EXPECT_EQ(w->ui.refreshbutton->text(), "R");
    EXPECT_EQ(w->ui.deviceListField->text(), "D");
    // ... and in the file's language where it has one.
    CloseAlerts();
    Load(Document(Node("List1", "H") + Node("Log In", "L") + Node("Language File Incomplete", "%1/%2 ?")));
    ASSERT_FALSE(OpenAlerts().isEmpty());
    EXPECT_EQ(OpenAlerts().last()->text(), QString("3/%1 ?").arg(WindowCaptionKeys().size()));
    // Entries that are missing leave the layout's captions.
    EXPECT_EQ(w->ui.storagebutton->text(), "My storage");
    EXPECT_EQ(Header(1), "IP Address");
}

TEST_F(CaptionTest, UnknownFontOrOddSizeStillSetsTheCaption)
{
    const QFont before = w->ui.loginbutton->font();
    Load(Document(AllEightEntries().replace("Open web page\" Font=\"DejaVu Sans\" Size=\"13.5\"",
                                            "Open web page\" Font=\"No Such Family 42\" Size=\"20\"") +
                  Node("Refresh", "Again", "Font=\"DejaVu Sans\" Size=\"big\"") +
                  Node("My storage", "Share", "Font=\"DejaVu Sans\" Size=\"1e999\"")));
    EXPECT_EQ(w->ui.loginbutton->text(), "Open web page");
    EXPECT_EQ(w->ui.loginbutton->font(), before);
    EXPECT_EQ(w->ui.refreshbutton->font().family(), "DejaVu Sans");
    EXPECT_DOUBLE_EQ(w->ui.refreshbutton->font().pointSizeF(), QApplication::font().pointSizeF());
    EXPECT_DOUBLE_EQ(w->ui.storagebutton->font().pointSizeF(), kMaxFontPoints);
}

TEST_F(CaptionTest, NoRootElementNoCaptionStepButEntriesVisible)
{
    Load("<Other>" + AllEightEntries() + "</Other>");
    EXPECT_EQ(w->ui.loginbutton->text(), "Log In");
    EXPECT_TRUE(OpenAlerts().isEmpty());
    FirstTick(); // the countdown reads its caption all the same
    EXPECT_EQ(w->ui.countdownField->text(), "Seconds " + QString::number(nasfinder::kSearchSeconds - 1));
}

TEST_F(CaptionTest, MalformedFileSaysWhyItFailed)
{
    QSignalSpy failed(&w->language, &LanguageLoad::failed);
    Load("<LanguageCFG>" + Node("Log In", "L") + "<NODE");
    ASSERT_EQ(failed.size(), 1);
    const auto error = failed.first().first().value<LanguageParseError>();
    EXPECT_NE(error.code, 0);
    EXPECT_FALSE(error.message.isEmpty());
    // No caption step, but the entry before the error is there.
    EXPECT_EQ(w->ui.loginbutton->text(), "Log In");
    ASSERT_TRUE(w->language.entry("Log In"));
}

// The line below the table: the number of rows shown, then why the broadcast
// search is off, each in the file's language, in English where it has no entry.
TEST_F(CaptionTest, StatusLineCountsRowsThenGivesThePortNotice)
{
    g_fakeSearchLib.status.broadcast_bound = 0;
    g_fakeSearchLib.status.broadcast_error = EACCES;
    Load(Document(AllEightEntries()));
    EXPECT_TRUE(w->ui.statusField->text().startsWith(
        QString::fromUtf8("Devices shown: 0 (0 answering)  \u00b7  Only the SSDP search is running")))
        << w->ui.statusField->text().toStdString();
    EXPECT_TRUE(w->ui.statusField->text().contains("sudo setcap cap_net_bind_service=+ep /"))
        << w->ui.statusField->text().toStdString();
    // The port is the one the library names.
    EXPECT_TRUE(
        w->ui.statusField->text().contains("lacks the privilege to use UDP port 67 for the broadcast search"))
        << w->ui.statusField->text().toStdString();
    // A helper that could not be started: the package that holds it.
    g_fakeSearchLib.status.broadcast_helper = -1;
    g_fakeSearchLib.status.broadcast_error = ENOENT;
    Load(Document(AllEightEntries()));
    EXPECT_TRUE(w->ui.statusField->text().endsWith("is missing. Install the nasfinder-common package."))
        << w->ui.statusField->text().toStdString();
    // One this user may not run (the installation keeps it to a group): the
    // group to ask to be let into.
    g_fakeSearchLib.status.broadcast_error = EACCES;
    Load(Document(AllEightEntries()));
    EXPECT_TRUE(w->ui.statusField->text().endsWith("which the broadcast search needs. Ask the administrator for "
                                                   "membership in nasfinder, then log in again."))
        << w->ui.statusField->text().toStdString();
    g_fakeSearchLib.status.broadcast_helper = 1;

    g_fakeSearchLib.status.broadcast_error = EADDRINUSE;
    Load(Document(AllEightEntries() + Node("Broadcast Port Busy", "port 67 taken") +
                  Node("Rows Shown", "%1 rows")));
    EXPECT_EQ(w->ui.statusField->text(), QString::fromUtf8("0 rows  \u00b7  port 67 taken"));
    // Ports 67 and 68 are DHCP's: the likely holder is named.
    Load(Document(AllEightEntries() + Node("Rows Shown", "%1 rows")));
    EXPECT_TRUE(w->ui.statusField->text().endsWith("a DHCP server on this computer (such as dnsmasq, or a "
                                                   "virtual-machine network) may hold it."))
        << w->ui.statusField->text().toStdString();

    // A chosen interface that cannot carry every search says which, by name.
    g_fakeSearchLib.status = AllSearchesRun();
    Load(Document(AllEightEntries() + Node("Rows Shown", "%1 rows") +
                  Node("Interface Loopback", "%1: loopback, nothing there")));
    StatusLineState state;
    state.session.library = AllSearchesRun();
    state.session.chosenInterfaces = {{"eth0", InterfaceLimit::None},
                                      {"tun0", InterfaceLimit::NoBroadcast},
                                      {"lo", InterfaceLimit::Loopback}};
    EXPECT_EQ(StatusLineText(state, Captions(&w->language)),
              QString::fromUtf8("0 rows  \u00b7  interface tun0 has no broadcast: only the SSDP search runs "
                                "there  \u00b7  lo: loopback, nothing there"));

    g_fakeSearchLib.status = AllSearchesRun();
    Load(Document(AllEightEntries() + Node("Rows Shown", "%1 rows")));
    EXPECT_EQ(w->ui.statusField->text(), "0 rows");
    EXPECT_FALSE(w->ui.statusField->isHidden());

    // A registry that turned a new device away says so, until it is emptied.
    CDeviceSearchInterface* registry = CDeviceSearchInterface::GetInstance();
    CDeviceSearchInterface::SetTraceSink([](const char*, std::size_t) {});
    for (std::size_t i = 0; i <= CDeviceSearchInterface::kMaxDevices; ++i)
    {
        const std::string ip = "198." + std::to_string(18 + i / 65536) + "." + std::to_string(i / 256 % 256) +
                               "." + std::to_string(i % 256);
        deviceinfo d = testsupport::MakeRecord().Id(ip).Ip(ip).Factory("TAVIK");
        registry->AddDeviceInfo(d);
    }
    Load(Document(AllEightEntries() + Node("Rows Shown", "%1 rows")));
    EXPECT_EQ(
        w->ui.statusField->text(),
        QString::fromUtf8("0 rows  \u00b7  The list is full: it holds 65536 devices, and further new devices "
                          "are not added."));
    registry->ClearDeviceList();
    CDeviceSearchInterface::SetTraceSink(nullptr);
    Load(Document(AllEightEntries() + Node("Rows Shown", "%1 rows")));
    EXPECT_EQ(w->ui.statusField->text(), "0 rows");
}

TEST_F(CaptionTest, MissingFileMeansNoParse)
{
    CapturedLog log;
    w->language.start({"en-US"}, dir.path());
    EXPECT_FALSE(w->language.started());
    EXPECT_TRUE(log.lines().contains("current=en-US"));
    EXPECT_TRUE(log.lines().contains("fileToOpen = (null)"));
    FirstTick();
    EXPECT_EQ(w->ui.countdownField->text(), " " + QString::number(nasfinder::kSearchSeconds - 1));
}
