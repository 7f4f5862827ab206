// Command lines read from a table of options. A row names an option, the value
// it takes, its lines in the usage and the check that keeps the value; the
// parse and the usage both read the table, so an option is written once. The
// options both programs take are rows of their own here.
#ifndef NASFINDER_COMMANDLINE_H
#define NASFINDER_COMMANDLINE_H

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "NetworkInterfaces.h"

namespace nasfinder
{
enum class ParseStatus
{
    Run,     // the options are valid: go on
    Help,    // print the usage on standard output, exit 0
    Version, // print the version, exit 0
    Error,   // print the error, exit 2
};

// Why a value or a command line is refused; nothing when it is taken.
using Refusal = std::optional<std::string>;

// How a program reads what surrounds its options.
enum class Syntax
{
    // "--log-dir --json" forgot the directory rather than naming one called
    // "--json" (a negative number is still read as a bad value), a flag given
    // "=VALUE" is refused as such, and "-" is an option no row names.
    Strict,
    // Beside the toolkit's options, which the program passes on and which take
    // the next argument whatever it looks like: so does a value of the
    // program's own, only an option that takes a value takes "=VALUE", and "-"
    // is an argument.
    Lenient,
};

// A row of a table, apart from what it does with its value.
struct OptionSpec
{
    const char* name;                    // "--seconds"
    const char* argument;                // the value as the usage names it ("N"); nullptr for a flag
    const char* needs;                   // what a missing value is said to lack: "a number of seconds"
    std::string help;                    // the usage's lines for it, '\n' between them
    const char* alias = nullptr;         // a short name: "-h"
    ParseStatus ends = ParseStatus::Run; // Help or Version: reading stops here with it
    bool emptyIsMissing = true;          // an empty value is refused as a missing one
};

template <class Options> struct Option
{
    OptionSpec spec;
    // Checks the value (empty for a flag) and keeps it in the options; none
    // for a row that ends the reading.
    std::function<Refusal(Options&, const std::string&)> take;
};

// How many arguments from args[i] on belong to an option the program passes on
// unread (the toolkit's own), or 0 when args[i] starts none.
using PassOn = std::function<std::size_t(const std::vector<std::string>& args, std::size_t i)>;

template <class Options> struct OptionTable
{
    std::vector<Option<Options>> rows;
    Syntax syntax = Syntax::Strict;
    PassOn passOn;
};

template <class Options> struct Parsed
{
    ParseStatus status = ParseStatus::Run;
    Options options;
    std::string error; // with Error: one line, the first problem met
};

template <class Options>
Option<Options> Flag(const char* name, std::string help, std::function<void(Options&)> set)
{
    return {{name, nullptr, nullptr, std::move(help)},
            [set = std::move(set)](Options& options, const std::string&)
            {
                set(options);
                return Refusal();
            }};
}

template <class Options>
Option<Options> Valued(const char* name, const char* argument, const char* needs, std::string help,
                       std::function<Refusal(Options&, const std::string&)> take)
{
    return {{name, argument, needs, std::move(help)}, std::move(take)};
}

// What the options both programs take gather.
struct CommonOptions
{
    // --interface and --exclude-interface, names or addresses as given;
    // whether they name interfaces of this host is for the caller to check.
    InterfaceChoice interfaces;
    // --address: IPv4 addresses or host names as given, searched by unicast;
    // the caller resolves them (ResolveSearchAddresses).
    std::vector<std::string> addresses;
};

// The shared table's rows, each with the help the program gives it.
Option<CommonOptions> InterfaceOption(std::string help);
Option<CommonOptions> ExcludeInterfaceOption(std::string help);
Option<CommonOptions> AddressOption(std::string help);
Option<CommonOptions> HelpOption(std::string help);
Option<CommonOptions> VersionOption(std::string help);

// A row of the shared table in the table of a program whose options hold the
// shared ones.
template <class Options> Option<Options> Widened(Option<CommonOptions> row)
{
    if (!row.take)
        return {std::move(row.spec), nullptr};
    return {std::move(row.spec), [take = std::move(row.take)](Options& options, const std::string& value)
            { return take(options, value); }};
}

// What one argument is to the table: the row it names with its value, an
// option passed on, or a refusal; `next` is the argument after it.
struct ArgumentRead
{
    std::optional<std::size_t> row;
    std::string value;
    Refusal refusal;
    std::size_t next = 0;
};
ArgumentRead ReadArgument(const std::vector<const OptionSpec*>& specs, Syntax syntax, const PassOn& passOn,
                          const std::vector<std::string>& args, std::size_t i);

template <class Options> std::vector<const OptionSpec*> SpecsOf(const OptionTable<Options>& table)
{
    std::vector<const OptionSpec*> specs;
    for (const Option<Options>& row : table.rows)
        specs.push_back(&row.spec);
    return specs;
}

// args excludes the program name. Reading stops at the first refusal, help or
// version.
template <class Options>
Parsed<Options> ParseArguments(const OptionTable<Options>& table, const std::vector<std::string>& args)
{
    const std::vector<const OptionSpec*> specs = SpecsOf(table);
    Parsed<Options> result;
    for (std::size_t i = 0; i < args.size();)
    {
        const ArgumentRead read = ReadArgument(specs, table.syntax, table.passOn, args, i);
        i = read.next;
        Refusal refusal = read.refusal;
        if (!refusal && read.row)
        {
            const Option<Options>& row = table.rows[*read.row];
            if (row.spec.ends != ParseStatus::Run)
            {
                result.status = row.spec.ends;
                return result;
            }
            refusal = row.take(result.options, read.value);
        }
        if (refusal)
        {
            result.status = ParseStatus::Error;
            result.error = std::move(*refusal);
            return result;
        }
    }
    return result;
}

// The usage: "Usage: PROGRAM [OPTIONS]", the summary, a blank line, each row
// of the table in its order, a blank line, then the notes.
std::string UsageText(const std::string& program, const std::string& summary,
                      const std::vector<const OptionSpec*>& specs, const std::string& notes);
} // namespace nasfinder

#endif
