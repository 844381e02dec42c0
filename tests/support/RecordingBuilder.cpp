#include "tests/support/RecordingBuilder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace kvdtest {
namespace {

constexpr std::size_t kHeaderRecordSize = 2328;

// Writes `v` into an image at `off`, little-endian, `n` bytes.
void Put(std::vector<uint8_t>& img, std::size_t off, uint64_t v, int n)
{
    for (int i = 0; i < n; ++i) img[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutText(std::vector<uint8_t>& img, std::size_t off, const std::string& s, std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i) img[off + i] = i < s.size() ? static_cast<uint8_t>(s[i]) : 0;
}
void PutF32(std::vector<uint8_t>& img, std::size_t off, float f)
{
    uint32_t b;
    std::memcpy(&b, &f, 4);
    Put(img, off, b, 4);
}
void PutF64(std::vector<uint8_t>& img, std::size_t off, double d)
{
    uint64_t b;
    std::memcpy(&b, &d, 8);
    Put(img, off, b, 8);
}

}  // namespace

namespace {

// The header record grew by appending fields; each version that appended some, with the offset at which
// its fields start. A version's prefix ends where the fields of the next larger version in this list
// start; version 11 ends with the record. Versions 6 and 7 hold one image record, version 8 the other
// three together with the second block of channel counts.
struct HeaderGrowth {
    uint16_t firstVersion;
    std::size_t firstOffset;
};
constexpr std::size_t kImageRecords = 912;  // four image records of 320 bytes
constexpr std::size_t kImageRecordSize = 320;
constexpr HeaderGrowth kHeaderGrowth[] = {
    {0, 0},                                 // version, software version, comment, start pressed, rate
    {1, 808},                               // recording mode ... segment time
    {3, 872},                               // start time, driver version
    {5, 888},                               // start- and stop-trigger buffer ids
    {6, kImageRecords},                     // the first image record
    {8, kImageRecords + kImageRecordSize},  // three more image records, second channel block, range
    {10, 2208},                             // data source name, serial number, bus, vendor, product
    {11, 2320},                             // stimulator flag and its padding
};
constexpr uint16_t kNewestHeaderVersion = 11;

}  // namespace

std::size_t HeaderPrefixLength(uint16_t version)
{
    if (version > kNewestHeaderVersion) return 0;
    for (const HeaderGrowth& growth : kHeaderGrowth)
        if (growth.firstVersion > version) return growth.firstOffset;
    return kHeaderRecordSize;
}

std::size_t ChannelRecordLength(uint16_t fileVersion, uint16_t h)
{
    if (fileVersion <= 5) return 788;
    if (h == 0) return 792;
    if (h == 1) return 1052;
    return 1104;
}

std::vector<uint8_t> ChannelDesc::Encode(uint16_t fileVersion) const
{
    std::vector<uint8_t> img(1104, 0);
    Put(img, 0, version, 2);
    Put(img, 4, static_cast<uint32_t>(id), 4);
    Put(img, 8, static_cast<uint32_t>(hwId), 4);
    PutText(img, 12, name, 257);
    PutText(img, 269, comment, 513);
    Put(img, 784, referenceCount ? *referenceCount : static_cast<uint32_t>(references.size()), 4);
    Put(img, 788, groupId, 2);
    PutText(img, 790, decoratedName.empty() ? name : decoratedName, 257);
    Put(img, 1048, static_cast<uint32_t>(gain), 4);
    Put(img, 1052, static_cast<uint32_t>(reserved), 4);
    const int32_t tail[] = {posX,     posY,     posZ,           extentX,        extentY, diameter,
                            displayX, displayY, displayExtentX, displayExtentY, lowF,    highF};
    for (std::size_t i = 0; i < 12; ++i) Put(img, 1056 + 4 * i, static_cast<uint32_t>(tail[i]), 4);
    img.resize(ChannelRecordLength(fileVersion, version));
    ByteWriter w;
    w.Raw(img);
    for (const Ref& r : references) w.U16(r.bufferId).U16(0).I32(r.channelId);
    return w.Bytes();
}

std::vector<uint8_t> StreamDesc::Encode(uint16_t fileVersion) const
{
    const bool longHeader = fileVersion >= 5;
    std::vector<uint8_t> hdr(804, 0);
    Put(hdr, 0, headerVersion, 2);
    PutText(hdr, 2, dataType, 9);
    PutText(hdr, 11, name, 257);
    PutText(hdr, 268, comment, 513);
    Put(hdr, 782, id, 2);
    Put(hdr, 784, millisamplesPerSecond, 4);
    Put(hdr, 788, channelCount ? *channelCount : static_cast<uint32_t>(channels.size()), 4);
    PutText(hdr, 792, bufferId, 12);
    hdr.resize(longHeader ? 804 : 792);

    ByteWriter body;
    body.Raw(hdr);
    for (const ChannelDesc& c : channels) body.Raw(c.Encode(fileVersion));

    ByteWriter w;
    w.ChunkHead("STRMHDR ", body.Size()).Raw(body.Bytes());

    const std::size_t recordLength = formatVersion == 0 ? 24 : 32;
    w.ChunkHead("STRMFMT ", formatSize ? *formatSize : recordLength + formatPrivate.size());
    w.U16(formatVersion).U8(static_cast<uint8_t>(unitSign)).U8(0);
    w.U16(adBits).U16(adZero).F64(unitsPerAD);
    w.U16(bytesPerChannel).U16(defaultSamplesPerSegment).U16(defaultSegmentCount).U16(0);
    if (formatVersion != 0) w.F64(secondScale);
    w.Raw(formatPrivate);
    return w.Bytes();
}

StreamDesc ElectrodeStream(int n, const std::string& bufferId, uint16_t id)
{
    StreamDesc s;
    s.bufferId = bufferId;
    s.id = id;
    for (int i = 0; i < n; ++i) {
        ChannelDesc c;
        c.id = i;
        c.hwId = i;
        c.name = "E" + std::to_string(i + 1);
        c.posX = 200 * (i % 8);
        c.posY = 200 * (i / 8);
        s.channels.push_back(c);
    }
    return s;
}

StreamDesc TriggerStream(const std::string& bufferId, uint16_t id, const std::string& name)
{
    StreamDesc s;
    s.dataType = "trigger";
    s.name = name;
    s.bufferId = bufferId;
    s.id = id;
    s.headerVersion = 6;
    ChannelDesc c;
    c.name = "T1";
    c.hwId = 63;
    s.channels.push_back(c);
    return s;
}

StreamDesc DigitalStream(const std::string& bufferId, uint16_t id)
{
    StreamDesc s;
    s.dataType = "digital";
    s.name = "Digital Raw Data";
    s.bufferId = bufferId;
    s.id = id;
    s.adZero = 0;
    s.unitsPerAD = 1.0;
    ChannelDesc c;
    c.name = "D1";
    c.hwId = 60;
    s.channels.push_back(c);
    return s;
}

std::vector<uint8_t> ChunkDesc::Encode() const
{
    ByteWriter w;
    w.ChunkHead(id, size ? *size : 16 + data.size()).U64(from).U64(to).Raw(data);
    return w.Bytes();
}

std::vector<uint8_t> RecordingDesc::EncodeHeaderRecord() const
{
    std::vector<uint8_t> img(kHeaderRecordSize, 0);
    Put(img, 0, version, 2);
    Put(img, 4, softwareWord1, 4);
    Put(img, 8, softwareWord2, 4);
    PutText(img, 272, comment, 520);
    Put(img, 792, startPressed, 8);
    Put(img, 800, static_cast<uint32_t>(streamCount ? *streamCount : static_cast<int32_t>(streams.size())), 4);
    Put(img, 804, static_cast<uint32_t>(millisamplesPerSecond), 4);
    Put(img, 808, static_cast<uint32_t>(recordingMode), 4);
    PutF32(img, 812, preTrigger);
    PutF32(img, 816, postTrigger);
    Put(img, 820, startTriggerStreamId, 2);
    Put(img, 824, static_cast<uint32_t>(sourceType), 4);
    const uint16_t counts[] = {electrodeChannels, electrodeOffset, analogChannels, analogOffset,
                               digitalChannels,   digitalOffset,   totalChannels};
    for (std::size_t i = 0; i < 7; ++i) Put(img, 828 + 2 * i, counts[i], 2);
    Put(img, 848, stopTime, 8);
    Put(img, 856, chunkCount, 8);
    Put(img, 864, static_cast<uint32_t>(withIndex), 4);
    Put(img, 868, static_cast<uint32_t>(segmentTime), 4);
    Put(img, 872, startTime, 8);
    Put(img, 880, driverMajor, 4);
    Put(img, 884, driverMinor, 4);
    PutText(img, 888, startTriggerBufferId, 9);
    PutText(img, 897, stopTriggerBufferId, 9);
    for (std::size_t i = 0; i < images.size(); ++i) {
        const std::size_t base = kImageRecords + kImageRecordSize * i;
        for (std::size_t k = 0; k < 6; ++k) Put(img, base + 4 * k, static_cast<uint32_t>(images[i].ints[k]), 4);
        for (std::size_t k = 0; k < 4; ++k) PutF64(img, base + 24 + 8 * k, images[i].reals[k]);
        PutText(img, base + 56, images[i].path, 264);
    }
    const uint16_t counts2[] = {electrodeChannels2, electrodeOffset2, analogChannels2, analogOffset2};
    for (std::size_t i = 0; i < 4; ++i) Put(img, 2192 + 2 * i, counts2[i], 2);
    Put(img, 2200, static_cast<uint32_t>(voltageRange), 4);
    Put(img, 2204, static_cast<uint32_t>(dataSourceType), 4);
    PutText(img, 2208, dataSourceName, 80);
    PutText(img, 2288, serialNumber, 20);
    Put(img, 2308, busType, 4);
    Put(img, 2312, vendorId, 4);
    Put(img, 2316, productId, 4);
    img[2320] = stimulatorFlag;
    return img;
}

std::vector<uint8_t> RecordingDesc::EncodeHeaderSection() const
{
    std::vector<uint8_t> record = EncodeHeaderRecord();
    std::size_t prefix = HeaderPrefixLength(version);
    if (prefix == 0) prefix = kHeaderRecordSize;  // an unknown version: write the whole record
    record.resize(prefix);

    ByteWriter w;
    w.ChunkHead("KVXSTRM ", 0xFFFFFFFFFFFFFFFFULL);
    w.ChunkHead("LISThdr ", 0);  // the size is patched below
    w.ChunkHead("KVXHDR  ", kHeaderRecordSize).Raw(record);
    w.Raw(layoutChunk).Raw(stimulatorChunk);
    for (const StreamDesc& s : streams) w.Raw(s.Encode(version));
    w.PutU64At(24, w.Size() - 32);
    if (version == 0) w.ChunkHead("LISTstrm", listStrmSize);
    if (version >= 3 && writeIndexPosition) w.ChunkHead("IDX1POS ", 8).U64(indexPosition);
    return w.Bytes();
}

std::vector<uint8_t> RecordingDesc::Encode() const
{
    std::vector<uint8_t> bytes = EncodeHeaderSection();
    for (const ChunkDesc& c : chunks) {
        const std::vector<uint8_t> encoded = c.Encode();
        bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    }
    bytes.insert(bytes.end(), trailer.begin(), trailer.end());
    if (index) {
        if (indexPosition == 0 && version >= 3 && writeIndexPosition) {
            // The "IDX1POS " value is the last 8 bytes of the header section.
            const std::size_t at = EncodeHeaderSection().size() - 8;
            for (int i = 0; i < 8; ++i)
                bytes[at + i] = static_cast<uint8_t>(static_cast<uint64_t>(bytes.size()) >> (8 * i));
        }
        const std::vector<uint8_t> encoded = index->Encode();
        bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    }
    return bytes;
}

std::size_t RecordingDesc::FirstChunkPosition() const { return EncodeHeaderSection().size(); }

std::size_t RecordingDesc::ChunkPosition(std::size_t i) const
{
    std::size_t pos = FirstChunkPosition();
    for (std::size_t k = 0; k < i && k < chunks.size(); ++k) pos += 32 + chunks[k].data.size();
    return pos;
}

std::vector<uint8_t> IndexDesc::Encode() const
{
    ByteWriter w;
    w.ChunkHead(headerId, 303).U16(1).Text(path, 257).U32(streamCount);
    w.U32(itemCount ? *itemCount : static_cast<uint32_t>(items.size()));
    w.U64(items.empty() ? 0 : items.front().first).U64(items.empty() ? 0 : items.back().first);
    w.U32(sweepCount ? *sweepCount : static_cast<uint32_t>(sweeps.size()));
    w.U64(sweeps.empty() ? 0 : sweeps.front().first).U64(sweeps.empty() ? 0 : sweeps.back().second);
    w.ChunkHead("IDXIDX  ", itemsSize ? *itemsSize : 16 * items.size());
    for (const auto& item : items) w.U64(item.first).U64(item.second);
    w.ChunkHead("IDXSWEEP", sweepsSize ? *sweepsSize : 16 * sweeps.size());
    for (const auto& sweep : sweeps) w.U64(sweep.first).U64(sweep.second);
    return w.Bytes();
}

uint16_t SampleWord(std::size_t stream, int channel, uint64_t index)
{
    uint64_t x = (static_cast<uint64_t>(stream) << 56) ^ (static_cast<uint64_t>(channel) << 40) ^ index;
    x = (x ^ (x >> 31)) * 0x7FB5D329728EA185ULL;
    x = (x ^ (x >> 27)) * 0x81DADEF4BC2DD44DULL;
    return static_cast<uint16_t>(x ^ (x >> 33));
}

void AddSampleChunks(RecordingDesc& rec, const std::vector<std::size_t>& streams, const std::vector<RunDesc>& runs,
                     uint32_t samplesPerChunk)
{
    std::vector<uint64_t> next(streams.size(), 0);  // sample index of each stream
    for (const RunDesc& run : runs) {
        for (uint64_t first = 0; first < run.samples; first += samplesPerChunk) {
            const uint64_t n = std::min<uint64_t>(samplesPerChunk, run.samples - first);
            for (std::size_t k = 0; k < streams.size(); ++k) {
                const StreamDesc& s = rec.streams.at(streams[k]);
                const uint64_t nsPerSample = 1000000000000ULL / s.millisamplesPerSecond;
                const int channels = static_cast<int>(s.channels.size());
                ChunkDesc c;
                c.id = s.bufferId;
                c.from = run.from + first * nsPerSample;
                c.to = run.from + (first + n) * nsPerSample;
                ByteWriter w;
                for (uint64_t i = 0; i < n; ++i)
                    for (int ch = 0; ch < channels; ++ch) w.U16(SampleWord(streams[k], ch, next[k] + i));
                c.data = w.Bytes();
                next[k] += n;
                rec.chunks.push_back(std::move(c));
            }
        }
    }
}

IndexDesc DescribeIndex(const RecordingDesc& rec)
{
    IndexDesc index;
    index.streamCount = static_cast<uint32_t>(rec.streams.size());
    // The last stream, in stream order, that has chunks gives the sweeps.
    std::string reference;
    for (const StreamDesc& s : rec.streams)
        for (const ChunkDesc& c : rec.chunks)
            if (c.id == s.bufferId) {
                reference = s.bufferId;
                break;
            }
    std::size_t pos = rec.FirstChunkPosition();
    bool haveItem = false;
    std::size_t lastItem = 0;
    bool inSweep = false;
    for (const ChunkDesc& c : rec.chunks) {
        if (!haveItem || pos >= lastItem + 250000) {
            index.items.emplace_back(c.from, pos);
            lastItem = pos;
            haveItem = true;
        }
        if (c.id == reference) {
            if (!inSweep || c.from > index.sweeps.back().second)
                index.sweeps.emplace_back(c.from, c.to);
            else
                index.sweeps.back().second = c.to;
            inSweep = true;
        }
        pos += 32 + c.data.size();
    }
    return index;
}

void AttachIndex(RecordingDesc& rec)
{
    rec.index = DescribeIndex(rec);
    rec.withIndex = 1;
}

std::string RecordingDesc::WriteTo(const std::string& path) const
{
    WriteFile(path, Encode());
    return path;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot create " + path);
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok) throw std::runtime_error("cannot write " + path);
}

TempDir::TempDir()
{
    std::string templ = (std::filesystem::temp_directory_path() / "kvdtest-XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("cannot create a temporary folder");
    m_path = templ;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

}  // namespace kvdtest
