#include "Controller.h"

#include "Captions.h"
#include "FollowUpSetting.h"
#include "HostAddress.h"
#include "KnownList.h"
#include "LanguageLoad.h"
#include "SearchAddresses.h"
#include "StatusLine.h"
#include "WakePlan.h"

#include <algorithm>
#include <chrono>
#include <ctime>

namespace
{
const char kKnownNotKeptKey[] = "Known Not Kept";
const char kKnownNotKeptText[] = "The list of known devices cannot be kept: %1";
static_assert(nasfinder::kWakeSeconds == 180, "the \"Not Woken\" caption says 3 minutes, in every language");

std::int64_t WallNow()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}
} // namespace

Controller::Controller(const LanguageLoad& language, nasfinder::SessionSettings settings,
                       nasfinder::SessionHooks hooks, QObject* parent)
    : QObject(parent), clock([] { return std::chrono::steady_clock::now(); }), m_language(language),
      m_session(std::move(settings), std::move(hooks))
{
    localLinks = []
    {
        std::vector<LocalInterface> interfaces;
        ListLocalInterfaces(interfaces);
        return nasknown::BroadcastLinks(interfaces);
    };
    m_showNotAnswering = LoadShowNotAnswering();
    tickTimer.setSingleShot(true);
    // The countdown steps on the second; a coarse timer would let it drift.
    tickTimer.setTimerType(Qt::PreciseTimer);
    connect(&tickTimer, &QTimer::timeout, this, &Controller::tick);
}

void Controller::start()
{
    const nasknown::StoreResult loaded = m_session.LoadKnown();
    if (!loaded.movedAside.empty())
        qWarning("nasfinder: %s", loaded.movedAside.c_str());
    if (!loaded.ok)
        qWarning("nasfinder: the known devices cannot be read: %s", loaded.error.c_str());
    m_session.Start();
    beginSearch();
}

void Controller::beginSearch()
{
    m_session.BeginSearch(clock());
    m_searching = true;
    m_searchEnded = false;
    emit searchingChanged(true);
    setRows({});
    // The first send goes out at once.
    tick();
}

void Controller::refresh()
{
    if (m_searching)
        return;
    m_actionNotice.clear();
    // What came of a wake stays said until the next search, unless it goes on.
    if (m_session.Waking() == nullptr)
        m_wakeNotice.clear();
    beginSearch();
}

void Controller::tick()
{
    const nasfinder::SearchSession::TimePoint now = clock();
    const nasfinder::SessionTick step = m_session.Tick(now);
    if (step.remembered)
        remembered(*step.remembered);
    if (step.wake != nasfinder::SessionTick::Wake::None)
        wakeEnded(step.wake == nasfinder::SessionTick::Wake::Answered);
    if (step.secondStepped > 0)
        secondStepped(step.secondStepped);
    const nasfinder::SearchSession::TimePoint next =
        std::min(m_session.NextAt(now), now + std::chrono::seconds(1));
    tickTimer.start(
        std::max(std::chrono::milliseconds(0), std::chrono::ceil<std::chrono::milliseconds>(next - now)));
}

void Controller::secondStepped(int seconds)
{
    if (seconds <= nasfinder::kSearchSeconds)
    {
        // The countdown: the first second shows 10, the eleventh 0.
        m_countdown = QStringLiteral("%1 %2").arg(Captions(&m_language).Text("Search Time", ""),
                                                  QString::number(nasfinder::kSearchSeconds - seconds));
        emit countdownChanged(m_countdown);
        const std::vector<deviceinfo>& answering = m_session.Answering();
        qInfo("vListDevice.size() = %ld", static_cast<long>(answering.size()));
        const QList<DeviceRow> rows = AnsweringRows(answering, m_session.Known());
        if (rows != m_rows)
            setRows(rows);
        return;
    }
    if (m_searching)
    {
        // The tick after the countdown's last: the buttons come on, and the
        // known devices that did not answer join the rows.
        m_searching = false;
        m_searchEnded = true;
        m_countdown.clear();
        emit countdownChanged(m_countdown);
        emit searchingChanged(false);
        showRowsAfterSearch();
        emit statusChanged();
    }
    else if (m_session.Waking() != nullptr)
    {
        // The woken device's row counts the seconds.
        showRowsAfterSearch();
    }
}

void Controller::remembered(const nasknown::StoreResult& result)
{
    if (!result.movedAside.empty())
        qWarning("nasfinder: %s", result.movedAside.c_str());
    m_knownNotice = result.ok ? QString()
                              : Filled(Captions(&m_language).Text(kKnownNotKeptKey, kKnownNotKeptText),
                                       QString::fromStdString(result.error));
    if (!result.ok)
        qWarning("nasfinder: the known devices cannot be kept: %s", result.error.c_str());
    // During a countdown the rows are the countdown's.
    if (!m_searching)
        showRowsAfterSearch();
    emit statusChanged();
}

