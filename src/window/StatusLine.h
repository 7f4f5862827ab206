// The line below the table: the number of rows shown (of how many, with a
// filter) and how many of them answer, then a notice for each
// thing that keeps a search from running (the broadcast search's port, a
// chosen interface), a pointer to the firewall when a search ended without a
// device, a full list, and an address not opened.
#ifndef NASFINDER_STATUSLINE_H
#define NASFINDER_STATUSLINE_H

#include "SessionStatus.h"

#include <QString>

class Captions;

struct StatusLineState
{
    // The rows the table shows, of how many (more with a filter), and how
    // many of those shown answered.
    int rowsShown = 0;
    int rowsTotal = 0;
    int answeringShown = 0;
    // What the search session runs.
    nasfinder::SessionStatus session;
    bool searchEndedEmpty = false;
    // Already in the window's language: what became of the last action (an
    // address not opened, the list saved), the known devices that cannot be
    // kept, what came of the last wake.
    QString actionNotice;
    QString knownNotice;
    QString wakeNotice;
};

// Each part in the file's language, or in English where the file has none.
QString StatusLineText(const StatusLineState& state, const Captions& captions);

// The key whose font the whole line takes.
extern const char kStatusLineFontKey[];

#endif
