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

    const bool signature = size >= 4 && data[0] == 'K' && data[1] == 'J' && data[2] == '4' && data[3] == '7';
    Require(CheckSignature(rig.engine) == (signature ? 1 : 0));
    Require(rig.ui.errors.size() == (signature ? 0u : 1u));

    rig.ui.errors.clear();
    const int version = CheckVersion(rig.engine);
    Require(version == 0 || version == 1);
    Require(rig.ui.errors.size() == (version == 1 ? 0u : 1u));

    rig.ui.errors.clear();
    const bool residue = Crc16Update(kCrc16Initial, data, size) == kCrc16Residue;
    Require(CheckCrc(rig.engine) == (residue ? 1 : 0));
    Require(rig.ui.errors.size() == (residue ? 0u : 1u));
    Require(rig.ui.progress.size() == size);
    for (std::size_t i = 0; i < rig.ui.progress.size(); ++i) {
        Require(rig.ui.progress[i] == static_cast<std::int32_t>(50 * (i + 1) / size));
    }
    Require(!rig.store.isOpen);
    return 0;
}