void Controller::wakeEnded(bool answered)
{
    if (answered)
        setWakeNotice("Woken", "%1 answers again.", m_wakingName);
    else
        setWakeNotice("Not Woken", "%1 did not answer within 3 minutes.", m_wakingName);
    if (!m_searching)
        showRowsAfterSearch();
}

void Controller::wake(const DeviceRow& row)
{
    if (row.answering || m_searching || m_session.Waking() != nullptr)
        return;
    const QString name = row.host.isEmpty() ? row.address : row.host;
    if (!nasknown::ParseMac(row.mac.toStdString()))
    {
        setWakeNotice("Cannot Wake", "%1 cannot be woken: its MAC address is not known.", name);
        return;
    }
    const std::vector<nasknown::KnownDevice>& known = m_session.Known();
    const auto device =
        std::find_if(known.begin(), known.end(),
                     [&row](const nasknown::KnownDevice& k)
                     { return k.vendor == row.vendor.toStdString() && k.id == row.id.toStdString(); });
    if (device == known.end())
        return;
    const nasknown::WakePlan plan = nasknown::PlanWakeFor(*device, localLinks(), name.toStdString());
    const std::string error = plan.error.empty() ? m_session.BeginWake(plan, clock()) : plan.error;
    if (!error.empty())
    {
        setWakeNotice("Wake Not Sent", "The wake-up packet could not be sent: %1",
                      QString::fromStdString(error));
        qWarning("nasfinder: %s", qPrintable(m_wakeNotice));
        return;
    }
    m_wakingName = name;
    m_wakeNotice.clear();
    tick();
    showRowsAfterSearch();
    emit statusChanged();
}

void Controller::forget(const DeviceRow& row)
{
    if (row.answering || m_searching)
        return;
    nasknown::StoreResult result;
    m_session.Forget(row.id.toStdString(), row.vendor.toStdString(), result);
    m_knownNotice = result.ok ? QString()
                              : Filled(Captions(&m_language).Text(kKnownNotKeptKey, kKnownNotKeptText),
                                       QString::fromStdString(result.error));
    showRowsAfterSearch();
    emit statusChanged();
}

void Controller::setShowNotAnswering(bool show)
{
    m_showNotAnswering = show;
    SaveShowNotAnswering(show);
    if (!m_searching)
        showRowsAfterSearch();
}

void Controller::setSearchAddresses(const QStringList& addresses)
{
    SaveSearchAddresses(addresses);
    std::vector<std::uint32_t> numbers;
    for (const QString& address : addresses)
    {
        if (const std::optional<std::uint32_t> number = nasfinder::ParseCanonicalIPv4(address.toStdString()))
            numbers.push_back(*number);
    }
    m_session.SetAddresses(numbers);
    emit statusChanged();
}

void Controller::setFollowUps(bool on)
{
    SaveFollowUps(on);
    m_session.SetFollowUps(on);
}

void Controller::setActionNotice(const QString& notice)
{
    m_actionNotice = notice;
    emit statusChanged();
}

StatusLineState Controller::statusState() const
{
    StatusLineState state;
    state.session = m_session.Status();
    // A known device that did not answer is no find.
    state.searchEndedEmpty =
        m_searchEnded &&
        std::none_of(m_rows.begin(), m_rows.end(), [](const DeviceRow& row) { return row.answering; });
    state.actionNotice = m_actionNotice;
    state.knownNotice = m_knownNotice;
    state.wakeNotice = m_wakeNotice;
    return state;
}

void Controller::setRows(const QList<DeviceRow>& rows)
{
    m_rows = rows;
    m_rowsMadeAt = WallNow();
    emit rowsChanged();
    emit statusChanged();
}

void Controller::showRowsAfterSearch()
{
    const std::vector<deviceinfo>& answered = m_session.Answering();
    QList<DeviceRow> rows = AnsweringRows(answered, m_session.Known());
    if (m_showNotAnswering)
    {
        std::optional<Waking> waking;
        if (const nasknown::WakePlan* plan = m_session.Waking())
            waking = Waking{
                plan->vendor, plan->id,
                std::chrono::duration_cast<std::chrono::seconds>(clock() - *m_session.WakeStarted()).count()};
        rows.append(NotAnsweringRows(m_session.Known(), answered, waking));
    }
    if (rows != m_rows)
        setRows(rows);
}

void Controller::setWakeNotice(const char* key, const char* english, const QString& value)
{
    m_wakeNotice = Filled(Captions(&m_language).Text(key, english), value);
    emit statusChanged();
}
