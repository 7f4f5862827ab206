// Where the window keeps what the user chooses: the settings file
// $XDG_CONFIG_HOME/nasfinder/nasfinder.conf, but only in a folder that is the
// user's own (src/common/OwnFolder.h) and only while the file and its lock are
// regular files or not there yet. Qt follows links and would wait on a FIFO;
// a settings folder planted by another user, or a FIFO in it, must not decide
// where the window writes nor hold it. Otherwise the settings are kept for
// this run only, and the window says so once.
#ifndef NASFINDER_USERSETTINGS_H
#define NASFINDER_USERSETTINGS_H

#include <QSettings>
#include <QString>

// Where the settings go: the file, when its folder passes; otherwise why not.
struct SettingsPlace
{
    QString file;
    QString refusal;
};

// The place for a configuration home (what $XDG_CONFIG_HOME names, or
// ~/.config): the folder nasfinder in it, made (mode 0700) when missing.
SettingsPlace ChooseSettingsPlace(const QString& configHome);

// The user's settings, as chosen once per run.
QSettings UserSettings();

#endif
