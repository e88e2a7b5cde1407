// Benchmarks of the portable core over the memory ports (core/memory_ports.h): the check value with
// its progress over a 64 MiB package, the selection and plan of a 10,000-entry table, and the
// extraction into a file system that discards the bytes. Those ports copy with memcpy and count
// almost nothing else, so the figures are the core's own cost.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/checks.h"
#include "core/crc16.h"
#include "core/engine.h"
#include "core/extract.h"
#include "core/memory_ports.h"
#include "core/package.h"
#include "core/ports.h"
#include "core/progress.h"
#include "tools/pack.h"

namespace quentaro {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;

pack::ImageEntry Entry(const std::string& name, std::uint8_t target, std::vector<std::uint8_t> data) {
    pack::ImageEntry entry;
    entry.name.assign(name.begin(), name.end());
    entry.timeStamp = "20080401120000";
    entry.target = target;
    entry.data = std::move(data);
    return entry;
}

std::vector<std::uint8_t> Noise(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t x = 2463534242u;
    for (std::uint8_t& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    return bytes;
}

// One entry holding `size` bytes.
std::vector<std::uint8_t> LargePackage(std::size_t size) {
    return pack::BuildImage({Entry("QUENTARO.dat", 0, Noise(size))});
}

// `count` entries of `size` bytes; every seventh one for another platform kind.
std::vector<std::uint8_t> ManyFilesPackage(std::size_t count, std::size_t size) {
    std::vector<pack::ImageEntry> entries;
    const std::vector<std::uint8_t> data = Noise(size);
    for (std::size_t i = 0; i < count; ++i) {
        entries.push_back(Entry("file" + std::to_string(i) + ".txt", i % 7 == 6 ? 4 : 0, data));
    }
    return pack::BuildImage(entries);
}

struct Ports {
    explicit Ports(std::vector<std::uint8_t> image) : store(std::move(image)) {}
    memory::MemoryPackageStore store;
    memory::CountingUi ui;
    memory::CountingFileSystem files;
    memory::ByteDecoder names;
    memory::FixedOffsetClock clock;  // UTC
    memory::NullShell shell;
    InstallEngine Engine(std::int32_t kind = 1) {
        return InstallEngine{store, ui, files, names, clock, shell, kind, u"C:\\dest", u"C:\\sys"};
    }
};

// The bare register over 64 MiB in memory: the floor for the check.
void BM_Crc16Register(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes = Noise(static_cast<std::size_t>(state.range(0)) * kMiB);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Crc16Update(kCrc16Initial, bytes.data(), bytes.size()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_Crc16Register)->Arg(64)->Unit(benchmark::kMillisecond);

// The check as the program does it: reads of kCrcBlockSize bytes, a value at every change.
void BM_CheckCrc(benchmark::State& state) {
    Ports ports(LargePackage(static_cast<std::size_t>(state.range(0)) * kMiB));
    const InstallEngine engine = ports.Engine();
    for (auto _ : state) {
        if (CheckCrc(engine) != 1) state.SkipWithError("check failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * ports.store.bytes.size()));
    state.counters["SetProgress"] =
        static_cast<double>(ports.ui.progressCalls) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_CheckCrc)->Arg(64)->Unit(benchmark::kMillisecond);

// For comparison, the check written the plain way: 1000-byte reads and the progress arithmetic and
// a SetProgress call after every byte.
void BM_CheckCrcPerByte(benchmark::State& state) {
    Ports ports(LargePackage(static_cast<std::size_t>(state.range(0)) * kMiB));
    for (auto _ : state) {
        std::unique_ptr<PackageFile> file = ports.store.Open(u"QUENTARO.cab");
        const std::uint64_t length = file->Size();
        std::vector<std::uint8_t> block(1000);
        std::uint16_t r = kCrc16Initial;
        std::uint64_t done = 0;
        while (done < length) {
            const ReadResult read = file->Read(block.data(), block.size());
            for (std::size_t i = 0; i < read.count; ++i) {
                r = Crc16Update(r, block[i]);
                ++done;
                ports.ui.SetProgress(CheckProgress(done, length));
            }
        }
        if (r != kCrc16Residue) state.SkipWithError("check failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * ports.store.bytes.size()));
}
BENCHMARK(BM_CheckCrcPerByte)->Arg(64)->Unit(benchmark::kMillisecond);

// The selection over a 10,000-entry table: the install size (header, table, selection rule).
void BM_GetInstallSize(benchmark::State& state) {
    Ports ports(ManyFilesPackage(static_cast<std::size_t>(state.range(0)), 16));
    const InstallEngine engine = ports.Engine();
    for (auto _ : state) benchmark::DoNotOptimize(GetInstallSize(engine));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_GetInstallSize)->Arg(10000)->Unit(benchmark::kMicrosecond);

// The plan of every entry before a file is written: limits, names, time stamps.
void BM_ValidatePackage(benchmark::State& state) {
    Ports ports(ManyFilesPackage(static_cast<std::size_t>(state.range(0)), 16));
    const std::vector<std::uint8_t>& image = ports.store.bytes;
    const PackageHeader header = ReadPackageHeader(image.data());
    const EntryReader read = [&image](std::uint32_t index, PackageEntry& entry) {
        entry = ReadPackageEntry(image.data() + EntryRecordOffset(index));
        return true;
    };
    for (auto _ : state) {
        const PackageCheck check = ValidatePackage(image.size(), header, read, 1, ports.names, ports.clock);
        if (!check.ok()) state.SkipWithError("package refused");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ValidatePackage)->Arg(10000)->Unit(benchmark::kMicrosecond);

// The extraction of one 64 MiB entry.
void BM_ExtractLargeFile(benchmark::State& state) {
    Ports ports(LargePackage(static_cast<std::size_t>(state.range(0)) * kMiB));
    const InstallEngine engine = ports.Engine();
    for (auto _ : state) {
        if (ExtractFiles(engine) != 1) state.SkipWithError("extraction failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(ports.files.bytesWritten));
}
BENCHMARK(BM_ExtractLargeFile)->Arg(64)->Unit(benchmark::kMillisecond);

// The extraction of 10,000 entries of 100 bytes: the per-file cost of the core.
void BM_ExtractManyFiles(benchmark::State& state) {
    Ports ports(ManyFilesPackage(static_cast<std::size_t>(state.range(0)), 100));
    const InstallEngine engine = ports.Engine();
    for (auto _ : state) {
        if (ExtractFiles(engine) != 1) state.SkipWithError("extraction failed");
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(ports.files.files));
}
BENCHMARK(BM_ExtractManyFiles)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quentaro

BENCHMARK_MAIN();
