#include "ScanOptions.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <optional>

#include "SearchProtocol.h"

namespace nasscan
{
namespace
{
using nasfinder::Refusal;

// What the rows gather: the options, and what only the checks of the whole
// line need.
struct Draft : ScanOptions
{
    std::vector<Format> formats; // each format chosen, as often as chosen
    bool watchSecondsGiven = false;

    bool Chose(Format f) const { return std::find(formats.begin(), formats.end(), f) != formats.end(); }
};
using Row = nasfinder::Option<Draft>;

// A whole decimal number in [min, max]; no sign, no spaces, no suffix, so
// "10s", "+5" and " 5" are refused rather than half-read.
std::optional<int> ParseSeconds(const std::string& text, int min, int max)
{
    if (text.empty())
        return std::nullopt;
    long value = 0;
    for (char c : text)
    {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > max)
            return std::nullopt;
    }
    if (value < min)
        return std::nullopt;
    return static_cast<int>(value);
}

// A row that takes a number of seconds in [min, max] into `into` and notes
// that it was given.
Row SecondsRow(const char* name, const char* argument, std::string help, int min, int max, int Draft::*into,
               bool Draft::*given)
{
    Row row = nasfinder::Valued<Draft>(
        name, argument, "a number of seconds", std::move(help),
        [name, min, max, into, given](Draft& opts, const std::string& value) -> Refusal
        {
            const std::optional<int> seconds = ParseSeconds(value, min, max);
            if (!seconds)
                return std::string("invalid ") + name + " '" + value + "': expected a whole number from " +
                       std::to_string(min) + " to " + std::to_string(max);
            opts.*into = *seconds;
            opts.*given = true;
            return std::nullopt;
        });
    // An empty number is a bad one, said as such.
    row.spec.emptyIsMissing = false;
    return row;
}

// A value kept as given.
std::function<Refusal(Draft&, const std::string&)> Keep(std::string Draft::*into)
{
    return [into](Draft& opts, const std::string& value)
    {
        opts.*into = value;
        return Refusal();
    };
}

const nasfinder::OptionTable<Draft>& Table()
{
    using nasfinder::Flag;
    using nasfinder::Valued;
    using nasfinder::Widened;
    static const nasfinder::OptionTable<Draft> table = []
    {
        nasfinder::OptionTable<Draft> t;
        t.rows.push_back(SecondsRow("--seconds", "N",
                                    "wait N seconds for answers (" + std::to_string(kMinSeconds) + " to " +
                                        std::to_string(kMaxSeconds) + ", default " +
                                        std::to_string(kDefaultSeconds) + ")",
                                    kMinSeconds, kMaxSeconds, &Draft::seconds, &Draft::secondsGiven));
        for (const OutputFormat& format : OutputFormats())
        {
            if (format.option != nullptr)
                t.rows.push_back(Flag<Draft>(format.option, format.help,
                                             [f = format.format](Draft& opts)
                                             { opts.formats.push_back(f); }));
        }
        const Row rest[] = {
            Flag<Draft>("--watch",
                        "search every " + std::to_string(nasfinder::kWatchSeconds) +
                            " seconds (or --watch-every) and print the\n"
                            "list whenever it changes, until Ctrl-C or SIGTERM (not\n"
                            "with --seconds)",
                        [](Draft& opts) { opts.watch = true; }),
            SecondsRow("--watch-every", "SECONDS",
                       "with --watch: the time between its searches (" + std::to_string(kMinWatchSeconds) +
                           " to " + std::to_string(kMaxWatchSeconds) + ",\ndefault " +
                           std::to_string(nasfinder::kWatchSeconds) +
                           "). Monitoring suits a longer one: fewer\n"
                           "datagrams, and devices that stay awake while they are\n"
                           "searched can sleep",
                       kMinWatchSeconds, kMaxWatchSeconds, &Draft::watchSeconds, &Draft::watchSecondsGiven),
            Flag<Draft>("--events",
                        "with --watch: print one JSON line for each device that\n"
                        "appeared, changed or went, instead of the list",
                        [](Draft& opts) { opts.events = true; }),
            Valued<Draft>("--prometheus", "FILE", "a file name",
                          "with --watch: after every round, replace FILE with the\n"
                          "figures in Prometheus's text format, for node_exporter's\n"
                          "textfile collector (which reads the files named *.prom)",
                          [](Draft& opts, const std::string& value) -> Refusal
                          {
                              if (value.back() == '/')
                                  return "invalid --prometheus '" + value + "': a file, not a folder";
                              opts.prometheusFile = value;
                              return std::nullopt;
                          }),
            Flag<Draft>("--no-multi", "do not search from every local address separately",
                        [](Draft& opts) { opts.multiIP = false; }),
            Widened<Draft>(
                nasfinder::InterfaceOption("search only on this interface, given by name (eth0) or by\n"
                                           "one of its IPv4 addresses; repeat it for more than one")),
            Widened<Draft>(nasfinder::ExcludeInterfaceOption(
                "do not search on this interface; repeatable. Answers that\n"
                "arrive on an interface not searched are ignored. Neither\n"
                "goes with --no-multi; an unknown interface, one both chosen\n"
                "and excluded, or a choice where no search can run is a bad\n"
                "argument")),
            Widened<Draft>(
                nasfinder::AddressOption("also search this device by unicast: an IPv4 address or a\n"
                                         "host name (looked up once, at start), for a device beyond\n"
                                         "a router or a VPN that no broadcast reaches; repeatable")),
            Flag<Draft>("--known",
                        "after the search, print every known device with its MAC\n"
                        "and when it was last seen, answering or not",
                        [](Draft& opts) { opts.known = true; }),
            Valued<Draft>("--wake", "ID|MAC", "a device id or a MAC address",
                          "send the Wake-on-LAN packet to a known device (by its id)\n"
                          "or to a MAC address, then search until it answers or\n"
                          "--seconds run out (default " +
                              std::to_string(kDefaultWakeSeconds) +
                              ");\n"
                              "exit 0 when it answered, 1 when not",
                          Keep(&Draft::wake)),
            Valued<Draft>("--forget", "ID", "a device id",
                          "remove a device from the known devices, without a search", Keep(&Draft::forget)),
            Flag<Draft>("--no-remember",
                        "leave the known devices as they are (every other search\n"
                        "adds what answered to them)",
                        [](Draft& opts) { opts.remember = false; }),
            Flag<Draft>("--no-follow-up",
                        "do not search the known devices that have not answered\n"
                        "at their last addresses: only the broadcast, the SSDP group\n"
                        "and --address are searched (also so with --no-remember)",
                        [](Draft& opts) { opts.followUps = false; }),
            Valued<Draft>("--log-dir", "DIR", "a directory",
                          "write the diagnostic log into DIR (an existing directory)",
                          [](Draft& opts, const std::string& value)
                          {
                              // The library glues its file name straight onto the directory text.
                              opts.logDir = value.back() == '/' ? value : value + '/';
                              return Refusal();
                          }),
            Flag<Draft>("--verbose",
                        "also print every report's vendor and, with --log-dir, the\n"
                        "log lines on standard error",
                        [](Draft& opts) { opts.verbose = true; }),
            Widened<Draft>(nasfinder::HelpOption("show this help")),
            Widened<Draft>(nasfinder::VersionOption("show the version")),
        };
        t.rows.insert(t.rows.end(), std::begin(rest), std::end(rest));
        return t;
    }();
    return table;
}

// The rules that tie options together, checked once the whole line is read;
// the first broken one is the refusal.
Refusal CheckCombinations(Draft& opts)
{
    if (opts.watch && opts.secondsGiven)
        return "--seconds cannot be combined with --watch (watch runs until interrupted)";
    const std::pair<bool, const char*> watchOnly[] = {{opts.watchSecondsGiven, "--watch-every"},
                                                      {opts.events, "--events"},
                                                      {!opts.prometheusFile.empty(), "--prometheus"}};
    for (const auto& [given, option] : watchOnly)
    {
        if (given && !opts.watch)
            return std::string(option) + " needs --watch (it is about the rounds of a watch)";
    }
    // The changes or the list, not both.
    if (opts.events && !opts.formats.empty())
        return std::string("--events cannot be combined with ") + FormatOf(opts.formats.front()).option +
               " (--events prints a JSON line per change, not the list)";
    // Without multi-address mode the searches leave by the routes' interfaces,
    // which no choice can change.
    if (!opts.multiIP && opts.interfaces.Active())
        return std::string(opts.interfaces.include.empty() ? "--exclude-interface" : "--interface") +
               " cannot be combined with --no-multi (choosing interfaces needs the search from every "
               "interface)";
    // Waking, forgetting and the list of known devices each end the command
    // their own way: one at a time, and none beside a watch or the raw reports.
    const char* const raw = FormatOf(Format::Raw).option;
    const char* const ending[][2] = {{"--wake", opts.wake.empty() ? nullptr : "--wake"},
                                     {"--forget", opts.forget.empty() ? nullptr : "--forget"},
                                     {"--known", opts.known ? "--known" : nullptr},
                                     {"--watch", opts.watch ? "--watch" : nullptr},
                                     {raw, opts.Chose(Format::Raw) ? raw : nullptr}};
    const char* first = nullptr;
    for (const auto& option : ending)
    {
        if (option[1] == nullptr)
            continue;
        if (first != nullptr && (std::string(first) != "--watch" || std::string(option[0]) != raw))
            return std::string(first) + " cannot be combined with " + option[0];
        if (first == nullptr)
            first = option[0];
    }
    if (!opts.forget.empty() && !opts.remember)
        return "--forget cannot be combined with --no-remember (forgetting changes the known devices)";
    if (!opts.wake.empty() && !opts.secondsGiven)
        opts.seconds = kDefaultWakeSeconds;
    // One format: the later of two in the table names the earlier.
    std::vector<const OutputFormat*> chosen;
    for (const OutputFormat& format : OutputFormats())
    {
        if (opts.Chose(format.format))
            chosen.push_back(&format);
    }
    if (chosen.size() > 1)
        return std::string(chosen[1]->option) + " cannot be combined with " + chosen[0]->option +
               (chosen[1]->clash != nullptr ? std::string(" (") + chosen[1]->clash + ")" : std::string());
    if (!chosen.empty())
        opts.format = chosen.front()->format;
    return std::nullopt;
}
} // namespace

