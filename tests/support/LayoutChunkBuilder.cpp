#include "tests/support/LayoutChunkBuilder.h"

#include <cstdio>

#include "tests/support/ByteWriter.h"

namespace kvdtest {

std::size_t LayoutRecordLength(int32_t version)
{
    if (version == 1) return 844;
    if (version == 2) return 1360;
    return 1368;
}

std::vector<uint8_t> LayoutRecordDesc::Encode(int32_t version) const
{
    ByteWriter w;
    w.I32(hwId).I32(subType).I32(gain).I32(lowF).I32(highF);
    w.Text(name, 257).Text(decoratedName, 257).Zeros(2);
    w.I32(meaNumber).Text(meaName, 257).Zeros(3);
    w.I32(electrodeType).I32(posX).I32(posY).I32(posZ).I32(extentX).I32(extentY).I32(extentZ);
    w.I32(displayX).I32(displayY).I32(displayExtentX).I32(displayExtentY);
    if (version != 1) w.Text(thirdName, 257).Text(amplifierName, 257).Zeros(2);
    if (version != 1 && version != 2) w.I32(mapHwId).I32(mapValue);
    return w.Bytes();
}

std::vector<uint8_t> LayoutChunkDesc::Encode() const
{
    const std::size_t recordBytes = records.size() * LayoutRecordLength(version);
    ByteWriter w;
    w.ChunkHead(id, bodySize ? *bodySize : 32 + recordBytes);
    w.I32(version).I32(sourceType).I32(total ? *total : static_cast<int32_t>(records.size()));
    w.I32(electrodes).I32(analog).I32(digital).I32(reserved);
    w.I32(count ? *count : static_cast<int32_t>(records.size()));
    for (const LayoutRecordDesc& r : records) w.Raw(r.Encode(version));
    return w.Bytes();
}

LayoutChunkDesc GridLayout(int electrodes, int analog)
{
    LayoutChunkDesc chunk;
    chunk.electrodes = electrodes;
    chunk.analog = analog;
    chunk.digital = 1;
    const int total = electrodes + analog + 1;
    for (int h = 0; h < total; ++h) {
        LayoutRecordDesc r;
        char name[32];
        r.hwId = h;
        r.mapHwId = h;
        r.electrodeType = 1;
        r.meaNumber = 0;
        if (h < electrodes) {
            std::snprintf(name, sizeof name, "E%02d", h + 1);
            r.subType = 0;
            r.gain = 1100;
            r.lowF = 1000;
            r.highF = 3000000;
            r.name = name;
            r.decoratedName = r.name + "a";
            r.meaName = "Grid 8x8";
            r.amplifierName = "Amp 64";
            r.posX = (h % 8) * 200;
            r.posY = (h / 8) * 200;
            r.displayX = (h % 8) * 100;
            r.displayY = (h / 8) * 100;
        } else if (h < electrodes + analog) {
            std::snprintf(name, sizeof name, "A%d", h - electrodes + 1);
            r.subType = 1;
            r.gain = 1;
            r.name = r.decoratedName = name;
            r.posX = h - electrodes;
            r.displayX = (h - electrodes) * 100;
        } else {
            r.subType = 2;
            r.gain = 1;
            r.name = r.decoratedName = "D1";
        }
        r.thirdName = r.name;
        chunk.records.push_back(r);
    }
    return chunk;
}

}  // namespace kvdtest
