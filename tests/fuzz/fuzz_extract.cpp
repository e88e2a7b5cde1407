// Fuzz target: the extraction plan and pass, on every platform kind, with both a single-byte and a
// double-byte name decoder and a few time zones.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/extract.h"
#include "core/messages.h"
#include "fake_ports.h"

using namespace quentaro;

namespace {

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

namespace {

void Extract(const std::uint8_t* data, std::size_t size, std::int32_t kind, bool doubleByte) {
    fakes::Rig rig(kind);
    fakes::DoubleByteDecoder dbcs;
    NameDecoder& names = doubleByte ? static_cast<NameDecoder&>(dbcs) : rig.names;
    rig.clock.offset = (kind - 2) * 4 * 3600;
    rig.store.bytes.assign(data, data + size);
    rig.files.keepData = false;  // entries may share data: a few KiB can stand for a MiB of files
    InstallEngine engine{rig.store, rig.ui, rig.files,   names,     rig.clock,
                         rig.shell, kind,   u"C:\\dest", u"C:\\sys"};
    // Two blocks and a remainder per chunk, so that entries of a few hundred bytes take several
    // chunks; the program's 1 MiB buffer would cost more than the rest of a run.
    engine.copyBufferSize = 2 * kCopyBlockSize + kCopyBlockSize - 1;

    const int result = ExtractFiles(engine);
    Require(result == 0 || result == 1);
    Require(!rig.store.isOpen);
    Require(rig.ui.errors.size() <= 1);
    if (result == 1) Require(rig.ui.errors.empty());
    // Nothing is written from a package that is refused as damaged or unreadable.
    if (!rig.ui.errors.empty() &&
        (rig.ui.errors[0] == kMsgDataFileDamaged || rig.ui.errors[0] == kMsgDataFileReadFailed)) {
        Require(rig.files.createOrder.empty());
    }
    for (const std::u16string& path : rig.files.createOrder) {
        const std::size_t slash = path.rfind(u'\\');
        const std::u16string folder = path.substr(0, slash);
        Require(folder == u"C:\\dest" || folder == u"C:\\sys");
        Require(IsSoundFileName(path.substr(slash + 1)));
    }
    std::int32_t last = 50;
    for (std::int32_t value : rig.ui.progress) {
        Require(value >= last && value <= 100);
        last = value;
    }
    if (result == 1 && !rig.ui.progress.empty()) Require(rig.ui.progress.back() == 100);
    Require(rig.shell.calls.size() == (kind == 5 && result == 1 ? 1u : 0u));
    for (const auto& [path, file] : rig.files.files) Require(!file.open);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (std::int32_t kind = -1; kind <= 5; ++kind) {
        Extract(data, size, kind, false);
        Extract(data, size, kind, true);
    }
    return 0;
}
