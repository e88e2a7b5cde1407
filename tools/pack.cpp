#include "tools/pack.h"

#include <iconv.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "core/checks.h"
#include "core/crc16.h"
#include "core/engine.h"
#include "core/messages.h"

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

// Records the messages of the checks instead of showing them.
class RecordingUi : public InstallUi {
public:
    void ShowError(const std::u16string& text) override { errors.push_back(text); }
    void SetProgress(std::int32_t) override {}
    void AppendLog(const std::u16string&) override {}
    std::vector<std::u16string> errors;
};

class NoFiles : public TargetFileSystem {
public:
    std::unique_ptr<TargetFile> Create(const std::u16string&) override { return nullptr; }
};

class NoShell : public Shell {
public:
    bool RunAndWait(const std::u16string&, const std::u16string&, const std::u16string&) override {
        return true;
    }
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

struct Options {
    int codePage = 932;
    std::string manifest;
    std::string output;
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
    "usage: quentaro-pack build --codepage 932|1252 --manifest MANIFEST --output PACKAGE\n"
    "       quentaro-pack list [--codepage 932|1252] PACKAGE\n"
    "       quentaro-pack verify [--codepage 932|1252] PACKAGE\n";

int Build(const Options& options, std::ostream& out, std::ostream& err) {
    std::ifstream manifestFile(options.manifest, std::ios::binary);
    if (!manifestFile) {
        err << options.manifest << ": cannot be read\n";
        return 1;
    }
    std::ostringstream text;
    text << manifestFile.rdbuf();
    const std::string folder = std::filesystem::path(options.manifest).parent_path().string();
    const Manifest manifest = ParseManifest(text.str(), folder, options.codePage);
    if (!manifest.error.empty()) {
        err << options.manifest << ": " << manifest.error << "\n";
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
        if (!package) return fail(partial + ": cannot be written");
        const std::vector<std::uint8_t> table = LayoutTable(entries, sizes);
        std::uint16_t r = Crc16Update(kCrc16Initial, table.data(), table.size());
        package.write(reinterpret_cast<const char*>(table.data()),
                      static_cast<std::streamsize>(table.size()));
        std::vector<char> buffer(1 << 16);
        for (const ManifestEntry& item : manifest.entries) {
            std::ifstream source(item.source, std::ios::binary);
            if (!source) return fail(LineError(item.line, item.source + " cannot be read"));
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
                return fail(LineError(item.line, item.source + " changed while it was read"));
            }
        }
        const std::uint16_t check = static_cast<std::uint16_t>(~r);
        const char tail[2] = {static_cast<char>(check & 0xFF), static_cast<char>(check >> 8)};
        package.write(tail, 2);
        package.close();
        if (!package) return fail(partial + ": cannot be written");
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
        err << path << ": cannot be opened\n";
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
        LocalTime time;
        std::ostringstream when;
        if (ScanTimeStamp(entry.timeStamp.data(), time) == 6) {
            when << std::setfill('0') << std::setw(4) << time.year << '-' << std::setw(2) << time.month << '-'
                 << std::setw(2) << time.day << ' ' << std::setw(2) << time.hour << ':' << std::setw(2)
                 << time.minute << ':' << std::setw(2) << time.second;
        } else {
            when << Printable(entry.timeStamp.data(), 14);
        }
        const std::size_t stored = StoredNameLength(entry.name);
        std::u16string name;
        const std::string shown = DecodeName(entry.name.data(), stored, options.codePage, name)
                                      ? Utf16ToUtf8(name)
                                      : Printable(entry.name.data(), stored);
        out << std::left << std::setw(7) << i << std::setw(8) << unsigned{entry.target} << std::setw(12)
            << entry.dataSize << std::setw(12) << entry.dataOffset << std::setw(21) << when.str() << shown
            << std::right << "\n";
    }
    return 0;
}

int Verify(const Options& options, std::ostream& out, std::ostream& err) {
    const std::string& path = options.positional[0];
    HostPackageStore store;
    RecordingUi ui;
    NoFiles files;
    CodePageDecoder decoder(options.codePage);
    FixedOffsetClock clock(0);  // the checks read no time stamp
    NoShell shell;
    InstallEngine engine{store, ui, files, decoder, clock, shell, 0, u"", u"", Utf8ToUtf16(path)};
    struct Step {
        const char* label;
        int (*check)(const InstallEngine&);
    };
    static constexpr Step kSteps[] = {
        {"signature", CheckSignature}, {"version", CheckVersion}, {"check value", CheckCrc}};
    bool ok = true;
    for (const Step& step : kSteps) {
        ui.errors.clear();
        const bool passed = step.check(engine) == 1;
        out << step.label << ": " << (passed ? "ok" : "FAILED") << "\n";
        if (!passed && !ui.errors.empty() && ui.errors.front() == kMsgDataFileNotFound) {
            err << path << ": cannot be opened\n";
            return 1;
        }
        ok = ok && passed;
    }

    // The limits that the extraction checks, on every platform kind and in every time zone.
    std::unique_ptr<PackageFile> file = store.Open(engine.packageName);
    if (!file) {
        err << path << ": cannot be opened\n";
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
        FixedOffsetClock zone(offset);
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
    return ok && check.ok() ? 0 : 1;
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

bool FixedOffsetClock::LocalToUtc(const LocalTime& local, std::int64_t& utcSeconds) {
    utcSeconds = UtcSecondsOfCivil(local) - m_offset;
    return true;
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

Manifest ParseManifest(const std::string& text, const std::string& folder, int codePage) {
    Manifest manifest;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    CodePageDecoder decoder(codePage);
    auto fail = [&](const std::string& message) {
        manifest.entries.clear();
        manifest.error = LineError(number, message);
        return manifest;
    };
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;

        ManifestEntry entry;
        entry.line = number;
        bool seen[4] = {false, false, false, false};
        static const char* const kKeys[4] = {"name", "time", "target", "source"};
        std::string target;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, '\t')) {
            if (field.empty()) continue;
            const std::size_t equals = field.find('=');
            if (equals == std::string::npos)
                return fail("field \"" + field + "\" is not of the form key=value");
            const std::string key = field.substr(0, equals);
            const std::string value = field.substr(equals + 1);
            int k = 0;
            while (k < 4 && key != kKeys[k]) ++k;
            if (k == 4) return fail("unknown field \"" + key + "\"");
            if (seen[k]) return fail("field \"" + key + "\" given twice");
            seen[k] = true;
            std::string* const slots[4] = {&entry.name, &entry.timeStamp, &target, &entry.source};
            *slots[k] = value;
        }
        for (int k = 0; k < 4; ++k) {
            if (!seen[k]) return fail(std::string("field \"") + kKeys[k] + "\" is missing");
        }

        if (target.size() != 1 || target[0] < '0' || target[0] > '5') {
            return fail("target \"" + target + "\" is not a number from 0 to 5");
        }
        entry.target = static_cast<std::uint8_t>(target[0] - '0');

        std::string error;
        if (!EncodeName(entry.name, codePage, entry.encodedName, error)) return fail(error);
        if (entry.encodedName.empty()) return fail("name is empty");
        if (entry.encodedName.size() > kNameSize) {
            return fail("name \"" + entry.name + "\" takes " + std::to_string(entry.encodedName.size()) +
                        " bytes in code page " + std::to_string(codePage) + "; at most 32 fit");
        }
        for (std::uint8_t b : entry.encodedName) {
            if (b == 0) return fail("name contains a zero byte");
        }
        std::u16string decoded;
        if (!DecodeName(entry.encodedName.data(), entry.encodedName.size(), codePage, decoded) ||
            decoded != Utf8ToUtf16(entry.name)) {
            return fail("name \"" + entry.name + "\" does not read back the same in code page " +
                        std::to_string(codePage));
        }
        if (!IsFourteenDigits(entry.timeStamp)) {
            return fail("time \"" + entry.timeStamp + "\" is not 14 digits YYYYMMDDhhmmss");
        }

        // The same rules as the setup applies, on every platform kind the entry can be written on.
        ImageEntry image;
        image.name = entry.encodedName;
        image.timeStamp = entry.timeStamp;
        image.target = entry.target;
        const PackageEntry record = MakeEntry(image, 0, 0);
        for (std::int64_t offset : kZoneOffsets) {
            FixedOffsetClock clock(offset);
            for (std::int32_t kind = -1; kind <= 5; ++kind) {
                EntryPlan plan;
                const PackageFault fault = PlanEntry(kMaxPackageLength, record, kind, decoder, clock, plan);
                if (fault == PackageFault::kBadName) {
                    return fail("name \"" + entry.name + "\" is not a sound file name" +
                                (entry.target != 0
                                     ? " (in the system folder the part after its last \"%\" and the "
                                       "character after it is used)"
                                     : ""));
                }
                if (fault == PackageFault::kBadTimeStamp) {
                    return fail("time \"" + entry.timeStamp + "\" is not a real date and time " +
                                kStampRangeEverywhere);
                }
            }
        }

        std::filesystem::path source(entry.source);
        if (source.is_relative() && !folder.empty()) source = std::filesystem::path(folder) / source;
        entry.source = source.string();
        std::error_code ec;
        if (entry.source.empty() || !std::filesystem::is_regular_file(source, ec)) {
            return fail("source file \"" + entry.source + "\" does not exist");
        }
        entry.size = std::filesystem::file_size(source, ec);
        if (ec) return fail("source file \"" + entry.source + "\" cannot be read");
        if (entry.size > kMaxPackageLength)
            return fail("source file \"" + entry.source + "\" is 2 GiB or larger");
        manifest.entries.push_back(std::move(entry));
    }
    return manifest;
}

int RunPackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Options options;
    if (args.empty()) {
        err << kUsage;
        return 2;
    }
    if (!ParseOptions(args, options, err)) return 2;
    const std::string& command = args[0];
    if (command == "build") {
        if (options.manifest.empty() || options.output.empty() || !options.positional.empty()) {
            err << kUsage;
            return 2;
        }
        return Build(options, out, err);
    }
    if ((command == "list" || command == "verify") && options.positional.size() == 1 &&
        options.manifest.empty() && options.output.empty()) {
        return command == "list" ? List(options, out, err) : Verify(options, out, err);
    }
    err << kUsage;
    return 2;
}

}  // namespace quentaro::pack
