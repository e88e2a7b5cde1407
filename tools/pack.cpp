#include "tools/pack.h"

#include <iconv.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>
#include <tuple>

#include "core/checks.h"
#include "core/crc16.h"
#include "core/engine.h"
#include "core/extract.h"
#include "core/memory_ports.h"
#include "core/messages.h"
#include "core/shortcuts.h"
#include "core/text.h"

namespace quentaro::pack {

namespace {

const char* IconvName(int codePage) {
    switch (codePage) {
    case 932:
        return "CP932";
    case 1252:
        return "CP1252";
    default:
        return nullptr;
    }
}

// Converts with iconv; false when the input holds a sequence that has no conversion.
bool Convert(const char* to, const char* from, const std::string& input, std::string& output) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    output.clear();
    std::string in = input;
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    std::array<char, 256> buffer{};
    bool ok = true;
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        output.append(buffer.data(), buffer.size() - outLeft);
        if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
            ok = false;
            break;
        }
    }
    if (ok) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
        output.append(buffer.data(), buffer.size() - outLeft);
    }
    iconv_close(cd);
    return ok;
}

class HostPackageFile : public PackageFile {
public:
    HostPackageFile(std::ifstream stream, const FileIdentity& identity)
        : m_stream(std::move(stream)), m_identity(identity) {
        m_stream.seekg(0, std::ios::end);
        const std::streamoff end = m_stream.tellg();
        m_size = end < 0 ? 0 : static_cast<std::uint64_t>(end);
        m_stream.seekg(0);
    }
    bool GetIdentity(FileIdentity& identity) override {
        identity = m_identity;
        return true;
    }
    std::uint64_t Size() override { return m_size; }
    bool Seek(std::uint64_t offset) override {
        m_stream.clear();
        m_stream.seekg(static_cast<std::streamoff>(offset));
        return !m_stream.fail();
    }
    ReadResult Read(std::uint8_t* buffer, std::size_t count) override {
        ReadResult result;
        if (count == 0) return result;
        m_stream.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(count));
        result.count = static_cast<std::size_t>(m_stream.gcount());
        result.ioError = m_stream.bad();
        m_stream.clear();
        return result;
    }

private:
    std::ifstream m_stream;
    FileIdentity m_identity;
    std::uint64_t m_size = 0;
};

std::string LineError(int line, const std::string& text) {
    return "line " + std::to_string(line) + ": " + text;
}

bool IsFourteenDigits(const std::string& text) {
    if (text.size() != 14) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

PackageEntry MakeEntry(const ImageEntry& entry, std::uint32_t offset, std::uint32_t size) {
    PackageEntry record;
    for (std::size_t i = 0; i < entry.name.size() && i < kNameSize; ++i) record.name[i] = entry.name[i];
    for (std::size_t i = 0; i < entry.timeStamp.size() && i < kTimeStampSize; ++i) {
        record.timeStamp[i] = static_cast<std::uint8_t>(entry.timeStamp[i]);
    }
    record.dataOffset = offset;
    record.dataSize = size;
    record.target = entry.target;
    return record;
}

const char* FaultText(PackageFault fault) {
    switch (fault) {
    case PackageFault::kNone:
        return "ok";
    case PackageFault::kTooLong:
        return "package is 2 GiB or longer";
    case PackageFault::kTableOutside:
        return "entry table runs past the check value";
    case PackageFault::kDataOutside:
        return "data runs past the check value";
    case PackageFault::kBadName:
        return "name is not a sound file name";
    case PackageFault::kBadTimeStamp:
        return "time stamp is not a valid date and time in range";
    case PackageFault::kReadFailed:
        return "entry table cannot be read";
    }
    return "?";
}

std::string Printable(const std::uint8_t* bytes, std::size_t count) {
    std::ostringstream text;
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] >= 0x20 && bytes[i] < 0x7F && bytes[i] != '\\') {
            text << static_cast<char>(bytes[i]);
        } else {
            text << "\\x" << std::hex << std::setw(2) << std::setfill('0') << unsigned{bytes[i]} << std::dec;
        }
    }
    return text.str();
}

}  // namespace

