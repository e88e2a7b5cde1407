// The command line of quentaro-pack: its options, its help and the choice of the command.
#include "tools/pack.h"

#include "tools/commands.h"

namespace quentaro::pack {

namespace {

bool ParseOptions(const std::vector<std::string>& args, Options& options, std::ostream& err) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--codepage" || arg == "--manifest" || arg == "--output") {
            if (i + 1 >= args.size()) {
                err << "quentaro-pack: " << arg << " needs a value\n";
                return false;
            }
            const std::string& value = args[++i];
            if (arg == "--codepage") {
                options.codePage = value == "932" ? 932 : value == "1252" ? 1252 : 0;
                if (!IsSupportedCodePage(options.codePage)) {
                    err << "quentaro-pack: code page " << value << " is not supported (932 or 1252)\n";
                    return false;
                }
            } else if (arg == "--manifest") {
                options.manifest = value;
            } else {
                options.output = value;
            }
        } else if (arg == "--werror") {
            options.werror = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            err << "quentaro-pack: unknown option " << arg << "\n";
            return false;
        } else {
            options.positional.push_back(arg);
        }
    }
    return true;
}

constexpr char kUsage[] =
    "usage: quentaro-pack build [--codepage 932|1252] [--werror] --manifest MANIFEST --output PACKAGE\n"
    "       quentaro-pack list [--codepage 932|1252] PACKAGE\n"
    "       quentaro-pack verify [--codepage 932|1252] [--werror] PACKAGE\n"
    "       quentaro-pack plan [--codepage 932|1252] [--json] PACKAGE\n"
    "       quentaro-pack help [COMMAND]\n";

constexpr char kOptionsHelp[] =
    "\n"
    "options (in brackets: optional):\n"
    "  --codepage 932|1252  the code page of the names in the package: 932 Shift_JIS (Japanese) or\n"
    "                       1252 Western; optional, default 932\n"
    "  --werror             treat warnings as errors (exit status 1; build then writes no package);\n"
    "                       optional, default off\n"
    "  --json               plan only: print the plan as JSON; optional, default text\n"
    "  -h, --help           print this help and exit\n"
    "\n"
    "exit status: 0 success, 1 an error (or a warning with --werror), 2 wrong usage\n";

struct CommandHelp {
    const char* command;
    const char* text;
};

constexpr CommandHelp kCommandHelp[] = {
    {"build",
     "usage: quentaro-pack build [--codepage 932|1252] [--werror] --manifest MANIFEST --output PACKAGE\n"
     "\n"
     "Builds PACKAGE from MANIFEST (a UTF-8 text file, one entry a line: name=, time=, target=, source=\n"
     "separated by TABs). Every error of the manifest is reported with its line and no package is\n"
     "written. Warnings (\"warning:\" on standard error) name what the setup would not install fully on\n"
     "some class of Windows.\n"
     "\n"
     "  --manifest MANIFEST   required\n"
     "  --output PACKAGE      required; built as PACKAGE.partial and renamed when complete\n"
     "  --codepage 932|1252   optional, default 932\n"
     "  --werror              optional: warnings are errors, no package is written\n"},
    {"list",
     "usage: quentaro-pack list [--codepage 932|1252] PACKAGE\n"
     "\n"
     "Prints the header and the entry table of PACKAGE.\n"
     "\n"
     "  --codepage 932|1252   optional, default 932: the code page the names are shown from\n"},
    {"verify",
     "usage: quentaro-pack verify [--codepage 932|1252] [--werror] PACKAGE\n"
     "\n"
     "Runs the setup's own checks on PACKAGE (signature, version, check value, the limits of the format\n"
     "on every platform kind and in every time zone) and warns of what the setup would not install\n"
     "fully on some class of Windows.\n"
     "\n"
     "  --codepage 932|1252   optional, default 932\n"
     "  --werror              optional: a warning makes verify fail (exit status 1)\n"},
    {"plan",
     "usage: quentaro-pack plan [--codepage 932|1252] [--json] PACKAGE\n"
     "\n"
     "Shows what the setup does with PACKAGE on each class of Windows (2000, XP, Vista 32-bit, 64-bit,\n"
     "7 and later 32-bit; platform kinds 1 to 5), found by running its checks, extraction and shortcut\n"
     "creation against stand-ins: the files written to the destination and the system folder (with\n"
     "the name they get there), their sizes and time stamps, the space the destination page shows as\n"
     "needed, the driver installer, the shortcuts and the outcome.\n"
     "\n"
     "  --codepage 932|1252   optional, default 932\n"
     "  --json                optional: JSON instead of text\n"},
    {"help",
     "usage: quentaro-pack help [COMMAND]\n"
     "\n"
     "Prints the usage, or the help of COMMAND (build, list, verify, plan).\n"},
};

// Help: on standard output, exit status 0; an unknown command is wrong usage.
int PrintHelp(const std::string& command, std::ostream& out, std::ostream& err) {
    if (command.empty()) {
        out << "quentaro-pack: builds, lists, verifies and plans the QUENTARO setup's data package\n\n"
            << kUsage << kOptionsHelp;
        return 0;
    }
    for (const CommandHelp& help : kCommandHelp) {
        if (command == help.command) {
            out << help.text;
            return 0;
        }
    }
    err << "quentaro-pack: no command \"" << command << "\"\n" << kUsage;
    return 2;
}

}  // namespace

int RunPackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Options options;
    if (args.empty()) {
        err << kUsage << "Try \"quentaro-pack --help\".\n";
        return 2;
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h") return PrintHelp("", out, err);
    auto usage = [&] {
        err << kUsage << "Try \"quentaro-pack --help\".\n";
        return 2;
    };
    if (!ParseOptions(args, options, err)) return usage();
    if (command == "help") {
        if (options.positional.size() > 1) return usage();
        return PrintHelp(options.positional.empty() ? "" : options.positional[0], out, err);
    }
    if (options.help) {
        if (command != "build" && command != "list" && command != "verify" && command != "plan")
            return usage();
        return PrintHelp(command, out, err);
    }
    if (command == "build") {
        if (options.manifest.empty() || options.output.empty() || !options.positional.empty() ||
            options.json) {
            return usage();
        }
        return Build(options, out, err);
    }
    const bool onePackage =
        options.positional.size() == 1 && options.manifest.empty() && options.output.empty();
    if (command == "plan" && onePackage && !options.werror) return Plan(options, out, err);
    if (options.json) return usage();  // only for plan
    if (command == "verify" && onePackage) return Verify(options, out, err);
    if (command == "list" && onePackage && !options.werror) return List(options, out, err);
    return usage();
}

}  // namespace quentaro::pack
