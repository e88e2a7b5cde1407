#include "tools/image.h"

#include "core/crc16.h"

namespace quentaro::pack {

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

}  // namespace quentaro::pack