ParseResult ParseScanOptions(const std::vector<std::string>& args)
{
    nasfinder::Parsed<Draft> parsed = nasfinder::ParseArguments(Table(), args);
    if (parsed.status == ParseStatus::Run)
    {
        if (Refusal refusal = CheckCombinations(parsed.options))
        {
            parsed.status = ParseStatus::Error;
            parsed.error = std::move(*refusal);
        }
    }
    ParseResult result;
    result.status = parsed.status;
    result.options = parsed.options;
    result.error = std::move(parsed.error);
    return result;
}

std::string ScanUsage(const std::string& program, const std::string& helperPath)
{
    return nasfinder::UsageText(
        program, "Search the local network for storage devices and print the ones found.",
        nasfinder::SpecsOf(Table()),
        "Results go to standard output; the countdown (on a terminal), warnings and\n"
        "errors to standard error.\n"
        "Each search is sent several times in its first seconds, as UDP may lose it.\n"
        "Ctrl-C or SIGTERM during the wait ends it early and prints what was found.\n"
        "The known devices are kept in $XDG_STATE_HOME/nasfinder/devices.json\n"
        "(~/.local/state/nasfinder/devices.json). --known, --wake and --forget\n"
        "exclude each other, and none of them goes with --watch or --raw.\n"
        "CSV fields that begin with =, +, -, @, tab or CR get a ' in front, so that\n"
        "a spreadsheet shows them as text instead of running them.\n"
        "The broadcast search needs UDP port " +
            std::to_string(kBroadcastPort) +
            ", which the broadcast helper binds for\n"
            "this command: neither the command nor anything it starts holds a\n"
            "privilege. Where the helper lacks its own, grant it as root:\n"
            "  setcap cap_net_bind_service=+ep " +
            helperPath +
            "\n"
            "Where the installation keeps the helper to the members of the group\n"
            "nasfinder, ask for membership in it.\n"
            "\n"
            "Exit status:\n"
            "  0        the scan completed, also when nothing was found, or was ended\n"
            "           by Ctrl-C or SIGTERM and its output written\n"
            "  1        the results could not be written, or no search could run (both\n"
            "           the broadcast and the SSDP search lack their ports, or no\n"
            "           interface can carry a search and no --address is given), or\n"
            "           the device woken with --wake did not answer in time\n"
            "  2        a bad argument or a contradictory pair of options, or a log\n"
            "           directory (--log-dir) that cannot be written to, or an\n"
            "           unknown device id or a bad MAC address for --wake or --forget\n"
            "  128+N    ended by signal N (130 for Ctrl-C, 143 for SIGTERM) because\n"
            "           standard output did not take the output within one second\n"
            "A reader that goes away (nasfinder-scan --raw | head -1) ends the command\n"
            "at once by SIGPIPE, as other filters end.\n");
}

std::string UsageErrorText(const std::string& program, const std::string& reason)
{
    return program + ": " + reason + "\nTry '" + program + " --help' for more information.\n";
}
} // namespace nasscan