std::string ShownTimeStamp(const PackageEntry& entry) {
    LocalTime time;
    std::ostringstream when;
    if (ScanTimeStamp(entry.timeStamp.data(), time) == 6) {
        when << std::setfill('0') << std::setw(4) << time.year << '-' << std::setw(2) << time.month << '-'
             << std::setw(2) << time.day << ' ' << std::setw(2) << time.hour << ':' << std::setw(2)
             << time.minute << ':' << std::setw(2) << time.second;
    } else {
        when << Printable(entry.timeStamp.data(), 14);
    }
    return when.str();
}

namespace {

struct Options {
    int codePage = 932;
    std::string manifest;
    std::string output;
    bool werror = false;
    bool json = false;
    bool help = false;
    std::vector<std::string> positional;
};

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

// The reason the system gives why `path` cannot be opened for reading.
std::string ReadFailureReason(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return std::strerror(errno);
    std::fclose(file);
    return "cannot be read";
}

// Prints the warnings; true when they make the run fail (--werror).
bool ReportWarnings(const std::vector<PackageWarning>& warnings, const std::string& file, bool werror,
                    std::ostream& err) {
    for (const PackageWarning& warning : warnings) {
        err << (werror ? "error: " : "warning: ") << file << ": "
            << (warning.where.empty() ? "" : warning.where + ": ") << warning.message
            << (werror ? " [--werror]" : "") << "\n";
    }
    return werror && !warnings.empty();
}

int Build(const Options& options, std::ostream& out, std::ostream& err) {
    std::ifstream manifestFile(options.manifest, std::ios::binary);
    if (!manifestFile) {
        err << options.manifest << ": " << ReadFailureReason(options.manifest) << "\n";
        return 1;
    }
    std::ostringstream text;
    text << manifestFile.rdbuf();
    const std::string folder = std::filesystem::path(options.manifest).parent_path().string();
    const Manifest manifest = ParseManifest(text.str(), folder, options.codePage);
    if (!manifest.errors.empty()) {
        for (const std::string& error : manifest.errors) err << options.manifest << ": " << error << "\n";
        err << options.manifest << ": " << manifest.errors.size()
            << (manifest.errors.size() == 1 ? " error" : " errors") << ", no package written\n";
        return 1;
    }
    std::vector<LabeledEntry> labeled;
    for (const ManifestEntry& item : manifest.entries) {
        ImageEntry image;
        image.name = item.encodedName;
        image.timeStamp = item.timeStamp;
        image.target = item.target;
        labeled.push_back({"line " + std::to_string(item.line),
                           MakeEntry(image, 0, static_cast<std::uint32_t>(item.size))});
    }
    if (ReportWarnings(FindPackageWarnings(labeled, kMaxPackageLength, options.codePage), options.manifest,
                       options.werror, err)) {
        err << options.manifest << ": warnings are errors (--werror), no package written\n";
        return 1;
    }

    std::vector<ImageEntry> entries;
    std::vector<std::uint32_t> sizes;
    std::uint64_t length =
        EntryRecordOffset(static_cast<std::uint32_t>(manifest.entries.size())) + kCheckValueSize;
    for (const ManifestEntry& item : manifest.entries) {
        ImageEntry entry;
        entry.name = item.encodedName;
        entry.timeStamp = item.timeStamp;
        entry.target = item.target;
        entries.push_back(entry);
        length += item.size;
        if (length > kMaxPackageLength) {
            err << options.manifest << ": " << LineError(item.line, "the package would reach 2 GiB") << "\n";
            return 1;
        }
        sizes.push_back(static_cast<std::uint32_t>(item.size));
    }

    // Written beside the output and renamed at the end: a failed build leaves no package behind.
    const std::string partial = options.output + ".partial";
    auto fail = [&](const std::string& message) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        err << message << "\n";
        return 1;
    };
    {
        std::ofstream package(partial, std::ios::binary | std::ios::trunc);
        if (!package) return fail(partial + ": " + std::strerror(errno));
        const std::vector<std::uint8_t> table = LayoutTable(entries, sizes);
        std::uint16_t r = Crc16Update(kCrc16Initial, table.data(), table.size());
        package.write(reinterpret_cast<const char*>(table.data()),
                      static_cast<std::streamsize>(table.size()));
        std::vector<char> buffer(1 << 16);
        for (const ManifestEntry& item : manifest.entries) {
            std::ifstream source(item.source, std::ios::binary);
            if (!source) {
                return fail(options.manifest + ": " +
                            LineError(item.line, item.source + ": " + ReadFailureReason(item.source)));
            }
            std::uint64_t copied = 0;
            while (source) {
                source.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
                const std::size_t got = static_cast<std::size_t>(source.gcount());
                if (got == 0) break;
                r = Crc16Update(r, reinterpret_cast<const std::uint8_t*>(buffer.data()), got);
                package.write(buffer.data(), static_cast<std::streamsize>(got));
                copied += got;
            }
            if (source.bad() || copied != item.size) {
                return fail(options.manifest + ": " +
                            LineError(item.line, item.source + " changed while it was read"));
            }
        }
        const std::uint16_t check = static_cast<std::uint16_t>(~r);
        const char tail[2] = {static_cast<char>(check & 0xFF), static_cast<char>(check >> 8)};
        package.write(tail, 2);
        package.close();
        if (!package) return fail(partial + ": " + std::strerror(errno));
    }
    std::error_code renamed;
    std::filesystem::rename(partial, options.output, renamed);
    if (renamed) return fail(options.output + ": " + renamed.message());
    out << options.output << ": " << manifest.entries.size() << " entries, " << length << " bytes\n";
    return 0;
}

