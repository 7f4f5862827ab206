#include "CommandLine.h"

namespace nasfinder
{
namespace
{
// Where the help starts on an option's line; a longer name puts it on the
// next line, indented as far.
constexpr std::size_t kHelpColumn = 18;

// A negative number is read as a (bad) value, and a value that really begins
// with '-' can be given as --NAME=-x or ./-x.
bool LooksLikeOption(const std::string& arg)
{
    return arg.size() > 1 && arg[0] == '-' && (arg[1] < '0' || arg[1] > '9');
}

std::optional<std::size_t> FindRow(const std::vector<const OptionSpec*>& specs, const std::string& name)
{
    for (std::size_t row = 0; row < specs.size(); ++row)
    {
        if (name == specs[row]->name || (specs[row]->alias != nullptr && name == specs[row]->alias))
            return row;
    }
    return std::nullopt;
}

std::string Needs(const OptionSpec& spec)
{
    return std::string("option ") + spec.name + " needs " + spec.needs;
}

// A repeatable option: each value joins the list.
Option<CommonOptions> Collected(const char* name, const char* argument, const char* needs, std::string help,
                                std::vector<std::string>& (*list)(CommonOptions&))
{
    return Valued<CommonOptions>(name, argument, needs, std::move(help),
                                 [list](CommonOptions& options, const std::string& value)
                                 {
                                     list(options).push_back(value);
                                     return Refusal();
                                 });
}

std::string Label(const OptionSpec& spec)
{
    std::string label = spec.alias != nullptr ? std::string(spec.alias) + ", " : std::string();
    label += spec.name;
    if (spec.argument != nullptr)
        label += std::string(" ") + spec.argument;
    return label;
}
} // namespace

ArgumentRead ReadArgument(const std::vector<const OptionSpec*>& specs, Syntax syntax, const PassOn& passOn,
                          const std::vector<std::string>& args, std::size_t i)
{
    const std::string& arg = args[i];
    ArgumentRead read;
    read.next = i + 1;
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (arg.size() > 2 && arg.compare(0, 2, "--") == 0)
    {
        const std::size_t eq = arg.find('=');
        const std::optional<std::size_t> named =
            eq == std::string::npos ? std::nullopt : FindRow(specs, arg.substr(0, eq));
        if (eq != std::string::npos &&
            (syntax == Syntax::Strict || (named && specs[*named]->argument != nullptr)))
        {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
    }
    read.row = FindRow(specs, name);
    if (inlineValue && (!read.row || specs[*read.row]->argument == nullptr))
    {
        read.refusal = "option " + name + " takes no value";
        return read;
    }
    if (!read.row)
    {
        if (const std::size_t taken = passOn ? passOn(args, i) : 0; taken > 0)
        {
            read.next = i + taken;
            return read;
        }
        const bool option =
            syntax == Syntax::Strict ? !arg.empty() && arg[0] == '-' : arg.size() > 1 && arg[0] == '-';
        read.refusal = (option ? "unknown option '" : "unexpected argument '") + arg + "'";
        return read;
    }
    const OptionSpec& spec = *specs[*read.row];
    if (spec.argument == nullptr)
        return read;
    if (inlineValue)
        read.value = *inlineValue;
    else if (i + 1 < args.size() && (syntax == Syntax::Lenient || !LooksLikeOption(args[i + 1])))
    {
        read.value = args[i + 1];
        read.next = i + 2;
    }
    else
        read.refusal = Needs(spec);
    if (!read.refusal && read.value.empty() && spec.emptyIsMissing)
        read.refusal = Needs(spec);
    return read;
}

std::string UsageText(const std::string& program, const std::string& summary,
                      const std::vector<const OptionSpec*>& specs, const std::string& notes)
{
    const std::string indent(kHelpColumn, ' ');
    std::string text = "Usage: " + program + " [OPTIONS]\n" + summary + "\n\n";
    for (const OptionSpec* spec : specs)
    {
        const std::string label = "  " + Label(*spec);
        text += label;
        // Two spaces at least between the name and its help.
        text +=
            label.size() + 2 <= kHelpColumn ? std::string(kHelpColumn - label.size(), ' ') : "\n" + indent;
        for (char c : spec->help)
            text += c == '\n' ? "\n" + indent : std::string(1, c);
        text += '\n';
    }
    return text + "\n" + notes;
}

Option<CommonOptions> InterfaceOption(std::string help)
{
    return Collected("--interface", "NAME|ADDRESS", "an interface name or address", std::move(help),
                     [](CommonOptions& options) -> std::vector<std::string>&
                     { return options.interfaces.include; });
}

Option<CommonOptions> ExcludeInterfaceOption(std::string help)
{
    return Collected("--exclude-interface", "NAME|ADDRESS", "an interface name or address", std::move(help),
                     [](CommonOptions& options) -> std::vector<std::string>&
                     { return options.interfaces.exclude; });
}

Option<CommonOptions> AddressOption(std::string help)
{
    return Collected("--address", "ADDRESS", "an IPv4 address or a host name", std::move(help),
                     [](CommonOptions& options) -> std::vector<std::string>& { return options.addresses; });
}

Option<CommonOptions> HelpOption(std::string help)
{
    return {{"--help", nullptr, nullptr, std::move(help), "-h", ParseStatus::Help}, nullptr};
}

Option<CommonOptions> VersionOption(std::string help)
{
    return {{"--version", nullptr, nullptr, std::move(help), nullptr, ParseStatus::Version}, nullptr};
}
} // namespace nasfinder
