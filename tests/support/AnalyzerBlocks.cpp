#include "tests/support/AnalyzerBlocks.h"

#include <cstring>

#include "tests/support/ByteWriter.h"
#include "tests/support/EventRecords.h"

namespace kvdtest {

std::vector<uint8_t> AnalyzerParamDesc::Encode(bool shortName) const
{
    ByteWriter w;
    w.F32(min).F32(max).U32(selected).F64(factor).I32(exponent).I32(unitType);
    if (shortName)
        w.Counted16(name);
    else
        w.Counted32(name);
    return w.Bytes();
}

std::vector<uint8_t> AnalyzerSettingsDesc::Encode(uint16_t v) const
{
    ByteWriter w;
    w.Raw("FMTBLPAR", 8).U16(static_cast<uint16_t>(widths.size()));
    for (uint32_t width : widths) w.U32(width);
    w.Raw("PSTBLPAR", 8).U16(static_cast<uint16_t>(positions.size()));
    for (int32_t p : positions) w.I32(p);
    w.Raw("PRTBLPAR", 8).U16(static_cast<uint16_t>(params.size()));
    for (const AnalyzerParamDesc& p : params) w.Raw(p.Encode(true));
    if (v == 0) return w.Bytes();
    w.I32(firstWord).I32(mode);
    for (std::size_t i = 0; i < params.size(); ++i) w.I32(i < recorded.size() ? recorded[i] : 0);
    w.I32(timeWindowCount).U16(static_cast<uint16_t>(inputBufferName.size()));
    if (endAfterNameLength) return w.Bytes();
    w.Raw(inputBufferName.data(), inputBufferName.size());
    if (v > 1) w.I32(secondWord);
    if (v > 3) w.Counted16(secondName);
    w.Raw(timeWindow.Encode(v));
    if (v > 4) w.I32(thirdWord);
    return w.Bytes();
}

uint32_t AnalyzerSettingsDesc::ChannelSize() const
{
    uint32_t size = 0;
    for (std::size_t i = 0; i < params.size() && i < widths.size(); ++i)
        if (i < positions.size() && positions[i] != -1) size += widths[i];
    return size;
}

AnalyzerSettingsDesc RecordedParameters(const std::vector<int>& indexes)
{
    AnalyzerSettingsDesc d;
    d.positions.assign(15, -1);
    d.recorded.assign(15, 0);
    d.params.resize(15);
    int next = 0;
    for (int i : indexes) {
        d.positions[i] = next++;
        d.recorded[i] = 1;
    }
    for (int i = 0; i < 15; ++i) {
        d.params[i].name = "param " + std::to_string(i);
        d.params[i].selected = d.recorded[i];
    }
    return d;
}

std::vector<uint8_t> ParamsRecord::Encode(const AnalyzerSettingsDesc& analyzer) const
{
    ByteWriter w;
    w.U64(time);
    for (const std::vector<uint64_t>& values : channels) {
        std::size_t k = 0;
        for (std::size_t i = 0; i < analyzer.positions.size() && i < analyzer.widths.size(); ++i) {
            if (analyzer.positions[i] == -1) continue;
            const uint64_t v = k < values.size() ? values[k] : 0;
            ++k;
            for (uint32_t b = 0; b < analyzer.widths[i]; ++b) w.U8(b < 8 ? static_cast<uint8_t>(v >> (8 * b)) : 0);
        }
    }
    return w.Bytes();
}

uint64_t FloatBits(float v)
{
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

std::vector<uint8_t> UnitAnalyzerDesc::Encode(bool burst) const
{
    ByteWriter w;
    w.U32(static_cast<uint32_t>(params.size()));
    for (const AnalyzerParamDesc& p : params) w.Raw(p.Encode(false));
    w.U32(static_cast<uint32_t>(unitSelected.size()));
    for (uint32_t flag : unitSelected) w.U32(flag);
    w.Counted32(inputBufferName).U32(sortMethod);
    if (burst)
        for (uint32_t s : burstSettings) w.U32(s);
    return w.Bytes();
}

std::vector<uint8_t> SpikeAnalyzerBlock(const UnitAnalyzerDesc& settings)
{
    return Tagged("PARAMSPP", settings.Encode(false));
}

std::vector<uint8_t> BurstAnalyzerBlock(const UnitAnalyzerDesc& settings)
{
    return Tagged("PARAMBSP", settings.Encode(true));
}

RecordingDesc EveryEventKind()
{
    constexpr uint64_t kStart = kDefaultStart;
    RecordingDesc rec;
    const auto analyzer = RecordedParameters({0, 8});  // Min, Number
    StreamDesc average = AverageStream(2, {}, "mean0001", 5);
    average.headerVersion = 5;
    StreamDesc params = ParamsStream(2, 5, "para0001", 6);
    params.formatPrivate = analyzer.Encode(5);
    UnitAnalyzerDesc unit;
    unit.params = {{0.0f, 1.0f, 1, 1.0, -3, 3, "ISI"}};
    StreamDesc spp = SpikeParameterStream(2, 2, "sppa0001", 7);
    spp.formatPrivate = SpikeAnalyzerBlock(unit);
    StreamDesc bsp = BurstParameterStream(2, 2, "bspa0001", 8);
    bsp.formatPrivate = BurstAnalyzerBlock(unit);
    rec.streams = {
        ElectrodeStream(2), TriggerStream("trig0001", 2), SpikeStream(2, 8, "spks0001", 3), average, params, spp, bsp};
    rec.streams[0].channels[1].hwId = 7;

    AddSampleChunks(rec, {0}, {{kStart, 3}}, 3);
    const auto chunk = [&](const char* id, std::vector<uint8_t> data) {
        rec.chunks.push_back({id, kStart, kStart + 1000000, std::move(data), {}});
    };
    chunk("trig0001", EncodeTriggers({{kStart + 100, 7, 1, 2, 3}, {kStart + 200, 8, 0, 0, 0}}, 6));
    SpikeRecord spike;
    spike.time = kStart + 300;
    spike.channel = 1;
    spike.samples = {1, 2};
    chunk("spks0001", EncodeSpikes({spike}, 8));
    chunk("mean0001", EncodeRecords(std::vector<AverageRecord>{{kStart + 400, 1, 7, 3, {5, 6, 7}, {}}}, 5));
    chunk("para0001", ParamsRecord{kStart + 500, {{32768 + 4, 11}, {32768 - 4, 12}}}.Encode(analyzer));
    chunk("sppa0001",
          EncodeRecords(std::vector<SpikeParameterRecord>{{kStart + 600, 1, 7, 2, 25, 4.5f, kStart + 650}}, 2));
    chunk("bspa0001",
          EncodeRecords(std::vector<BurstParameterRecord>{{kStart + 700, 0, 0, 1, kStart + 10, 1, 6, 2.5f}}, 2));
    return rec;
}

}  // namespace kvdtest