int List(const Options& options, std::ostream& out, std::ostream& err) {
    HostPackageStore store;
    const std::string& path = options.positional[0];
    std::unique_ptr<PackageFile> file = store.Open(Utf8ToUtf16(path));
    if (!file) {
        err << path << ": " << ReadFailureReason(path) << "\n";
        return 1;
    }
    const std::uint64_t length = file->Size();
    std::array<std::uint8_t, kPackageHeaderSize> bytes{};
    if (!ReadZeroPadded(*file, 0, bytes.data(), bytes.size())) {
        err << path << ": cannot be read\n";
        return 1;
    }
    const PackageHeader header = ReadPackageHeader(bytes.data());
    out << "length:     " << length << "\n";
    out << "signature:  " << Printable(header.signature.data(), 4) << "\n";
    out << "version:    " << Printable(header.version.data(), 4) << "\n";
    out << "entries:    " << header.entryCount << "\n";
    const PackageCheck table = CheckPackageTable(length, header);
    if (!table.ok()) {
        err << path << ": " << FaultText(table.fault) << "\n";
        return 1;
    }
    out << "index  target  size        offset      time                 name\n";
    CodePageDecoder decoder(options.codePage);
    for (std::uint32_t i = 0; i < header.entryCount; ++i) {
        std::array<std::uint8_t, kPackageEntrySize> record{};
        if (!ReadZeroPadded(*file, EntryRecordOffset(i), record.data(), record.size())) {
            err << path << ": entry " << i << " cannot be read\n";
            return 1;
        }
        const PackageEntry entry = ReadPackageEntry(record.data());
        const std::string when = ShownTimeStamp(entry);
        const std::size_t stored = StoredNameLength(entry.name);
        std::u16string name;
        const std::string shown = DecodeName(entry.name.data(), stored, options.codePage, name)
                                      ? Utf16ToUtf8(name)
                                      : Printable(entry.name.data(), stored);
        out << std::left << std::setw(7) << i << std::setw(8) << unsigned{entry.target} << std::setw(12)
            << entry.dataSize << std::setw(12) << entry.dataOffset << std::setw(21) << when << shown
            << std::right << "\n";
    }
    return 0;
}

