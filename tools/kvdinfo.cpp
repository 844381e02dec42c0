// kvdinfo: describes a recording, as a Neuroshare host through the shared object, with the reader, or
// as JSON (see PrintHelp). Without a file it writes the built-in sample recording to a temporary folder
// and describes that.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <getopt.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "layout/KVLayout.h"
#include "reader/KVXAStreamFile.h"
#include "settings/KVXAInfoAverage.h"
#include "settings/KVXAInfoBurstParameter.h"
#include "settings/KVXAInfoChannelTool.h"
#include "settings/KVXAInfoFilter.h"
#include "settings/KVXAInfoParam.h"
#include "settings/KVXAInfoSpike.h"
#include "settings/KVXAInfoSpikeParameter.h"
#include "settings/KVXAInfoTrigger.h"
#include "settings/MGrid9StimulatorProperty.h"
#include "streams/KVXAEvent.h"
#include "streams/KVXAEvtBurstParameter.h"
#include "streams/KVXAEvtEvoked.h"
#include "streams/KVXAEvtParam.h"
#include "streams/KVXAEvtRaw.h"
#include "streams/KVXAEvtSpike.h"
#include "streams/KVXAEvtSpikeParameter.h"
#include "streams/KVXAEvtTrigger.h"
#include "streams/KVXAStream.h"
#include "api/LastError.h"
#include "tools/CommandLine.h"
#include "tools/NeuroshareHost.h"
#include "api/RecordingJson.h"
#include "tools/SampleRecording.h"

