#include "tools/plan.h"

#include <array>
#include <iomanip>
#include <memory>
#include <sstream>
#include <string_view>

#include "core/checks.h"
#include "core/engine.h"
#include "core/extract.h"
#include "core/memory_ports.h"
#include "core/messages.h"
#include "core/shortcuts.h"
#include "core/text.h"
#include "tools/codepage.h"
#include "tools/commands.h"
#include "tools/host_ports.h"
#include "tools/entry_report.h"

namespace quentaro::pack {

namespace {

// A destination folder and a system folder of the planned installation.
constexpr char16_t kPlanDestination[] = u"C:\\QUENTARO";
constexpr char16_t kPlanSystem[] = u"C:\\WINDOWS\\system32";

bool HasName(const std::vector<std::u16string>& names, std::u16string_view name) {
    for (const std::u16string& other : names) {
        if (EqualsIgnoreAsciiCase(other, name)) return true;
    }
    return false;
}

// A file that the planned installation wrote, as it took its name (a later one of the same name
// too).
struct WrittenFile {
    std::u16string path;
    std::uint64_t size = 0;
};

// The names in the destination folder, as a directory listing gives them.
std::vector<std::u16string> DestinationNames(const std::vector<WrittenFile>& written) {
    const std::u16string prefix = std::u16string(kPlanDestination) + u"\\";
    std::vector<std::u16string> names;
    for (const WrittenFile& file : written) {
        if (file.path.compare(0, prefix.size(), prefix) != 0) continue;
        const std::u16string name = file.path.substr(prefix.size());
        if (!HasName(names, name)) names.push_back(name);
    }
    return names;
}

// Starts a program only when it is among the destination files, as Windows would.
class RecordingShell : public Shell {
public:
    explicit RecordingShell(const std::vector<WrittenFile>& written) : m_written(written) {}
    bool RunAndWait(const std::u16string& program, const std::u16string&, const std::u16string&) override {
        started = true;
        const std::u16string prefix = std::u16string(kPlanDestination) + u"\\";
        return program.compare(0, prefix.size(), prefix) == 0 &&
               HasName(DestinationNames(m_written), program.substr(prefix.size()));
    }
    bool started = false;

private:
    const std::vector<WrittenFile>& m_written;
};

class SavingLink : public ShellLink {
public:
    bool LoadTarget(std::u16string_view, std::u16string&) override { return false; }
    bool Save(std::u16string_view, const LinkProperties&) override { return true; }
};

// Shell folders that hold no links yet, COM that works, the destination folder as written.
class PlanShortcutPort : public ShortcutPort {
public:
    explicit PlanShortcutPort(std::vector<std::u16string> names) : m_names(std::move(names)) {}
    ComScope StartCom() override { return ComScope(0, nullptr); }  // started, with nothing to end
    std::unique_ptr<ShellLink> CreateShellLink() override { return std::make_unique<SavingLink>(); }
    void EnumerateEntries(std::u16string_view, const EntryVisitor& visit) override {
        for (const std::u16string& name : m_names) {
            if (!visit(name)) return;
        }
    }
    std::u16string GetFullPath(std::u16string_view path) override { return std::u16string(path); }
    bool EntryExists(std::u16string_view) override { return false; }
    std::u16string GetShellFolderPath(std::int32_t csidl) override {
        return u"C:\\Shell\\" + Utf8ToUtf16(std::to_string(csidl));
    }
    void NotifyShell(std::u16string_view) override {}

private:
    std::vector<std::u16string> m_names;
};

KindPlan PlanKind(const std::string& path, int codePage, std::int32_t kind) {
    KindPlan result;
    result.kind = kind;
    HostPackageStore store;
    memory::CountingUi ui;  // what failed comes back as the error
    std::vector<WrittenFile> written;
    memory::CountingFileSystem files;
    files.onCommit = [&written](const std::u16string& file, std::uint64_t size) {
        written.push_back({file, size});
    };
    CodePageDecoder decoder(codePage);
    memory::FixedOffsetClock clock;  // a computer in UTC
    RecordingShell shell(written);
    InstallEngine engine{
        store, ui, files, decoder, clock, shell, kind, kPlanDestination, kPlanSystem, Utf8ToUtf16(path)};
    // The install job: the three checks, the extraction (each only after the one before passed), the
    // shortcuts.
    InstallError error = InstallError::kNone;
    for (InstallError (*step)(const InstallEngine&) :
         {VerifySignature, VerifyVersion, VerifyCrc, ExtractPackage}) {
        error = step(engine);
        if (error != InstallError::kNone) break;
    }
    ReleasePackage(engine);
    const std::vector<std::u16string> names = DestinationNames(written);
    result.driverRuns = shell.started;
    result.driverDelivered = HasName(names, kDriverInstallerName);
    result.infDelivered = HasName(names, kDriverInstallerParameters);
    if (error == InstallError::kNone) {
        PlanShortcutPort port(names);
        result.shortcuts = CreateShortcuts(kPlanDestination, port) == 1;
        result.outcome = result.shortcuts ? Outcome::kCompletes : Outcome::kCompletesWithoutShortcuts;
    } else if (const char16_t* message = MessageOf(error)) {
        result.outcome = Outcome::kStops;
        result.message = message;
    }

    // The files written are the entries that the selection rule picks, in table order.
    std::unique_ptr<PackageFile> file = store.Open(Utf8ToUtf16(path));
    if (!file) return result;
    std::array<std::uint8_t, kPackageHeaderSize> bytes{};
    if (!ReadZeroPadded(*file, 0, bytes.data(), bytes.size())) return result;
    const PackageHeader header = ReadPackageHeader(bytes.data());
    std::size_t next = 0;
    for (std::uint32_t i = 0; i < header.entryCount && next < written.size(); ++i) {
        std::array<std::uint8_t, kPackageEntrySize> record{};
        if (!ReadZeroPadded(*file, EntryRecordOffset(i), record.data(), record.size())) break;
        const PackageEntry entry = ReadPackageEntry(record.data());
        EntryPlan plan;
        if (PlanEntry(file->Size(), entry, kind, decoder, clock, plan) != PackageFault::kNone ||
            plan.destination == Destination::kNotWritten) {
            continue;
        }
        PlannedFile planned;
        planned.folder = plan.destination;
        planned.name = plan.fileName;
        planned.entry = i;
        planned.storedName = decoder.DecodeAnsi(entry.name.data(), StoredNameLength(entry.name));
        planned.size = written[next++].size;
        planned.time = ShownTimeStamp(entry);
        result.files.push_back(planned);
    }
    return result;
}

const char* OutcomeText(Outcome outcome) {
    switch (outcome) {
    case Outcome::kCompletes:
        return "completes";
    case Outcome::kCompletesWithoutShortcuts:
        return "completes without shortcuts";
    case Outcome::kStops:
        return "stops with a message";
    case Outcome::kEndsWithoutMessage:
        return "ends without a message (exit code 1)";
    }
    return "?";
}

std::string JsonString(const std::string& text) {
    std::ostringstream out;
    out << '"';
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out << '\\' << c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out << "\\u" << std::hex << std::setw(4) << std::setfill('0') << int{c} << std::dec;
        } else {
            out << c;
        }
    }
    out << '"';
    return out.str();
}