int Verify(const Options& options, std::ostream& out, std::ostream& err) {
    const std::string& path = options.positional[0];
    // The checks write nothing and read no time stamp; the tool learns what failed from the error
    // returned, and the install page stands in without showing it.
    HostPackageStore store;
    memory::CountingUi ui;
    memory::CountingFileSystem files;
    CodePageDecoder decoder(options.codePage);
    memory::FixedOffsetClock clock;
    memory::NullShell shell;
    InstallEngine engine{store, ui, files, decoder, clock, shell, 0, u"", u"", Utf8ToUtf16(path)};
    struct Step {
        const char* label;
        InstallError (*check)(const InstallEngine&);
    };
    static constexpr Step kSteps[] = {
        {"signature", VerifySignature}, {"version", VerifyVersion}, {"check value", VerifyCrc}};
    bool ok = true;
    for (const Step& step : kSteps) {
        const InstallError error = step.check(engine);
        const bool passed = error == InstallError::kNone;
        out << step.label << ": " << (passed ? "ok" : "FAILED") << "\n";
        if (error == InstallError::kDataFileNotFound) {
            err << path << ": " << ReadFailureReason(path) << "\n";
            return 1;
        }
        ok = ok && passed;
    }

    // The limits that the extraction checks, on every platform kind and in every time zone.
    std::unique_ptr<PackageFile> file = store.Open(engine.packageName);
    if (!file) {
        err << path << ": " << ReadFailureReason(path) << "\n";
        return 1;
    }
    std::array<std::uint8_t, kPackageHeaderSize> bytes{};
    PackageCheck check;
    if (!ReadZeroPadded(*file, 0, bytes.data(), bytes.size())) {
        check.fault = PackageFault::kReadFailed;
    }
    const PackageHeader header = ReadPackageHeader(bytes.data());
    const EntryReader readEntry = [&file](std::uint32_t index, PackageEntry& entry) {
        std::array<std::uint8_t, kPackageEntrySize> record{};
        if (!ReadZeroPadded(*file, EntryRecordOffset(index), record.data(), record.size())) return false;
        entry = ReadPackageEntry(record.data());
        return true;
    };
    std::int32_t failedKind = 0;
    for (std::int64_t offset : kZoneOffsets) {
        memory::FixedOffsetClock zone(offset);
        for (std::int32_t kind = -1; kind <= 5 && check.ok(); ++kind) {
            check = ValidatePackage(file->Size(), header, readEntry, kind, decoder, zone);
            failedKind = kind;
        }
    }
    if (check.ok()) {
        out << "format: ok\n";
    } else if (check.fault == PackageFault::kTooLong || check.fault == PackageFault::kTableOutside) {
        out << "format: FAILED: " << FaultText(check.fault) << "\n";
    } else if (check.fault == PackageFault::kBadTimeStamp) {
        out << "format: FAILED: entry " << check.entry << " (platform kind " << failedKind
            << "): time stamp is not a real date and time " << kStampRangeEverywhere << "\n";
    } else {
        out << "format: FAILED: entry " << check.entry << " (platform kind " << failedKind
            << "): " << FaultText(check.fault) << "\n";
    }
    if (!ok || !check.ok()) return 1;

    // What the setup would install only in part, with the records it reads.
    std::vector<LabeledEntry> labeled;
    for (std::uint32_t i = 0; i < header.entryCount; ++i) {
        LabeledEntry entry{"entry " + std::to_string(i), PackageEntry{}};
        if (!readEntry(i, entry.record)) {
            err << path << ": entry " << i << " cannot be read\n";
            return 1;
        }
        labeled.push_back(entry);
    }
    return ReportWarnings(FindPackageWarnings(labeled, file->Size(), options.codePage), path, options.werror,
                          err)
               ? 1
               : 0;
}

}  // namespace

bool IsSupportedCodePage(int codePage) {
    return IconvName(codePage) != nullptr;
}

bool EncodeName(const std::string& utf8, int codePage, std::vector<std::uint8_t>& bytes, std::string& error) {
    const char* charset = IconvName(codePage);
    std::string encoded;
    if (charset == nullptr || !Convert(charset, "UTF-8", utf8, encoded)) {
        error = "name \"" + utf8 + "\" cannot be encoded in code page " + std::to_string(codePage);
        return false;
    }
    bytes.assign(encoded.begin(), encoded.end());
    return true;
}

bool DecodeName(const std::uint8_t* bytes, std::size_t count, int codePage, std::u16string& name) {
    const char* charset = IconvName(codePage);
    std::string utf16;
    if (charset == nullptr ||
        !Convert("UTF-16LE", charset, std::string(reinterpret_cast<const char*>(bytes), count), utf16)) {
        return false;
    }
    name.clear();
    for (std::size_t i = 0; i + 1 < utf16.size(); i += 2) {
        name.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(utf16[i]) |
                                             static_cast<std::uint8_t>(utf16[i + 1]) << 8));
    }
    return true;
}

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | c >> 6));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | c >> 12));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | c >> 18));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(const std::string& text) {
    std::string utf16;
    if (!Convert("UTF-16LE", "UTF-8", text, utf16)) return std::u16string();
    std::u16string out;
    for (std::size_t i = 0; i + 1 < utf16.size(); i += 2) {
        out.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(utf16[i]) |
                                            static_cast<std::uint8_t>(utf16[i + 1]) << 8));
    }
    return out;
}

