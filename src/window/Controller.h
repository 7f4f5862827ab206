// The window's search: the countdown of a search at start and at each
// Refresh, the rows the table shows, Wake and Forget of a known device that
// did not answer, and the addresses searched beyond the local network. It
// drives the search session with one timer and tells the window what to show
// through its signals; the widgets are the window's.
#ifndef NASFINDER_CONTROLLER_H
#define NASFINDER_CONTROLLER_H

#include "DeviceTable.h"
#include "Neighbours.h"
#include "SearchSession.h"
#include "StatusLine.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <vector>

class LanguageLoad;

class Controller : public QObject
{
    Q_OBJECT
public:
    Controller(const LanguageLoad& language, nasfinder::SessionSettings settings,
               nasfinder::SessionHooks hooks = nasfinder::SessionHooks(), QObject* parent = nullptr);

    // Starts the library and the first search.
    void start();

    // The countdown runs: the buttons are off, and Refresh does nothing.
    bool searching() const { return m_searching; }
    const QList<DeviceRow>& rows() const { return m_rows; }
    // When the rows were made, for how long ago a device was seen.
    std::int64_t rowsMadeAt() const { return m_rowsMadeAt; }
    QString countdownText() const { return m_countdown; }
    // The status line's state but for the rows it counts, which the window's
    // filter decides.
    StatusLineState statusState() const;
    const nasfinder::SearchSession& session() const { return m_session; }

    // What the timer's ticks read, and the host's broadcast links for a wake:
    // tests give their own.
    std::function<nasfinder::SearchSession::TimePoint()> clock;
    std::function<std::vector<nasknown::Link>()> localLinks;
    // The one timer: due when the session has something to do, at the
    // latest at the next second of the search.
    QTimer tickTimer;

public slots:
    void tick();
    void refresh();
    // Sends the device's wake-up packet and searches for it every watch round
    // for up to 3 minutes; or drops it from the known devices.
    void wake(const DeviceRow& row);
    void forget(const DeviceRow& row);
    void setShowNotAnswering(bool show);
    // Kept in the user's settings and searched from now on.
    void setSearchAddresses(const QStringList& addresses);
    // Kept in the user's settings and followed from the next send on.
    void setFollowUps(bool on);
    // What became of the user's last action (an address opened, the list
    // saved), until the next one or the next search.
    void setActionNotice(const QString& notice);

signals:
    void countdownChanged(const QString& text);
    void searchingChanged(bool searching);
    void rowsChanged();
    void statusChanged();

private:
    void beginSearch();
    void secondStepped(int seconds);
    void remembered(const nasknown::StoreResult& result);
    void wakeEnded(bool answered);
    void setRows(const QList<DeviceRow>& rows);
    // What answered, then (when shown) the known devices that did not.
    void showRowsAfterSearch();
    void setWakeNotice(const char* key, const char* english, const QString& value);

    const LanguageLoad& m_language;
    nasfinder::SearchSession m_session;
    bool m_searching = false;
    // A search has run to its end (and none runs since).
    bool m_searchEnded = false;
    bool m_showNotAnswering = true;
    QList<DeviceRow> m_rows;
    std::int64_t m_rowsMadeAt = 0;
    QString m_countdown;
    // The device being woken, as the status line names it.
    QString m_wakingName;
    // Said on the status line until the next search, or the next of their kind.
    QString m_actionNotice;
    QString m_knownNotice;
    QString m_wakeNotice;
};

#endif
