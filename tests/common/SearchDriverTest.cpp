// The search driver on a clock of the test's own: each row is what a user of
// it would do and see, woken when the driver says or at the row's times.
#include "SearchDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

using nasfinder::SearchDriver;
using nasfinder::SearchStep;

namespace
{
std::string Millis(SearchDriver::Time t)
{
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(t).count());
}

// Runs `driver` as the programs do: at each wake every due thing is taken (a
// send asks again at once), then the countdown is read. The wakes are the
// row's times, or else the driver's own for two watch rounds and a little.
// The result lists "ms:" and r(ound ended), s(end), o(ver), or "=N" when the
// countdown shows N.
std::string Drive(SearchDriver driver, const std::vector<int>& wakes)
{
    std::string events;
    int shown = 0;
    SearchDriver::Time now{};
    for (std::size_t next = 0;; ++next)
    {
        if (!wakes.empty())
        {
            if (next == wakes.size())
                break;
            now = std::chrono::milliseconds(wakes[next]);
        }
        else if (now > std::chrono::seconds(2 * nasfinder::kWatchSeconds + 1))
            break;
        SearchStep step;
        do
        {
            step = driver.Take(now);
            if (step.roundEnded || step.send || step.over)
                events += " " + Millis(now) + ":" + (step.roundEnded ? "r" : "") + (step.send ? "s" : "") +
                          (step.over ? "o" : "");
        } while (step.send);
        if (step.over)
            break;
        if (const int left = driver.SecondsLeft(now); left != shown)
            events += " " + Millis(now) + ":=" + std::to_string(shown = left);
        if (wakes.empty())
        {
            const SearchDriver::Time at = driver.NextAt(now);
            if (at <= now)
                return events + " stuck at " + Millis(now);
            now = at;
        }
    }
    return events.empty() ? events : events.substr(1);
}
} // namespace

TEST(SearchDriver, SendsCountdownRoundsAndEnd)
{
    const struct
    {
        const char* scenario;
        SearchDriver driver;
        std::vector<int> wakes;
        const char* events;
    } rows[] = {
        {"a search: its five sends, the countdown's every second, over at its end",
         SearchDriver::Search(std::chrono::seconds(7)),
         {},
         "0:s 0:=7 500:s 1000:=6 1500:s 2000:=5 3000:s 3000:=4 4000:=3 5000:s 5000:=2 6000:=1 7000:o"},
        {"a wait shorter than the sends drops those due at or after its end",
         SearchDriver::Search(std::chrono::seconds(3)),
         {},
         "0:s 0:=3 500:s 1000:=2 1500:s 2000:=1 3000:o"},
        {"a send taken late moves the rest as much later, and those then due after the end are dropped",
         SearchDriver::Search(std::chrono::seconds(7)),
         {1600, 2000, 2100, 8000},
         "1600:s 1600:=6 2000:=5 2100:s 8000:s 8000:o"},
        {"a watch: each round's end is an ageing step, then the next round's sends",
         SearchDriver::Watch(),
         {},
         "0:s 500:s 1500:s 3000:s 5000:s 10000:rs 10500:s 11500:s 13000:s 15000:s 20000:rs 20500:s"},
        {"a watch held up ages once and starts its next round where it woke",
         SearchDriver::Watch(),
         {0, 35000, 35500},
         "0:s 35000:s 35000:rs 35500:s"},
        {"a wake shorter than a round ends without an ageing step",
         SearchDriver::Watch(std::chrono::seconds(4)),
         {},
         "0:s 0:=4 500:s 1000:=3 1500:s 2000:=2 3000:s 3000:=1 4000:o"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Drive(row.driver, row.wakes), row.events) << row.scenario;
}