std::u16string CodePageDecoder::DecodeAnsi(const std::uint8_t* bytes, std::size_t count) {
    std::u16string name;
    if (!DecodeName(bytes, count, m_codePage, name) || name.size() > kNameSize) return std::u16string();
    return name;
}

std::unique_ptr<PackageFile> HostPackageStore::Open(const std::u16string& name) {
    const std::string path = Utf16ToUtf8(name);
    std::ifstream stream(path, std::ios::binary);
    if (!stream) return nullptr;
    // The device and inode of the name just opened (a tool's reading: the name is not expected to
    // change under it).
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return nullptr;
    const FileIdentity identity{static_cast<std::uint64_t>(status.st_dev),
                                static_cast<std::uint64_t>(status.st_ino)};
    return std::make_unique<HostPackageFile>(std::move(stream), identity);
}

std::vector<std::uint8_t> LayoutTable(const std::vector<ImageEntry>& entries,
                                      const std::vector<std::uint32_t>& sizes) {
    const std::uint32_t count = static_cast<std::uint32_t>(entries.size());
    std::vector<std::uint8_t> table(static_cast<std::size_t>(EntryRecordOffset(count)));
    PackageHeader header;
    header.signature = kPackageSignature;
    header.version = kPackageVersion;
    header.entryCount = count;
    WritePackageHeader(header, table.data());
    std::uint64_t offset = table.size();
    for (std::uint32_t i = 0; i < count; ++i) {
        const PackageEntry record = MakeEntry(entries[i], static_cast<std::uint32_t>(offset), sizes[i]);
        WritePackageEntry(record, table.data() + EntryRecordOffset(i));
        offset += sizes[i];
    }
    return table;
}

std::vector<std::uint8_t> BuildImage(const std::vector<ImageEntry>& entries) {
    std::vector<std::uint32_t> sizes;
    for (const ImageEntry& entry : entries) sizes.push_back(static_cast<std::uint32_t>(entry.data.size()));
    std::vector<std::uint8_t> image = LayoutTable(entries, sizes);
    for (const ImageEntry& entry : entries) image.insert(image.end(), entry.data.begin(), entry.data.end());
    image.resize(image.size() + kCheckValueSize);
    SealImage(image);
    return image;
}

void SealImage(std::vector<std::uint8_t>& image) {
    const std::size_t body = image.size() - kCheckValueSize;
    const std::uint16_t check = Crc16X25(image.data(), body);
    image[body] = static_cast<std::uint8_t>(check & 0xFF);
    image[body + 1] = static_cast<std::uint8_t>(check >> 8);
}

namespace {

// The fields of a manifest line, in the order of their keys.
enum ManifestField { kNameField, kTimeField, kTargetField, kSourceField, kFieldCount };
constexpr const char* kFieldKeys[kFieldCount] = {"name", "time", "target", "source"};

// A field that holds " key=" after a blank for one of the keys: the fields were separated by blanks.
// Returns the key found, or an empty string.
std::string KeyAfterBlank(const std::string& field) {
    for (std::size_t at = field.find(' '); at != std::string::npos; at = field.find(' ', at + 1)) {
        const std::size_t next = field.find_first_not_of(' ', at);
        if (next == std::string::npos) break;
        for (const char* key : kFieldKeys) {
            const std::string prefix = std::string(key) + "=";
            if (field.compare(next, prefix.size(), prefix) == 0) return key;
        }
    }
    return std::string();
}

// The setup's checks of one entry on every platform kind it can be written on and in every time zone.
PackageFault CheckAsSetup(const std::vector<std::uint8_t>& name, const std::string& stamp,
                          std::uint8_t target, NameDecoder& decoder) {
    ImageEntry image;
    image.name = name;
    image.timeStamp = stamp;
    image.target = target;
    const PackageEntry record = MakeEntry(image, 0, 0);
    for (std::int64_t offset : kZoneOffsets) {
        memory::FixedOffsetClock clock(offset);
        for (std::int32_t kind = -1; kind <= 5; ++kind) {
            EntryPlan plan;
            const PackageFault fault = PlanEntry(kMaxPackageLength, record, kind, decoder, clock, plan);
            if (fault != PackageFault::kNone) return fault;
        }
    }
    return PackageFault::kNone;
}

// The errors of one manifest line, added to those of the whole manifest.
class LineErrors {
public:
    LineErrors(int line, std::vector<std::string>& errors)
        : m_line(line), m_errors(errors), m_before(errors.size()) {}
    void Add(const std::string& text) { m_errors.push_back(LineError(m_line, text)); }
    bool Any() const { return m_errors.size() != m_before; }

private:
    int m_line;
    std::vector<std::string>& m_errors;
    std::size_t m_before;
};

// The fields of one line as written.
struct LineFields {
    std::string values[kFieldCount];
    bool seen[kFieldCount] = {false, false, false, false};
    std::string blankKey;  // a key after a blank inside a field (see KeyAfterBlank)