const char* WindowsName(std::int32_t kind) {
    static const char* const kNames[] = {"?", "2000", "XP", "Vista 32-bit", "64-bit", "7 and later 32-bit"};
    return kNames[kind >= 1 && kind <= 5 ? kind : 0];
}

}  // namespace

void PrintPlanText(const std::string& path, const PackagePlan& plan, std::ostream& out) {
    out << path << ": " << plan.length << " bytes; the destination page shows \""
        << Utf16ToUtf8(plan.neededSpace) << "\"\n";
    for (const KindPlan& kind : plan.kinds) {
        out << "\nWindows " << WindowsName(kind.kind) << " (platform kind " << kind.kind << "):\n";
        if (kind.files.empty()) out << "  no files written\n";
        for (const PlannedFile& file : kind.files) {
            out << "  " << (file.folder == Destination::kSystemFolder ? "system     " : "destination") << "  "
                << file.time << "  " << std::setw(10) << file.size << "  " << Utf16ToUtf8(file.name);
            if (file.name != file.storedName)
                out << "  (entry " << file.entry << " \"" << Utf16ToUtf8(file.storedName) << "\")";
            out << "\n";
        }
        out << "  driver installer: " << (kind.driverRuns ? "started" : "not started")
            << "; in the destination folder: " << Utf16ToUtf8(kDriverInstallerName) << " "
            << (kind.driverDelivered ? "yes" : "no") << ", " << Utf16ToUtf8(kDriverInstallerParameters) << " "
            << (kind.infDelivered ? "yes" : "no") << "\n";
        out << "  shortcuts: " << (kind.shortcuts ? "made" : "not made") << "\n";
        out << "  outcome: " << OutcomeText(kind.outcome);
        if (kind.outcome == Outcome::kStops) out << " \"" << Utf16ToUtf8(kind.message) << "\"";
        out << "\n";
    }
}