namespace {

const char kTool[] = "kvdinfo";

void PrintHelp()
{
    std::printf(
        "usage: kvdinfo [--entity N] [--lib LIBRARY] [FILE.kvd]\n"
        "       kvdinfo --reader [--layout] [--events N] [--frames N] [FILE.kvd]\n"
        "       kvdinfo --json [--events N] [--frames N] [FILE.kvd]\n"
        "Describes a recording; without FILE the built-in sample recording (2 s, written to a temporary\n"
        "folder). By default as a Neuroshare host: loads the library by its name with dlopen and prints the\n"
        "library, the file and a table of every entity.\n"
        "\n"
        "  -e, --entity N    also print the first items of entity N\n"
        "      --lib LIBRARY the library to load: a name the dynamic loader searches, or a path\n"
        "                    (default nsKVDLibrary.so.1)\n"
        "  -r, --reader      describe the recording with the reader instead: header, streams, channels,\n"
        "                    settings blocks, the first records of every event stream, stimulator settings\n"
        "  -l, --layout      with --reader, also the electrode layout (implies --reader)\n"
        "      --json        the reader's view as one JSON document\n"
        "      --events N    with --reader or --json, the first N records of every event stream\n"
        "                    (default 5 in text, 10 in JSON)\n"
        "      --frames N    with --reader or --json, the first N sample frames of continuous streams\n"
        "                    (default none)\n"
        "  -h, --help        show this help and exit\n"
        "  -V, --version     show the version and exit\n"
        "Exit status: 0 described, 1 the recording or the library could not be read, 2 wrong usage.\n");
}

// Opens the recording with the reader; on failure says why on standard error and returns false.
bool OpenWithReader(CKVXAStreamFile& file, const std::string& path)
{
    errno = 0;
    const int result = file.OpenFile(path.c_str());
    if (result == OK) return true;
    kvdtool::Failure(kTool, OpenFailureText(path.c_str(), result, errno));
    return false;
}

const char* RecordingModeText(int32_t mode)
{
    switch (mode) {
    case 0: return "continuous";
    case 1: return "sweeps started by a trigger";
    case 2: return "sweeps started and stopped by triggers";
    default: return "unknown";
    }
}

// ---- Information blocks, one printer per block class ----

void PrintTrigger(const CKVXAInfoTrigger& trig)
{
    std::printf("  detector: input %s, channel %d, %s, level %d uV, slope %d, dead time %d%s\n",
                trig.GetInputBufferID(), trig.GetChannel(),
                trig.IsDigitalTrigger()     ? "digital"
                : trig.IsParameterTrigger() ? "parameter"
                                            : "analog",
                trig.GetLevel(), trig.GetSlope(), trig.GetDeadTime(),
                trig.TrialSynchronization() ? ", trial synchronization" : "");
    if (trig.IsParameterTrigger()) std::printf("  parameter %s [%s]\n", trig.GetParameter(), trig.GetParameterUnit());
}

void PrintFilter(const CKVXAInfoFilter& f)
{
    std::printf("  filter: %s, %s", f.GetFilterName().c_str(), f.GetPassTypeAsString().c_str());
    const auto& names = f.GetParameterNames();
    const auto& units = f.GetParameterUnits();
    const auto& values = f.GetParameterValues();
    for (std::size_t i = 0; i < values.size(); ++i)
        std::printf(", %s %g %s", i < names.size() ? names[i].c_str() : "value", values[i],
                    i < units.size() ? units[i].c_str() : "");
    std::printf("\n");
    if (f.IsSavitzkyGolayFilter())
        std::printf("  Savitzky-Golay: order %d, %lld points (%d left), %zu coefficients\n", f.GetSGOrder(),
                    static_cast<long long>(f.GetSGNumSamples()), f.GetSGNumDataPointsLeft(),
                    f.GetSGCoeff().m_Coeff.size());
    if (f.GetFilterType() == FILTER_BANDSTOP_RESONATOR)
        std::printf("  band stop: centre %g Hz, Q %g\n", f.GetCenterFrequency(), f.GetQFactor());
    if (f.IsDownsamplingEnabled()) std::printf("  downsampling to %d Hz\n", f.GetDownsamplingFrequency());
}

void PrintSpike(const CKVXAInfoSpike& info)
{
    const CMSpikeProperty& p = info.GetSpikeProperty();
    std::printf("  detector: input %s, detect method %d, sort method %d, cut-out %d, std-dev factor %g\n",
                info.GetInputBufferID(), info.GetDetectMethod(), info.GetSortMethod(), p.GetCutOutType(),
                p.GetStdDevFactor());
    std::printf("  pre-trigger %.3f ms, post-trigger %.3f ms, dead time %.3f ms\n", info.GetPreTrigger_us() / 1e3,
                info.GetPostTrigger_us() / 1e3, info.GetDeadTime_us() / 1e3);
    // One line per run of consecutive hardware IDs with the same settings.
    std::string last;
    int first = -1, previous = -1;
    const auto flush = [&] {
        if (first < 0) return;
        if (first == previous)
            std::printf("    hardware ID  %3d       %s\n", first, last.c_str());
        else
            std::printf("    hardware IDs %3d - %3d %s\n", first, previous, last.c_str());
    };
    for (const auto& entry : p.GetChannels()) {
        const CMSpikeChInfo& c = entry.second;
        char text[160];
        std::snprintf(text, sizeof text, "group %u  threshold %.2f uV  slope %d  delta %.2f uV  %g..%g  %d units",
                      c.GetChGroupID(), c.GetThresholdLevel() * 1e6, c.GetThresholdSlope(), c.GetSlopeDeltaV() * 1e6,
                      c.GetSlopeMin(), c.GetSlopeMax(), c.GetSpikeUnitCount());
        std::string line = text;
        for (const auto& u : c.GetUnits()) {
            std::snprintf(text, sizeof text, " [%u: %g ms, %g..%g uV]", u.first, u.second.GetWndTime() * 1e3,
                          u.second.GetWndMin() * 1e6, u.second.GetWndMax() * 1e6);
            line += text;
        }
        const int hwid = entry.first;
        if (line != last || hwid != previous + 1) {
            flush();
            first = hwid;
            last = line;
        }
        previous = hwid;
    }
    flush();
}

void PrintAverage(const CKVXAInfoAverage& a)
{
    std::printf("  averaging: trigger %s, window from %g extending %g, at most %d windows\n", a.GetTriggerBufferID(),
                a.GetTimeWindowStartTime(), a.GetTimeWindowWindowExtend(), a.GetMaxTimeWindowCount());
}

void PrintChannelTool(const CKVXAInfoChannelTool& t)
{
    std::printf("  channel tool: input %s, reference channel %s\n", t.InputBufferName().c_str(),
                t.RefChannelName().c_str());
}

// The unit of an analyzer parameter with its decimal prefix ("ms", "Hz", "uV").
std::string UnitOf(const AnalyzerParams& p)
{
    std::string unit;
    CUnitType(p.m_iUnitType).GetUnitString(unit, p.m_iExponent);
    // The micro sign is stored as the ISO 8859-1 byte.
    for (char& c : unit)
        if (c == '\xB5') c = 'u';
    return unit;
}

// A parameter value, stored in its unit's basic power of ten, in the parameter's own unit (UnitOf).
double Shown(const AnalyzerParams& p, float value)
{
    return value * p.m_dFactor / std::pow(10.0, p.m_iExponent - CUnitType(p.m_iUnitType).GetBasicExponent());
}

void PrintParam(const CKVXAInfoParam& info)
{
    std::printf(
        "  analyzer: input %s, %d time windows, window choice %d from %g to %g, triggers %u and %u,"
        " %u bytes a channel\n",
        info.InputBufferName(), info.NumTimeWindows(), info.TimeWindowChoice(), info.TimeWindowTime1(),
        info.TimeWindowTime2(), info.TimeWindowStartTriggerID(), info.TimeWindowStopTriggerID(), info.GetChannelSize());
    for (int32_t i = 0; i < kAnalyzerParamCount; ++i) {
        const AnalyzerParams& p = info.GetParams()[static_cast<std::size_t>(i)];
        if (info.Position(i) < 0) continue;
        std::printf("    %-14s at %2d, %d bytes, in %s (factor %g), display %g..%g\n", p.m_strName.c_str(),
                    info.Position(i), info.GetAnalyzerProperty().GetWidth(i), UnitOf(p).c_str(), p.m_dFactor, p.m_fMin,
                    p.m_fMax);
    }
}

template <typename Info>
void PrintUnitAnalyzer(const char* what, const Info& info)
{
    std::printf("  %s analyzer: input %s, unit sort method %d, units", what, info.InputBufferName(),
                info.UnitSortMethod());
    for (int32_t u = 0; u < info.UnitCount(); ++u)
        if (info.UnitSelected(u)) std::printf(" %d", u);
    std::printf("\n");
    for (int32_t i = 0; i < info.ParameterCount(); ++i) {
        const AnalyzerParams& p = info.GetProperty().Params()[static_cast<std::size_t>(i)];
        std::printf("    %-16s %s, in %s (factor %g)\n", info.ParameterName(i),
                    info.ParameterSelected(i) ? "selected" : "not selected", UnitOf(p).c_str(),
                    info.ParameterFactor(i));
    }
}

// The stream's information block, for the types that have one.
void PrintInfo(const CKVXAStream& stream)
{
    const KVXAStreamKind kind = stream.GetKind();
    if (kind == KVXAStreamKind::Unknown || kind == KVXAStreamKind::Analog || kind == KVXAStreamKind::Digital) return;
    const std::unique_ptr<CKVXAInfo> info(stream.GetInfo());
    if (const auto* b = dynamic_cast<const CKVXAInfoTrigger*>(info.get()))
        PrintTrigger(*b);
    else if (const auto* b = dynamic_cast<const CKVXAInfoFilter*>(info.get()))
        PrintFilter(*b);
    else if (const auto* b = dynamic_cast<const CKVXAInfoSpike*>(info.get()))
        PrintSpike(*b);
    else if (const auto* b = dynamic_cast<const CKVXAInfoAverage*>(info.get()))
        PrintAverage(*b);
    else if (const auto* b = dynamic_cast<const CKVXAInfoChannelTool*>(info.get()))
        PrintChannelTool(*b);
    else if (const auto* b = dynamic_cast<const CKVXAInfoParam*>(info.get()))
        PrintParam(*b);
    else if (const auto* b = dynamic_cast<const CKVXAInfoSpikeParameter*>(info.get()))
        PrintUnitAnalyzer("spike", *b);
    else if (const auto* b = dynamic_cast<const CKVXAInfoBurstParameter*>(info.get()))
        PrintUnitAnalyzer("burst", *b);
    else if (!info)
        std::printf("  settings: none readable\n");
}

// ---- Records, one printer per cursor class ----

// At most the first kShownSamples of `n` sample words, less the AD zero, then "..." for the rest.
template <typename Word>
void PrintSamples(const CKVXAStream& stream, int32_t n, Word word)
{
    constexpr int32_t kShownSamples = 8;
    for (int32_t i = 0; i < n && i < kShownSamples; ++i)
        std::printf(" %d", static_cast<int>(static_cast<uint16_t>(word(i))) - stream.GetADZero());
    std::printf("%s\n", n > kShownSamples ? " ..." : "");
}

void PrintFrame(const CKVXAEvtRaw& frame, const CKVXAStream& stream)
{
    std::printf("  %d channels:", frame.GetSize() / 2);
    PrintSamples(stream, frame.GetSize() / 2, [&](int32_t i) { return frame.GetADData(static_cast<int16_t>(i)); });
}

void PrintTriggerEvent(const CKVXAEvtTrigger& trig)
{
    std::printf("  value %u  manual %d  trial %d  stimulus %d\n", trig.GetADData(), trig.GetManualTriggerCount(),
                trig.GetTrialNumber(), trig.GetStimulusNumber());
}

void PrintSpikeEvent(const CKVXAEvtSpike& spike, const CKVXAStream& stream)
{
    std::printf("  channel %3u  unit %u  %d samples:", spike.GetChannel(), spike.GetUnitID(), spike.GetCount());
    PrintSamples(stream, spike.GetCount(), [&](int32_t i) { return spike.GetADData(i); });
}

void PrintAverageEvent(const CKVXAEvtAverage& avg, const CKVXAStream& stream)
{
    std::printf("  channel %3u  hardware ID %u  %u windows  %d samples:", avg.GetChannel(), avg.GetHWID(),
                avg.GetTimeWindowCount(), avg.GetCount());
    PrintSamples(stream, avg.GetCount(), [&](int32_t i) { return avg.GetADData(i); });
}

// The three parameters of a spike- or burst-parameter record, with the names and units of the stream's block.
template <typename Info, typename Record>
void PrintParameters(const Info* info, const Record& record)
{
    for (uint32_t i = 0; i < 3; ++i) {
        if (!info) {
            std::printf("  parameter %u %g", i, record.Parameter(i));
            continue;
        }
        const AnalyzerParams& p = info->GetProperty().Params()[i];
        std::printf("  %s %g %s", p.m_strName.c_str(), Shown(p, record.Parameter(i)), UnitOf(p).c_str());
    }
    std::printf("\n");
}

void PrintSpikeParameterEvent(const CKVXAEvtSpikeParameter& spp, const CKVXAInfoSpikeParameter* info)
{
    std::printf("  channel %3u  unit %u ", spp.GetChannel(), spp.GetUnitId());
    PrintParameters(info, spp);
}

void PrintBurstParameterEvent(const CKVXAEvtBurstParameter& bsp, const CKVXAInfoBurstParameter* info)
{
    std::printf("  channel %3u  unit %u  burst at %llu ns ", bsp.GetChannel(), bsp.GetUnitId(),
                static_cast<unsigned long long>(bsp.GetTimestampOfBurst()));
    PrintParameters(info, bsp);
}

void PrintParamEvent(const CKVXAEvtParam& param, const CKVXAStream& stream)
{
    // The values of the first channels, each with its name and unit.
    constexpr int32_t kShownChannels = 4;
    const CKVXAInfoParam* info = param.GetInfo();
    std::printf("\n");
    for (int32_t c = 0; c < stream.GetChannelCount() && c < kShownChannels; ++c) {
        std::vector<float> values;
        param.GetCArray(static_cast<int16_t>(c), values);
        std::printf("      channel %d:", c);
        for (int32_t i = 0, k = 0; info && i < kAnalyzerParamCount; ++i) {
            if (!info->GetParams()[static_cast<std::size_t>(i)].m_bSelected || k >= static_cast<int32_t>(values.size()))
                continue;
            const AnalyzerParams& p = info->GetParams()[static_cast<std::size_t>(i)];
            std::printf("  %s %g %s", p.m_strName.c_str(), Shown(p, values[static_cast<std::size_t>(k++)]),
                        UnitOf(p).c_str());
        }
        std::printf("\n");
    }
    if (stream.GetChannelCount() > kShownChannels)
        std::printf("      ... %d channels in all\n", stream.GetChannelCount());
}

// The first records of an event stream with their number, or the first `frames` frames of a continuous
// stream.
void PrintEvents(CKVXAStream& stream, int32_t shown, int32_t frames)
{
    const bool raw = stream.HasRawData();
    if (raw) shown = frames;
    if (shown <= 0 && raw) return;
    std::unique_ptr<CKVXAInfo> info(stream.GetInfo());
    std::unique_ptr<CKVXAEvent> cursor(stream.GetFirstEvent());
    long count = 0;
    for (; cursor; ++count) {
        if (count < shown) {
            const double t = cursor->GetSecondFromStart() + cursor->GetMillisecondFromStart() / 1e3 +
                             cursor->GetMicrosecondFromStart() / 1e6 + cursor->GetNanosecondFromStart() / 1e9;
            std::printf("    %12.6f s", t);
            const CKVXAEvent* e = cursor.get();
            if (const auto* r = dynamic_cast<const CKVXAEvtRaw*>(e))
                PrintFrame(*r, stream);
            else if (const auto* r = dynamic_cast<const CKVXAEvtTrigger*>(e))
                PrintTriggerEvent(*r);
            else if (const auto* r = dynamic_cast<const CKVXAEvtSpike*>(e))
                PrintSpikeEvent(*r, stream);
            else if (const auto* r = dynamic_cast<const CKVXAEvtAverage*>(e))
                PrintAverageEvent(*r, stream);
            else if (const auto* r = dynamic_cast<const CKVXAEvtParam*>(e))
                PrintParamEvent(*r, stream);
            else if (const auto* r = dynamic_cast<const CKVXAEvtSpikeParameter*>(e))
                PrintSpikeParameterEvent(*r, dynamic_cast<const CKVXAInfoSpikeParameter*>(info.get()));
            else if (const auto* r = dynamic_cast<const CKVXAEvtBurstParameter*>(e))
                PrintBurstParameterEvent(*r, dynamic_cast<const CKVXAInfoBurstParameter*>(info.get()));
            else
                std::printf("\n");
        } else if (raw) {
            // Frames are not counted: that would read the whole stream.
            return;
        }
        if (!cursor->Next()) cursor.reset();
    }
    if (!raw) std::printf("  %ld records%s\n", count, count > shown && shown > 0 ? " (the first shown above)" : "");
}

void PrintRecording(CKVXAStreamFile& file, int32_t shown, int32_t frames)
{
    const uint32_t sw1 = file.GetSoftwareVersionMajor(), sw2 = file.GetSoftwareVersionMinor();
    std::printf("header version   %d\n", file.GetHeaderVersion());
    std::printf("writer version   %u.%u.%u.%u\n", sw1 >> 16, sw1 & 0xFFFF, sw2 >> 16, sw2 & 0xFFFF);
    std::printf("recorded         %04u-%02u-%02u %02u:%02u:%02u.%03u%03u%03u UTC\n", file.GetYear(), file.GetMonth(),
                file.GetDay(), file.GetHour(), file.GetMinute(), file.GetSecond(), file.GetMillisecond(),
                file.GetMicrosecond(), file.GetNanosecond());
    CKVXATimeStamp* stop = file.GetStopTime();
    std::printf("duration         %d.%03d s\n", stop->GetSecondFromStart(), stop->GetMillisecondFromStart());
    std::printf("sample rate      %.3f Hz\n", file.GetMillisamplesPerSecond() / 1000.0);
    std::printf("channels         %u electrode (+%u), %u analog (+%u), %u digital, %u in all\n",
                file.GetElectrodeChannels(), file.GetElectrodeChannels2(), file.GetAnalogChannels(),
                file.GetAnalogChannels2(), file.GetDigitalChannels(), file.GetTotalChannels());
    std::printf("source type      %d\n", file.GetSourceType());
    std::printf("recording mode   %d (%s)\n", file.GetRecordingMode(), RecordingModeText(file.GetRecordingMode()));
    if (file.GetRecordingMode() != 0)
        std::printf("sweep            pre-trigger %d ms, post-trigger %d ms\n", file.GetPreTriggerTime(),
                    file.GetPostTriggerTime());
    std::printf("comment          %s\n", file.GetComment());
    std::printf("embedded index   %s\n", file.GetWithIndex() ? "yes" : "no");
    std::printf("streams          %d\n", file.GetStreamCount());

    for (int32_t i = 0; i < file.GetStreamCount(); ++i) {
        const CKVXAStream* s = file.GetStream(i);
        if (!s) continue;
        std::printf("\nstream %d: %s \"%s\"\n", i, s->GetDataType(), s->GetName());
        std::printf("  buffer ID %s, data chunk id %s, stream ID %d, header version %d\n", s->GetBufferID(),
                    s->GetDataChunkID(), s->GetID(), s->GetHeaderVersion());
        std::printf("  sample rate %.3f Hz, AD zero %u, %g units per AD step ('%c'), %d channels\n",
                    s->GetMilliSamplesPerSecond() / 1000.0, s->GetADZero(), s->GetUnitsPerAD(),
                    s->GetUnitSign() ? s->GetUnitSign() : ' ', s->GetChannelCount());
        for (int32_t c = 0; c < s->GetChannelCount() && c < 32767; ++c) {
            const CKVXAChannel* ch = s->GetChannel(static_cast<int16_t>(c));
            if (ch) std::printf("    channel ID %3d  hardware ID %3d  %s\n", ch->GetID(), ch->GetHWID(), ch->GetName());
        }
        PrintInfo(*s);
        if (CKVXAStream* events = file.GetStream(i)) PrintEvents(*events, shown, frames);
    }
}

void PrintLayout(const CKVLayout& layout)
{
    std::printf("\nlayout: source type %d, %d channels (%d electrode, %d analog, %d digital)\n", layout.GetSourceType(),
                layout.GetCount(), layout.GetElectrodeChannels(), layout.GetAnalogChannels(),
                layout.GetDigitalChannels());
    std::printf("  hwid  name      kind  MEA  name of MEA   x um     y um\n");
    for (int i = 0; i < layout.GetCount(); ++i) {
        int32_t x, y, z;
        layout.GetElectrodePoint(i, x, y, z);
        std::printf("  %4d  %-8s  %-4s  %3d  %-12s  %6d  %6d\n", i, layout.GetDecoratedElectrodeName(i).c_str(),
                    layout.GetMeaSubTypeAsString(i), layout.GetMeaNumber(i), layout.GetMeaName(i).c_str(), x, y);
    }
}

void PrintStimulator(const CMGrid9StimulatorProperty& stim)
{
    std::printf(
        "\nstimulator: mode %d, %d channels, %d sync, %d trigger, DAC %u bits offset %d, blanking %s,"
        " dedicated electrodes %s\n",
        stim.GetMode(), stim.GetChannelNumber(), stim.GetSyncNumber(), stim.GetTriggerNumber(), stim.GetDacResolution(),
        stim.GetDacOffset(), stim.GetBlanking() ? "on" : "off",
        stim.GetDedicatedStimulationElectrodes() ? "yes" : "no");
    std::printf("  range %d uV in %d uV steps, %d nA in %d nA steps\n", stim.GetVoltageRangeInMicroVolt(),
                stim.GetVoltageResolutionInMicroVolt(), stim.GetCurrentRangeInNanoAmp(),
                stim.GetCurrentResolutionInNanoAmp());
    for (int i = 0; i < CMGrid9StimulatorProperty::NumberOfGrid9Stimuli; ++i)
        std::printf(
            "  stimulus %d: pre %d, A1 %d, T1 %d, A2 %d, T2 %d, IPI %d, pulses %d, IBI %d, bursts %d,"
            " repeat mode %d, trigger type %d source %d\n",
            i + 1, stim.GetPre(i), stim.GetA1(i), stim.GetT1(i), stim.GetA2(i), stim.GetT2(i), stim.GetIPI(i),
            stim.GetPulseRepeat(i), stim.GetIBI(i), stim.GetBurstRepeat(i), stim.GetRepeatMode(i),
            stim.GetTriggerType(i), stim.GetTriggerSource(i));
    if (stim.GetUseAsciiFile()) std::printf("  stimuli from %s\n", stim.GetAsciiPathFileName().c_str());
    for (const auto& entry : stim.GetListModeEntries())
        std::printf("  list \"%s\": %zu groups\n", entry.first.c_str(), entry.second.size());
}

// The reader's view of the recording; the exit status.
int DescribeWithReader(const std::string& path, bool showLayout, int32_t shown, int32_t frames)
{
    CKVXAStreamFile file;
    if (!OpenWithReader(file, path)) return kvdtool::kExitFailure;
    std::printf("file             %s\n", path.c_str());
    PrintRecording(file, shown, frames);
    const KVXHDR* hdr = file.GetKVXHDR();
    if (hdr && hdr->U8(KVXHDR::kStimulatorFlag) != 0 && file.GetStimulatorProperty())
        PrintStimulator(*file.GetStimulatorProperty());
    if (showLayout && file.GetLayout()) PrintLayout(*file.GetLayout());
    return 0;
}

// The reader's view as one JSON document on standard output; the exit status.
int DescribeAsJson(const std::string& path, const kvdjson::EventCounts& counts)
{
    CKVXAStreamFile file;
    if (!OpenWithReader(file, path)) return kvdtool::kExitFailure;
    const std::string text = kvdjson::Dump(kvdjson::RecordingJson(file, counts));
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    return 0;
}

// The host's view through the shared object; the exit status.
int DescribeAsHost(const std::string& library, const std::string& path, int64_t entity)
{
    NeuroshareHost host;
    std::string error;
    if (!host.Load(library, error)) return kvdtool::Failure(kTool, "cannot load " + library + ": " + error);
    if (const ns_RESULT result = host.Open(path); result != ns_OK)
        return kvdtool::Failure(kTool, host.LastError(result));
    if (entity >= 0 && !host.HasEntity(static_cast<uint32_t>(entity)))
        return kvdtool::Failure(kTool, path + ": " + host.LastError(ns_BADENTITY));
    host.PrintLibrary();
    host.PrintFile(path);
    if (entity >= 0) host.PrintItems(static_cast<uint32_t>(entity), 10);
    return kvdtool::kExitSuccess;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string path;
    std::string library = "nsKVDLibrary.so.1";
    std::string sampleDir;
    bool reader = false, showLayout = false, asJson = false;
    int64_t entity = -1;
    int64_t events = -1, frames = 0;
    enum { OPT_JSON = 256, OPT_LIB, OPT_EVENTS, OPT_FRAMES };
    static const option kOptions[] = {
        {"reader", no_argument, nullptr, 'r'},
        {"layout", no_argument, nullptr, 'l'},
        {"json", no_argument, nullptr, OPT_JSON},
        {"entity", required_argument, nullptr, 'e'},
        {"lib", required_argument, nullptr, OPT_LIB},
        {"events", required_argument, nullptr, OPT_EVENTS},
        {"frames", required_argument, nullptr, OPT_FRAMES},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, ":rle:hV", kOptions, nullptr)) != -1;) {
        switch (c) {
        case 'r': reader = true; break;
        case 'l': reader = showLayout = true; break;
        case OPT_JSON: asJson = true; break;
        case 'e':
            if (!kvdtool::ParseInteger(optarg, 0, UINT32_MAX, entity))
                return kvdtool::UsageError(
                    kTool, "--entity takes an entity number from 0 to 4294967295, not '" + std::string(optarg) + "'");
            break;
        case OPT_LIB: library = optarg; break;
        case OPT_EVENTS:
        case OPT_FRAMES:
            if (!kvdtool::ParseInteger(optarg, 0, 1000000, c == OPT_EVENTS ? events : frames))
                return kvdtool::UsageError(kTool, std::string(c == OPT_EVENTS ? "--events" : "--frames") +
                                                      " takes a count from 0 to 1000000, not '" + optarg + "'");
            break;
        case 'h': PrintHelp(); return kvdtool::kExitSuccess;
        case 'V': kvdtool::PrintVersion(kTool); return kvdtool::kExitSuccess;
        default: return kvdtool::OptionError(kTool, c, argv);
        }
    }
    if (argc - optind > 1) return kvdtool::UsageError(kTool, "give one FILE.kvd, or none for the built-in sample");
    if (asJson && (reader || entity >= 0))
        return kvdtool::UsageError(kTool, "--json goes with neither --reader, --layout nor --entity");
    if (reader && entity >= 0) return kvdtool::UsageError(kTool, "--entity goes with the host's view, not --reader");
    if ((events >= 0 || frames > 0) && !asJson && !reader)
        return kvdtool::UsageError(kTool, "--events and --frames go with --reader or --json");
    if (optind < argc) path = argv[optind];
    if (path.empty()) {
        char templ[] = "/tmp/kvdinfo-XXXXXX";
        if (!mkdtemp(templ))
            return kvdtool::Failure(kTool, std::string("cannot make a temporary folder: ") + std::strerror(errno));
        sampleDir = templ;
        path = sampleDir + "/sample.kvd";
        try {
            kvdsample::Options options;
            options.seconds = 2.0;
            options.filterStream = true;
            options.detectorSettings = true;
            options.averageStream = true;
            options.spikeParameterStream = true;
            kvdsample::WriteSampleRecording(path, options);
        } catch (const std::exception& e) {
            rmdir(sampleDir.c_str());
            return kvdtool::Failure(kTool, "cannot write the built-in sample recording " + path + ": " + e.what());
        }
        if (!asJson)
            std::printf(
                "built-in sample recording (2 s, written by kvdsynth --filter --detector --average"
                " --spike-parameters)\n");
    }

    kvdjson::EventCounts counts;
    counts.events = static_cast<int32_t>(events >= 0 ? events : asJson ? 10 : 5);
    counts.frames = static_cast<int32_t>(frames);
    const int status = asJson   ? DescribeAsJson(path, counts)
                       : reader ? DescribeWithReader(path, showLayout, counts.events, counts.frames)
                                : DescribeAsHost(library, path, entity);
    if (!sampleDir.empty()) {
        std::remove(path.c_str());
        rmdir(sampleDir.c_str());
    }
    return status;
}
