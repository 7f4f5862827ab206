// The window's settings file is used only in a folder of the user's own, and
// never through a link or a FIFO; otherwise the settings last for this run.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "SearchAddresses.h"
#include "UserSettings.h"

namespace
{
std::string Path(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}
} // namespace

TEST(SettingsFolder, TheFileIsUsedOnlyInAFolderOfTheUsersOwn)
{
    const struct
    {
        const char* name;
        std::function<void(const QString& folder)> plant;
        const char* refusal; // empty: the file is used
    } rows[] = {
        {"no folder yet", [](const QString&) {}, ""},
        {"a folder of its own", [](const QString& f) { mkdir(Path(f).c_str(), 0700); }, ""},
        {"a link to another folder",
         [](const QString& f)
         {
             mkdir(Path(f + "-theirs").c_str(), 0700);
             symlink(Path(f + "-theirs").c_str(), Path(f).c_str());
         },
         "nasfinder is a symbolic link, not a folder of this user's own"},
        {"another user's folder",
         [](const QString& f)
         {
             mkdir(Path(f).c_str(), 0700);
             ASSERT_EQ(chown(Path(f).c_str(), 65534, 65534), 0);
         },
         "nasfinder belongs to user 65534"},
        {"a folder others may write",
         [](const QString& f)
         {
             mkdir(Path(f).c_str(), 0700);
             chmod(Path(f).c_str(), 0777);
         },
         "may be written by other users (mode 0777)"},
        {"a FIFO as the file",
         [](const QString& f)
         {
             mkdir(Path(f).c_str(), 0700);
             mkfifo(Path(f + "/nasfinder.conf").c_str(), 0600);
         },
         "nasfinder/nasfinder.conf is not a regular file"},
        {"a FIFO as its lock",
         [](const QString& f)
         {
             mkdir(Path(f).c_str(), 0700);
             mkfifo(Path(f + "/nasfinder.conf.lock").c_str(), 0600);
         },
         "nasfinder/nasfinder.conf.lock is not a regular file"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        if (std::string(row.name) == "another user's folder" && geteuid() != 0)
            continue;
        QTemporaryDir home;
        ASSERT_TRUE(home.isValid());
        row.plant(home.filePath("nasfinder"));
        const SettingsPlace place = ChooseSettingsPlace(home.path());
        if (row.refusal[0] == '\0')
        {
            EXPECT_EQ(place.refusal, "");
            EXPECT_EQ(place.file, home.filePath("nasfinder/nasfinder.conf"));
            struct stat st
            {
            };
            ASSERT_EQ(stat(Path(home.filePath("nasfinder")).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0700u);
        }
        else
        {
            EXPECT_TRUE(place.refusal.contains(row.refusal)) << place.refusal.toStdString();
            EXPECT_EQ(place.file, "");
        }
    }
    // The file chosen is the one Qt's own settings of the user name.
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    ASSERT_EQ(setenv("XDG_CONFIG_HOME", Path(home.path()).c_str(), 1), 0);
    EXPECT_EQ(ChooseSettingsPlace(home.path()).file,
              QSettings(QSettings::NativeFormat, QSettings::UserScope, "nasfinder", "nasfinder").fileName());
    unsetenv("XDG_CONFIG_HOME");
}

// The window as a user whose settings folder another user planted: what it
// keeps lasts for the run, and nothing is written where the link points.
TEST(SettingsFolder, APlantedFolderLeavesTheSettingsForThisRunOnly)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QString theirs = home.filePath("theirs");
    ASSERT_TRUE(QDir().mkdir(theirs));
    ASSERT_EQ(symlink(Path(theirs).c_str(), Path(home.filePath("nasfinder")).c_str()), 0);
    ASSERT_EQ(setenv("XDG_CONFIG_HOME", Path(home.path()).c_str(), 1), 0);

    SaveSearchAddresses({"198.18.20.10"});
    EXPECT_EQ(LoadSearchAddresses(), QStringList{"198.18.20.10"});
    EXPECT_TRUE(QDir(theirs).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_FALSE(NasfinderSettings().fileName().startsWith(home.path()));
}