void PrintPlanJson(const std::string& path, const PackagePlan& plan, std::ostream& out) {
    static const char* const kOutcomeKeys[] = {"completes", "completes-without-shortcuts", "stops",
                                               "ends-without-message"};
    out << "{\n  \"package\": " << JsonString(path) << ",\n  \"length\": " << plan.length
        << ",\n  \"neededSpace\": " << JsonString(Utf16ToUtf8(plan.neededSpace)) << ",\n  \"kinds\": [";
    for (std::size_t k = 0; k < plan.kinds.size(); ++k) {
        const KindPlan& kind = plan.kinds[k];
        out << (k == 0 ? "\n" : ",\n") << "    {\"kind\": " << kind.kind
            << ", \"windows\": " << JsonString(WindowsName(kind.kind)) << ", \"files\": [";
        for (std::size_t f = 0; f < kind.files.size(); ++f) {
            const PlannedFile& file = kind.files[f];
            out << (f == 0 ? "\n" : ",\n") << "      {\"folder\": \""
                << (file.folder == Destination::kSystemFolder ? "system" : "destination")
                << "\", \"name\": " << JsonString(Utf16ToUtf8(file.name)) << ", \"entry\": " << file.entry
                << ", \"storedName\": " << JsonString(Utf16ToUtf8(file.storedName))
                << ", \"size\": " << file.size << ", \"time\": " << JsonString(file.time) << "}";
        }
        out << (kind.files.empty() ? "" : "\n    ")
            << "], \"driverInstaller\": {\"started\": " << (kind.driverRuns ? "true" : "false")
            << ", \"delivered\": " << (kind.driverDelivered ? "true" : "false")
            << ", \"inf\": " << (kind.infDelivered ? "true" : "false")
            << "}, \"shortcuts\": " << (kind.shortcuts ? "true" : "false") << ", \"outcome\": \""
            << kOutcomeKeys[static_cast<int>(kind.outcome)] << "\"";
        if (kind.outcome == Outcome::kStops)
            out << ", \"message\": " << JsonString(Utf16ToUtf8(kind.message));
        out << "}";
    }
    out << "\n  ]\n}\n";
}

bool PlanPackage(const std::string& path, int codePage, PackagePlan& plan, std::string& error) {
    HostPackageStore store;
    std::unique_ptr<PackageFile> file = store.Open(Utf8ToUtf16(path));
    if (!file) {
        error = ReadFailureReason(path);
        return false;
    }
    plan.length = file->Size();
    // The page reads the length as an unsigned 32-bit number.
    plan.neededSpace = FormatNeededSpace(static_cast<std::uint32_t>(plan.length));
    file.reset();
    plan.kinds.clear();
    for (std::int32_t kind = 1; kind <= 5; ++kind) plan.kinds.push_back(PlanKind(path, codePage, kind));
    return true;
}

int Plan(const Options& options, std::ostream& out, std::ostream& err) {
    const std::string& path = options.positional[0];
    PackagePlan plan;
    std::string error;
    if (!PlanPackage(path, options.codePage, plan, error)) {
        err << path << ": " << error << "\n";
        return 1;
    }
    if (options.json) {
        PrintPlanJson(path, plan, out);
    } else {
        PrintPlanText(path, plan, out);
    }
    return 0;
}

}  // namespace quentaro::pack
