// The line below the table: the number of rows shown, then a notice for each
// thing that keeps a search from running (the broadcast search's port, a
// chosen interface), a pointer to the firewall when a search ended without a
// device, a full list, and an address not opened.
#ifndef NASFINDER_STATUSLINE_H
#define NASFINDER_STATUSLINE_H

#include "NetworkInterfaces.h"
#include "SearchDeviceOpt.h"

#include <QString>

#include <cstddef>
#include <vector>

class Captions;

struct StatusLineState
{
    int rowsShown = 0;
    // What the library says runs.
    search_dll_status search{};
    // The interfaces chosen with --interface and what each cannot carry.
    std::vector<ChosenInterface> chosenInterfaces;
    bool searchEndedEmpty = false;
    // Devices are also searched by their addresses, whatever the interfaces.
    bool searchesAddresses = false;
    // The registry turned a new device away: it holds maxDevices.
    bool listFull = false;
    std::size_t maxDevices = 0;
    // Already in the window's language.
    QString openNotice;
    // The broadcast helper's file, named by the broadcast search's notices.
    QString helperPath;
    // The known devices cannot be kept; what came of the last wake.
    QString knownNotice;
    QString wakeNotice;
};

// Each part in the file's language, or in English where the file has none.
QString StatusLineText(const StatusLineState& state, const Captions& captions);

// The key whose font the whole line takes.
extern const char kStatusLineFontKey[];

#endif
