// Fuzz target: the package reader and the format limits, on every platform kind, with both a
// single-byte and a double-byte name decoder and a few time zones.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/package.h"
#include "fake_ports.h"

using namespace quentaro;

namespace {

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> header(kPackageHeaderSize, 0);
    for (std::size_t i = 0; i < size && i < header.size(); ++i) header[i] = data[i];
    const PackageHeader parsed = ReadPackageHeader(header.data());
    const EntryReader reader = [data, size](std::uint32_t index, PackageEntry& entry) {
        const std::uint64_t at = EntryRecordOffset(index);
        if (at + kPackageEntrySize > size) return false;
        entry = ReadPackageEntry(data + at);
        return true;
    };
    memory::ByteDecoder bytes;
    fakes::DoubleByteDecoder dbcs;
    for (std::int32_t kind = -1; kind <= 5; ++kind) {
        fakes::FakeClock clock((kind - 2) * 5 * 3600);
        NameDecoder& names = (kind & 1) != 0 ? static_cast<NameDecoder&>(dbcs) : bytes;
        const PackageCheck check = ValidatePackage(size, parsed, reader, kind, names, clock);
        if (!check.ok()) continue;
        // A package that passes has every planned entry inside it, with a sound name and a time in range.
        Require(size <= kMaxPackageLength && EntryRecordOffset(parsed.entryCount) + 2 <= size);
        for (std::uint32_t i = 0; i < parsed.entryCount; ++i) {
            PackageEntry entry;
            Require(reader(i, entry));
            Require(std::uint64_t{entry.dataOffset} + entry.dataSize + 2 <= size);
            EntryPlan plan;
            Require(PlanEntry(size, entry, kind, names, clock, plan) == PackageFault::kNone);
            Require(plan.destination == SelectDestination(entry.target, kind));
            if (plan.destination == Destination::kNotWritten) continue;
            Require(IsSoundFileName(plan.fileName));
            Require(plan.utcSeconds >= kMinStampSeconds && plan.utcSeconds <= kMaxStampSeconds);
            for (char16_t c : plan.fileName) Require(c != u'\\' && c != u'/' && c != u':');
        }
    }
    return 0;
}
