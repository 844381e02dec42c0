// Event cursor over the records of a "params" stream: per analyzed event its time and, for each of the
// stream's K channels, a block of S bytes holding the waveform parameters the analyzer recorded (S and the
// parameters come from the stream's information block, CKVXAInfoParam). Record: u64 time stamp, then K x S
// bytes.
//
// A stream whose information block cannot be built, or whose parameter table does not fit its S bytes,
// yields no cursor.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "settings/MIAnalyzerProperty.h"
#include "streams/KVXAEvent.h"

class CKVXAInfoParam;

class CKVXAEvtParam : public CKVXAEvent {
public:
    // The value of a parameter the stream does not record, or of a channel it does not have.
    static constexpr float kNoValue = 3.40282347e38f;

    CKVXAEvtParam();
    ~CKVXAEvtParam() override;
    // Copies the position and data (see CKVXAEvent), shares the information block and points at the same
    // record.
    CKVXAEvtParam& operator=(const CKVXAEvtParam& other);

    // Obtains the stream's information block (once per cursor) and decodes the first record.
    bool Read() override;
    bool ReadNext() override { return ReadFollowingRecord(); }
    // Bytes of a record after its time stamp: S x K; 0 when that does not fit 31 bits.
    int32_t GetSize() const override;

    // The parameter values of the channel at list index `channel` in physical units, in index order (see
    // CMGenericParameterEventDataIterator::GetRealWorldData); false for a channel outside the stream.
    bool GetCArray(int16_t channel, std::vector<float>& values) const;
    // The same values copied into `values`, which must hold one float per recorded parameter.
    bool GetDataArray(int16_t channel, float* values) const;

    // The named parameters of a channel; kNoValue when the stream does not record the parameter.
    float GetMin(int16_t channel) const { return ValueOf(channel, kParamMin); }
    float GetMax(int16_t channel) const { return ValueOf(channel, kParamMax); }
    float GetTmin(int16_t channel) const { return ValueOf(channel, kParamTMin); }
    float GetTmax(int16_t channel) const { return ValueOf(channel, kParamTMax); }
    float GetHeight(int16_t channel) const { return ValueOf(channel, kParamHeight); }
    float GetWidth(int16_t channel) const { return ValueOf(channel, kParamWidth); }
    float GetAmplitude(int16_t channel) const { return ValueOf(channel, kParamAmplitude); }
    float GetArea(int16_t channel) const { return ValueOf(channel, kParamArea); }
    float GetNumber(int16_t channel) const { return ValueOf(channel, kParamNumber); }
    float GetRate(int16_t channel) const { return ValueOf(channel, kParamRate); }
    float GetSlope(int16_t channel) const { return ValueOf(channel, kParamSlope); }

    const CKVXAInfoParam* GetInfo() const { return m_pInfo.get(); }

protected:
    int32_t RecordLengthAt(int32_t offset) const override { return FixedRecordLengthAt(offset, 8 + GetSize()); }
    void DecodeRecord() override;

private:
    // The value of parameter `index` (an EnAnalyzerParam) among a channel's decoded values.
    float ValueOf(int16_t channel, int32_t index) const;

    std::shared_ptr<const CKVXAInfoParam> m_pInfo;
    const uint8_t* m_pParamData = nullptr;
};
