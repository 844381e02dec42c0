// Event cursor over the sample frames of a continuous stream ("analog", "digital", "chat", "filter"): each
// step is one frame, the 16-bit samples of all K channels taken at one sample time, in channel-list order.
// Frames carry no time stamps: a chunk's first frame lies at the chunk's from-time and every further frame
// one frame step later. The frame step is the sample period in whole microseconds (25 kHz: 40 000 ns,
// 30 kHz: 33 000 ns), as the recording application counts it.
//
// Unlike the record cursors, a raw cursor keeps one data buffer for its whole walk and reuses it for every
// following chunk of the same size.
#pragma once

#include <cstdint>

#include "streams/KVXAEvent.h"

class CKVXAEvtRaw : public CKVXAEvent {
public:
    CKVXAEvtRaw() = default;
    // Copies the position and data (see CKVXAEvent), the time stamp with its start reference.
    CKVXAEvtRaw& operator=(const CKVXAEvtRaw& other)
    {
        CKVXAEvent::operator=(other);
        return *this;
    }

    // The first frame of the data; false when the data holds no whole frame.
    bool Read() override;
    // The next frame of the chunk, else the first frame of the stream's next chunk that holds one.
    bool ReadNext() override;
    // Frames carry no time stamps: nothing to change.
    void ChangeTimestamp(uint64_t delta) override { (void)delta; }
    bool HasEventTimeData() const override { return false; }
    // Bytes of a frame (2 x channel count); 0 when the stream has no channels or a frame would not fit 31 bits.
    int32_t GetSize() const override;

    // Nanoseconds from one frame to the next: (1e9 / millisamples per second) x 1000, the division
    // truncating; 0 for a stream without a sample rate.
    uint64_t GetFrameStep() const;
    // The current frame's sample of the channel at list index `channel`; 0 outside 0 ... K-1.
    int16_t GetADData(int16_t channel) const;
    // Copies the K samples of the current frame into `destination`, which must hold K values.
    bool GetADDataArray(int16_t* destination) const;

private:
    // Makes the stream's next chunk that holds a whole frame the cursor's chunk and reads its data into the
    // cursor's buffer; false when there is none or its data cannot be read. A buffer that cannot be had
    // throws std::bad_alloc and leaves the cursor its old buffer.
    bool LoadNextChunk();
};
