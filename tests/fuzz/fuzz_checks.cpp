// Fuzz target: the three package checks on arbitrary files.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/checks.h"
#include "core/crc16.h"
#include "fake_ports.h"

using namespace quentaro;

namespace {

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fakes::Rig rig;
    rig.store.bytes.assign(data, data + size);
    rig.store.maxRead = 1;
    rig.engine.crcBlockSize = 64;  // the program reads 1 MiB at a time: too costly per input here

    const bool signature = size >= 4 && data[0] == 'K' && data[1] == 'J' && data[2] == '4' && data[3] == '7';
    Require(CheckSignature(rig.engine) == (signature ? 1 : 0));
    Require(rig.ui.errors.size() == (signature ? 0u : 1u));

    rig.ui.errors.clear();
    const int version = CheckVersion(rig.engine);
    Require(version == 0 || version == 1);
    Require(rig.ui.errors.size() == (version == 1 ? 0u : 1u));

    rig.ui.errors.clear();
    rig.store.delivered = 0;  // count only the bytes that the check value reads
    const bool residue = Crc16Update(kCrc16Initial, data, size) == kCrc16Residue;
    Require(CheckCrc(rig.engine) == (residue ? 1 : 0));
    Require(rig.ui.errors.size() == (residue ? 0u : 1u));
    // The bar gets floor(50 * d / size) after the first byte d = 1 and after every byte that
    // changes it, and nothing else; with one-byte reads the bytes read tell where each value came.
    std::size_t step = 0;
    for (std::size_t d = 1; d <= size; ++d) {
        const auto value = static_cast<std::int32_t>(50 * d / size);
        if (d > 1 && value == static_cast<std::int32_t>(50 * (d - 1) / size)) continue;
        Require(step < rig.ui.progress.size());
        Require(rig.ui.progress[step] == value && rig.ui.progressAt[step] == d);
        ++step;
    }
    Require(step == rig.ui.progress.size());
    // A passing check keeps the package for the next reader; a failing one has closed it.
    Require(rig.store.isOpen == residue);
    return 0;
}
