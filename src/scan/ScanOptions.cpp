#include "ScanOptions.h"

#include "SearchProtocol.h"

namespace nasscan
{
namespace
{
// A whole decimal number in [kMinSeconds, kMaxSeconds]; no sign, no spaces, no
// suffix, so "10s", "+5" and " 5" are refused rather than half-read.
bool ParseSeconds(const std::string& text, int& seconds)
{
    if (text.empty())
        return false;
    long value = 0;
    for (char c : text)
    {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
        if (value > kMaxSeconds)
            return false;
    }
    if (value < kMinSeconds)
        return false;
    seconds = static_cast<int>(value);
    return true;
}

// "--log-dir --json" forgot the directory rather than naming one called
// "--json". A negative number is still read as a (bad) value, and a directory
// that really begins with '-' can be given as --log-dir=-x or ./-x.
bool LooksLikeOption(const std::string& arg)
{
    return arg.size() > 1 && arg[0] == '-' && (arg[1] < '0' || arg[1] > '9');
}

ParseResult Fail(std::string message)
{
    ParseResult result;
    result.status = ParseStatus::Error;
    result.error = std::move(message);
    return result;
}
} // namespace

ParseResult ParseScanOptions(const std::vector<std::string>& args)
{
    ParseResult result;
    ScanOptions& opts = result.options;
    bool json = false;
    bool raw = false;

    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        std::string name = arg;
        std::string value;
        bool hasInlineValue = false;
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0)
        {
            const std::size_t eq = arg.find('=');
            if (eq != std::string::npos)
            {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
                hasInlineValue = true;
            }
        }

        const bool namesInterface = name == "--interface" || name == "--exclude-interface";
        const char* const valueName = name == "--seconds"   ? "a number of seconds"
                                      : name == "--log-dir" ? "a directory"
                                      : namesInterface      ? "an interface name or address"
                                      : name == "--address" ? "an IPv4 address or a host name"
                                      : name == "--wake"    ? "a device id or a MAC address"
                                      : name == "--forget"  ? "a device id"
                                                            : nullptr;
        const bool takesValue = valueName != nullptr;
        if (takesValue && !hasInlineValue)
        {
            if (i + 1 >= args.size() || LooksLikeOption(args[i + 1]))
                return Fail("option " + name + " needs " + valueName);
            value = args[++i];
        }
        else if (!takesValue && hasInlineValue)
        {
            return Fail("option " + name + " takes no value");
        }

        if (name == "-h" || name == "--help")
        {
            result.status = ParseStatus::Help;
            return result;
        }
        if (name == "--version")
        {
            result.status = ParseStatus::Version;
            return result;
        }
        if (name == "--json")
            json = true;
        else if (name == "--raw")
            raw = true;
        else if (name == "--watch")
            opts.watch = true;
        else if (name == "--no-multi")
            opts.multiIP = false;
        else if (name == "--verbose")
            opts.verbose = true;
        else if (name == "--known")
            opts.known = true;
        else if (name == "--no-remember")
            opts.remember = false;
        else if (name == "--wake" || name == "--forget")
        {
            if (value.empty())
                return Fail("option " + name + " needs " + valueName);
            (name == "--wake" ? opts.wake : opts.forget) = value;
        }
        else if (name == "--seconds")
        {
            if (!ParseSeconds(value, opts.seconds))
                return Fail("invalid --seconds '" + value + "': expected a whole number from " +
                            std::to_string(kMinSeconds) + " to " + std::to_string(kMaxSeconds));
            opts.secondsGiven = true;
        }
        else if (name == "--log-dir")
        {
            if (value.empty())
                return Fail("option --log-dir needs a directory");
            // The library glues its file name straight onto the directory text.
            if (value.back() != '/')
                value += '/';
            opts.logDir = value;
        }
        else if (namesInterface)
        {
            if (value.empty())
                return Fail("option " + name + " needs an interface name or address");
            (name == "--interface" ? opts.interfaces : opts.excludedInterfaces).push_back(value);
        }
        else if (name == "--address")
        {
            if (value.empty())
                return Fail("option --address needs an IPv4 address or a host name");
            opts.addresses.push_back(value);
        }
        else if (!arg.empty() && arg[0] == '-')
            return Fail("unknown option '" + arg + "'");
        else
            return Fail("unexpected argument '" + arg + "'");
    }

    if (opts.watch && opts.secondsGiven)
        return Fail("--seconds cannot be combined with --watch (watch runs until interrupted)");
    // Without multi-address mode the searches leave by the routes' interfaces,
    // which no choice can change.
    if (!opts.multiIP && (!opts.interfaces.empty() || !opts.excludedInterfaces.empty()))
        return Fail(std::string(opts.interfaces.empty() ? "--exclude-interface" : "--interface") +
                    " cannot be combined with --no-multi (choosing interfaces needs the search "
                    "from every interface)");
    // Waking, forgetting and the list of known devices each end the command
    // their own way: one at a time, and none beside a watch or the raw reports.
    const char* const ending[][2] = {{"--wake", opts.wake.empty() ? nullptr : "--wake"},
                                     {"--forget", opts.forget.empty() ? nullptr : "--forget"},
                                     {"--known", opts.known ? "--known" : nullptr},
                                     {"--watch", opts.watch ? "--watch" : nullptr},
                                     {"--raw", raw ? "--raw" : nullptr}};
    const char* first = nullptr;
    for (const auto& option : ending)
    {
        if (option[1] == nullptr)
            continue;
        if (first != nullptr && (std::string(first) != "--watch" || std::string(option[0]) != "--raw"))
            return Fail(std::string(first) + " cannot be combined with " + option[0]);
        if (first == nullptr)
            first = option[0];
    }
    if (!opts.forget.empty() && !opts.remember)
        return Fail("--forget cannot be combined with --no-remember (forgetting changes the known devices)");
    if (!opts.wake.empty() && !opts.secondsGiven)
        opts.seconds = kDefaultWakeSeconds;
    if (raw && json)
        return Fail("--raw cannot be combined with --json (--raw prints each report as a JSON line, "
                    "not the list)");
    opts.format = raw ? Format::Raw : json ? Format::Json : Format::Table;
    return result;
}

