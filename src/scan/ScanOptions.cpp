#include "ScanOptions.h"

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

        const bool takesValue = name == "--seconds" || name == "--log-dir";
        if (takesValue && !hasInlineValue)
        {
            if (i + 1 >= args.size())
                return Fail("option " + name + " needs a value");
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
            opts.json = true;
        else if (name == "--raw")
            opts.raw = true;
        else if (name == "--watch")
            opts.watch = true;
        else if (name == "--no-multi")
            opts.multiIP = false;
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
        else if (!arg.empty() && arg[0] == '-')
            return Fail("unknown option '" + arg + "'");
        else
            return Fail("unexpected argument '" + arg + "'");
    }

    if (opts.watch && opts.secondsGiven)
        return Fail("--seconds cannot be combined with --watch (watch runs until interrupted)");
    return result;
}

std::string ScanUsage(const std::string& program)
{
    return "Usage: " + program +
           " [OPTIONS]\n"
           "Search the local network for storage devices and print the ones found.\n"
           "\n"
           "  --seconds N     wait N seconds for answers (1 to 3600, default 11)\n"
           "  --json          print the list as one JSON array\n"
           "  --raw           print every report as it arrives, one JSON object per line,\n"
           "                  before filtering and merging\n"
           "  --watch         search every 10 seconds and print the list whenever it\n"
           "                  changes, until Ctrl-C or SIGTERM\n"
           "  --no-multi      do not search from every local address separately\n"
           "  --log-dir DIR   write the diagnostic log into DIR\n"
           "  -h, --help      show this help\n"
           "  --version       show the version\n"
           "\n"
           "Results go to standard output; messages and the countdown to standard error.\n"
           "Ctrl-C during the wait ends it early and prints what was found so far.\n"
           "The broadcast search needs UDP port 67: run as root or grant the binary\n"
           "cap_net_bind_service (setcap cap_net_bind_service=+ep nasfinder-scan).\n"
           "Exit status: 0 when the scan completed (also when nothing was found),\n"
           "2 for a bad argument.\n";
}
} // namespace nasscan
