// Damaged recordings through every event cursor: a recording with a stream of every kind is cut and has
// bytes overwritten at random (deterministically), then every stream is walked record by record with
// every getter. Whatever the damage, the walks end: no read outside a buffer (the sanitizer build checks
// that), no hang, no huge allocation.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "reader/KVXAStreamFile.h"
#include "streams/KVXAEvtBurstParameter.h"
#include "streams/KVXAEvtEvoked.h"
#include "streams/KVXAEvtParam.h"
#include "streams/KVXAEvtRaw.h"
#include "streams/KVXAEvtSpike.h"
#include "streams/KVXAEvtSpikeParameter.h"
#include "streams/KVXAStream.h"
#include "tests/support/AnalyzerBlocks.h"

namespace {

// Every value of the current record, summed so that nothing is optimised away.
double Touch(const CKVXAEvent& e, const CKVXAStream& stream)
{
    double sum = static_cast<double>(e.GetRawTimeStamp() % 1000);
    std::vector<int16_t> samples;
    if (const auto* r = dynamic_cast<const CKVXAEvtRaw*>(&e)) {
        samples.resize(static_cast<std::size_t>(r->GetSize() / 2));
        r->GetADDataArray(samples.data());
        sum += r->GetADData(0);
    } else if (const auto* r = dynamic_cast<const CKVXAEvtSpike*>(&e)) {
        samples.resize(static_cast<std::size_t>(std::max(r->GetCount(), 0)));
        r->GetADDataArray(samples.data());
        sum += r->GetADData(r->GetCount() - 1) + r->GetHWID() + r->GetUnitID() + r->GetPreEvent();
    } else if (const auto* r = dynamic_cast<const CKVXAEvtAverage*>(&e)) {
        samples.resize(static_cast<std::size_t>(std::max(r->GetCount(), 0)));
        r->GetADDataArray(samples.data());
        sum += r->GetADData(r->GetCount() - 1) + r->GetHWID() + r->GetTimeWindowCount();
    } else if (const auto* r = dynamic_cast<const CKVXAEvtParam*>(&e)) {
        for (int16_t c = -1; c <= stream.GetChannelCount() && c < 8; ++c) {
            std::vector<float> values;
            r->GetCArray(c, values);
            for (float v : values) sum += v;
            sum += r->GetMin(c) + r->GetNumber(c) + r->GetSlope(c);
        }
    } else if (const auto* r = dynamic_cast<const CKVXAEvtSpikeParameter*>(&e)) {
        sum += r->GetChannel() + r->Parameter(0) + r->Parameter(1) + r->Parameter(2);
    } else if (const auto* r = dynamic_cast<const CKVXAEvtBurstParameter*>(&e)) {
        sum += r->GetUnitId() + r->Parameter(0) + r->Parameter(2) + static_cast<double>(r->GetTimestampOfBurst() % 7);
    }
    for (int16_t s : samples) sum += s;
    return sum;
}

TEST(DamagedEvents, EveryWalkEnds)
{
    kvdtest::TempDir dir;
    const std::vector<uint8_t> whole = kvdtest::EveryEventKind().Encode();
    const std::string path = dir.Path("damaged.kvd");
    std::mt19937 random(20261208);
    int walked = 0;
    double sink = 0;
    for (int round = 0; round < 600; ++round) {
        std::vector<uint8_t> bytes = whole;
        if (round % 3 == 0) {
            bytes.resize(random() % bytes.size());
        } else {
            // A few bytes anywhere, or the high byte of a likely count or size.
            for (int k = 0; k < 3; ++k) {
                const std::size_t at = random() % (bytes.size() - 4);
                bytes[at + (round % 3 == 2 ? 3 : 0)] = (random() & 1) ? 0xFF : static_cast<uint8_t>(random());
            }
        }
        kvdtest::WriteFile(path, bytes);
        CKVXAStreamFile file;
        if (file.OpenFile(path.c_str()) != OK) continue;
        for (int32_t i = 0; i < file.GetStreamCount(); ++i) {
            CKVXAStream* stream = file.GetStream(i);
            if (!stream) continue;
            std::unique_ptr<CKVXAEvent> cursor(stream->GetFirstEvent());
            for (int n = 0; cursor && n < 100; ++n) {
                sink += Touch(*cursor, *stream);
                ++walked;
                if (!cursor->Next()) break;
            }
        }
    }
    EXPECT_GT(walked, 1000);
    EXPECT_EQ(sink, sink);
}

}  // namespace
