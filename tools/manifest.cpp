#include "tools/manifest.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "core/memory_ports.h"
#include "core/package.h"
#include "tools/codepage.h"
#include "tools/host_ports.h"
#include "tools/image.h"
#include "tools/entry_report.h"

namespace quentaro::pack {

namespace {

bool IsFourteenDigits(const std::string& text) {
    if (text.size() != 14) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

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

std::string LineError(int line, const std::string& text) {
    return "line " + std::to_string(line) + ": " + text;
}

}  // namespace quentaro::pack
