#include "tests/support/StimulatorChunkBuilder.h"

#include "tests/support/ByteWriter.h"

namespace kvdtest {

namespace {

void PutGroup(ByteWriter& w, const StimulusGroupDesc& g)
{
    w.Text(g.name, 8).U32(g.pairCount ? *g.pairCount : static_cast<uint32_t>(g.pairs.size()));
    for (const auto& p : g.pairs) w.U16(p.first).U16(p.second);
}

}  // namespace

std::vector<uint8_t> StimulatorChunkDesc::Encode() const
{
    ByteWriter w;
    w.Id(id).I32(version);
    if (version < 5) {
        const std::vector<StimulusGroupDesc> none;
        const auto& groups = entries.empty() ? none : entries.front().groups;
        w.U32(entryCount ? *entryCount : static_cast<uint32_t>(groups.size()));
        for (const auto& g : groups) PutGroup(w, g);
    } else {
        w.U32(entryCount ? *entryCount : static_cast<uint32_t>(entries.size()));
        for (const auto& e : entries) {
            w.U32(static_cast<uint32_t>(e.name.size())).Raw(e.name.data(), e.name.size());
            w.U32(static_cast<uint32_t>(e.groups.size()));
            for (const auto& g : e.groups) PutGroup(w, g);
        }
    }
    w.U32(stimulusCount);
    for (const StimulusDesc& s : stimuli) {
        w.I32(s.pre).I32(s.a1).I32(s.t1).I32(s.a2).I32(s.t2).I32(s.ipi).I32(s.pulseRepeat).I32(s.ibi);
        w.I32(s.burstRepeat);
        if (version >= 3) w.U32(s.repeatMode);
        if (version >= 2) w.U32(s.triggerType).U32(s.triggerSource);
    }
    w.I32(voltageRange).I32(voltageResolution).I32(currentRange).I32(currentResolution).I32(dacResolution);
    w.I32(dacOffset).I32(channelNumber).I32(syncNumber).I32(triggerNumber);
    w.U32(mode).U8(blanking);
    if (version >= 6) {
        w.U8(useAsciiFile).U32(static_cast<uint32_t>(asciiPath.size())).Raw(asciiPath.data(), asciiPath.size());
    }
    if (version >= 7) w.U8(dedicatedElectrodes);
    return w.Bytes();
}

}  // namespace kvdtest