    bool Complete() const {
        for (bool s : seen) {
            if (!s) return false;
        }
        return true;
    }
};

// One TAB-separated field: key=value, of a known key given once.
void ParseField(const std::string& field, LineFields& fields, LineErrors& errors) {
    if (fields.blankKey.empty()) fields.blankKey = KeyAfterBlank(field);
    const std::size_t equals = field.find('=');
    if (equals == std::string::npos) {
        errors.Add("field \"" + field + "\" is not of the form key=value");
        return;
    }
    const std::string key = field.substr(0, equals);
    int k = 0;
    while (k < kFieldCount && key != kFieldKeys[k]) ++k;
    if (k == kFieldCount) {
        errors.Add("unknown field \"" + key + "\"");
        return;
    }
    if (fields.seen[k]) {
        errors.Add("field \"" + key + "\" given twice");
        return;
    }
    fields.seen[k] = true;
    fields.values[k] = field.substr(equals + 1);
}

// Splits a line at its TABs and parses every field that is not empty.
LineFields SplitFields(const std::string& line, LineErrors& errors) {
    LineFields fields;
    std::istringstream text(line);
    std::string field;
    while (std::getline(text, field, '\t')) {
        if (!field.empty()) ParseField(field, fields, errors);
    }
    return fields;
}

bool ParseTarget(const std::string& text, std::uint8_t& target, LineErrors& errors) {
    if (text.size() != 1 || text[0] < '0' || text[0] > '5') {
        errors.Add("target \"" + text + "\" is not a number from 0 to 5");
        return false;
    }
    target = static_cast<std::uint8_t>(text[0] - '0');
    return true;
}

// Encodes the entry's name into the code page: at most 32 bytes, no zero byte, and the same name
// when read back there.
bool EncodeEntryName(ManifestEntry& entry, int codePage, LineErrors& errors) {
    std::string error;
    std::u16string decoded;
    if (!EncodeName(entry.name, codePage, entry.encodedName, error)) {
        errors.Add(error);
    } else if (entry.encodedName.empty()) {
        errors.Add("name is empty");
    } else if (entry.encodedName.size() > kNameSize) {
        errors.Add("name \"" + entry.name + "\" takes " + std::to_string(entry.encodedName.size()) +
                   " bytes in code page " + std::to_string(codePage) + "; at most 32 fit");
    } else if (std::find(entry.encodedName.begin(), entry.encodedName.end(), 0) != entry.encodedName.end()) {
        errors.Add("name contains a zero byte");
    } else if (!DecodeName(entry.encodedName.data(), entry.encodedName.size(), codePage, decoded) ||
               decoded != Utf8ToUtf16(entry.name)) {
        errors.Add("name \"" + entry.name + "\" does not read back the same in code page " +
                   std::to_string(codePage));
    } else {
        return true;
    }
    return false;
}

bool CheckTimeDigits(const std::string& stamp, LineErrors& errors) {
    if (IsFourteenDigits(stamp)) return true;
    errors.Add("time \"" + stamp + "\" is not 14 digits YYYYMMDDhhmmss");
    return false;
}

// The same rules as the setup applies, to an entry of a good target: the name with a time that is
// always good, the time with a name that is always good, so that each fault is found whatever the
// other field holds.
void CheckSetupRules(const ManifestEntry& entry, bool nameOk, bool timeOk, NameDecoder& decoder,
                     LineErrors& errors) {
    if (nameOk &&
        CheckAsSetup(entry.encodedName, "20000101000000", entry.target, decoder) == PackageFault::kBadName) {
        errors.Add("name \"" + entry.name + "\" is not a sound file name" +
                   (entry.target != 0 ? " (in the system folder the part after its last \"%\" and the "
                                        "character after it is used)"
                                      : ""));
    }
    if (timeOk &&
        CheckAsSetup({'a'}, entry.timeStamp, entry.target, decoder) == PackageFault::kBadTimeStamp) {
        errors.Add("time \"" + entry.timeStamp + "\" is not a real date and time " + kStampRangeEverywhere);
    }
}

// Resolves the source against the manifest's folder and takes its size: a regular file below 2 GiB.
void ResolveSource(ManifestEntry& entry, const std::string& folder, LineErrors& errors) {
    std::filesystem::path source(entry.source);
    if (source.is_relative() && !folder.empty()) source = std::filesystem::path(folder) / source;
    const std::string given = entry.source;
    entry.source = source.string();
    struct stat status {};
    if (given.empty()) {
        errors.Add("source is empty");
    } else if (::stat(entry.source.c_str(), &status) != 0) {
        errors.Add("source file \"" + entry.source + "\": " + std::strerror(errno));
    } else if (!S_ISREG(status.st_mode)) {
        errors.Add("source file \"" + entry.source + "\" is not a regular file");
    } else if (static_cast<std::uint64_t>(status.st_size) > kMaxPackageLength) {
        errors.Add("source file \"" + entry.source + "\" is 2 GiB or larger");
    } else {
        entry.size = static_cast<std::uint64_t>(status.st_size);
    }
}

// Checks one entry line; the entry is good when the line has no error.
ManifestEntry ParseEntry(const std::string& line, int number, const std::string& folder, int codePage,
                         NameDecoder& decoder, LineErrors& errors) {
    ManifestEntry entry;
    entry.line = number;
    const LineFields fields = SplitFields(line, errors);
    // Blanks where TABs belong make one long field: say so instead of naming the fields it hides.
    if (!fields.blankKey.empty() && !fields.Complete()) {
        errors.Add("fields are separated by TAB characters, not blanks (a blank comes before \"" +
                   fields.blankKey + "=\")");
        return entry;
    }
    for (int k = 0; k < kFieldCount; ++k) {
        if (!fields.seen[k]) errors.Add(std::string("field \"") + kFieldKeys[k] + "\" is missing");
    }
    entry.name = fields.values[kNameField];
    entry.timeStamp = fields.values[kTimeField];
    entry.source = fields.values[kSourceField];
    const bool targetOk =
        fields.seen[kTargetField] && ParseTarget(fields.values[kTargetField], entry.target, errors);
    const bool nameOk = fields.seen[kNameField] && EncodeEntryName(entry, codePage, errors);
    const bool timeOk = fields.seen[kTimeField] && CheckTimeDigits(entry.timeStamp, errors);
    if (targetOk) CheckSetupRules(entry, nameOk, timeOk, decoder, errors);
    if (fields.seen[kSourceField]) ResolveSource(entry, folder, errors);
    return entry;
}

}  // namespace