std::string ScanUsage(const std::string& program)
{
    return "Usage: " + program +
           " [OPTIONS]\n"
           "Search the local network for storage devices and print the ones found.\n"
           "\n"
           "  --seconds N     wait N seconds for answers (" +
           std::to_string(kMinSeconds) + " to " + std::to_string(kMaxSeconds) + ", default " +
           std::to_string(kDefaultSeconds) +
           ")\n"
           "  --json          print the list as one JSON array\n"
           "  --raw           print every report as it arrives, one JSON object per line,\n"
           "                  before filtering and merging, the answers to every repeat\n"
           "                  of a search included (not with --json)\n"
           "  --watch         search every 10 seconds and print the list whenever it\n"
           "                  changes, until Ctrl-C or SIGTERM (not with --seconds)\n"
           "  --no-multi      do not search from every local address separately\n"
           "  --interface NAME|ADDRESS\n"
           "                  search only on this interface, given by name (eth0) or by\n"
           "                  one of its IPv4 addresses; repeat it for more than one\n"
           "  --exclude-interface NAME|ADDRESS\n"
           "                  do not search on this interface; repeatable. Answers that\n"
           "                  arrive on an interface not searched are ignored. Neither\n"
           "                  goes with --no-multi; an unknown interface, one both chosen\n"
           "                  and excluded, or a choice where no search can run is a bad\n"
           "                  argument\n"
           "  --address ADDRESS\n"
           "                  also search this device by unicast: an IPv4 address or a\n"
           "                  host name (looked up once, at start), for a device beyond\n"
           "                  a router or a VPN that no broadcast reaches; repeatable\n"
           "  --known         after the search, print every known device with its MAC\n"
           "                  and when it was last seen, answering or not\n"
           "  --wake ID|MAC   send the Wake-on-LAN packet to a known device (by its id)\n"
           "                  or to a MAC address, then search until it answers or\n"
           "                  --seconds run out (default " +
           std::to_string(kDefaultWakeSeconds) +
           ");\n"
           "                  exit 0 when it answered, 1 when not\n"
           "  --forget ID     remove a device from the known devices, without a search\n"
           "  --no-remember   leave the known devices as they are (every other search\n"
           "                  adds what answered to them)\n"
           "  --log-dir DIR   write the diagnostic log into DIR (an existing directory)\n"
           "  --verbose       also print every report's vendor and, with --log-dir, the\n"
           "                  log lines on standard error\n"
           "  -h, --help      show this help\n"
           "  --version       show the version\n"
           "\n"
           "Results go to standard output; the countdown (on a terminal), warnings and\n"
           "errors to standard error.\n"
           "Each search is sent several times in its first seconds, as UDP may lose it.\n"
           "Ctrl-C or SIGTERM during the wait ends it early and prints what was found.\n"
           "The known devices are kept in $XDG_STATE_HOME/nasfinder/devices.json\n"
           "(~/.local/state/nasfinder/devices.json). --known, --wake and --forget\n"
           "exclude each other, and none of them goes with --watch or --raw.\n"
           "The broadcast search needs UDP port " +
           std::to_string(kBroadcastPort) +
           ": run as root or grant the binary\n"
           "cap_net_bind_service (setcap cap_net_bind_service=+ep nasfinder-scan).\n"
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
           "at once by SIGPIPE, as other filters end.\n";
}

std::string UsageErrorText(const std::string& program, const std::string& reason)
{
    return program + ": " + reason + "\nTry '" + program + " --help' for more information.\n";
}
} // namespace nasscan