Manifest ParseManifest(const std::string& text, const std::string& folder, int codePage) {
    static const char kByteOrderMark[] = "\xEF\xBB\xBF";
    Manifest manifest;
    std::istringstream lines(text.compare(0, 3, kByteOrderMark) == 0 ? text.substr(3) : text);
    CodePageDecoder decoder(codePage);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        LineErrors errors(number, manifest.errors);
        ManifestEntry entry = ParseEntry(line, number, folder, codePage, decoder, errors);
        if (!errors.Any()) manifest.entries.push_back(std::move(entry));
    }
    return manifest;
}

std::string DescribeKinds(const std::vector<std::int32_t>& kinds) {
    static const char* const kNames[] = {"?", "2000", "XP", "Vista 32-bit", "64-bit", "7 and later 32-bit"};
    std::string names;
    std::string numbers;
    for (std::int32_t kind : kinds) {
        if (!names.empty()) {
            names += ", ";
            numbers += ", ";
        }
        names += kNames[kind >= 1 && kind <= 5 ? kind : 0];
        numbers += std::to_string(kind);
    }
    return "Windows " + names + (kinds.size() == 1 ? " (platform kind " : " (platform kinds ") + numbers +
           ")";
}

std::vector<PackageWarning> FindPackageWarnings(const std::vector<LabeledEntry>& entries,
                                                std::uint64_t length, int codePage) {
    CodePageDecoder decoder(codePage);
    memory::FixedOffsetClock clock;
    std::vector<std::int32_t> nothing;
    std::vector<std::int32_t> noApplication;
    std::vector<std::int32_t> noDriver;
    // (earlier entry, later entry, folder) -> the kinds on which the later one overwrites the earlier.
    std::map<std::tuple<std::size_t, std::size_t, Destination>, std::vector<std::int32_t>> clashes;
    std::map<std::size_t, std::u16string> shownNames;
    for (std::int32_t kind = 1; kind <= 5; ++kind) {
        std::vector<std::pair<std::size_t, EntryPlan>> written;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            EntryPlan plan;
            if (PlanEntry(length, entries[i].record, kind, decoder, clock, plan) != PackageFault::kNone)
                continue;
            if (plan.destination != Destination::kNotWritten) written.emplace_back(i, plan);
        }
        std::uint64_t destinationBytes = 0;
        bool application = false;
        bool driver = false;
        for (std::size_t b = 0; b < written.size(); ++b) {
            const EntryPlan& plan = written[b].second;
            if (plan.destination == Destination::kDestinationFolder) {
                destinationBytes += entries[written[b].first].record.dataSize;
                application = application || EqualsIgnoreAsciiCase(plan.fileName, kApplicationFileName);
                driver = driver || EqualsIgnoreAsciiCase(plan.fileName, kDriverInstallerName);
            }
            for (std::size_t a = 0; a < b; ++a) {
                if (written[a].second.destination == plan.destination &&
                    EqualsIgnoreAsciiCase(written[a].second.fileName, plan.fileName)) {
                    clashes[{written[a].first, written[b].first, plan.destination}].push_back(kind);
                    shownNames[written[a].first] = written[a].second.fileName;
                    shownNames[written[b].first] = plan.fileName;
                    break;
                }
            }
        }
        // The setup sums the sizes of these files first and ends silently when the sum is 0.
        if (destinationBytes == 0) {
            nothing.push_back(kind);
            continue;
        }
        if (!application) noApplication.push_back(kind);
        if (kind == kDriverPlatformKind && !driver) noDriver.push_back(kind);
    }

    std::vector<PackageWarning> warnings;
    for (const auto& [key, kinds] : clashes) {
        const auto& [earlier, later, folder] = key;
        warnings.push_back(
            {entries[later].where, "\"" + Utf16ToUtf8(shownNames[later]) + "\" goes to the " +
                                       (folder == Destination::kSystemFolder ? "system" : "destination") +
                                       " folder under the same name as " + entries[earlier].where + " (\"" +
                                       Utf16ToUtf8(shownNames[earlier]) + "\") on " + DescribeKinds(kinds) +
                                       ": the later entry overwrites the earlier one"});
    }
    if (!nothing.empty()) {
        warnings.push_back({"", "no data goes to the destination folder (no entry, or empty files only) on " +
                                    DescribeKinds(nothing) +
                                    ": the setup ends there without a message (exit code 1)"});
    }
    if (!noApplication.empty()) {
        warnings.push_back(
            {"", "no \"QUENTARO.exe\" goes to the destination folder on " + DescribeKinds(noApplication) +
                     ": the setup makes no shortcuts and says so at the end of the installation"});
    }
    if (!noDriver.empty()) {
        warnings.push_back(
            {"", "no \"" + Utf16ToUtf8(kDriverInstallerName) + "\" goes to the destination folder on " +
                     DescribeKinds(noDriver) +
                     ": the setup stops with the driver installer message after writing the files"});
    }
    return warnings;
}

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

}  // namespace

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
