// Walks the packed parameter record of a "params" stream: one block of `record size` bytes per channel,
// each holding the selected parameters one after the other in index order, each in its record width. The
// walker decodes a channel's values into physical units (GetRealWorldData) and can write a record image
// (SetData).
//
// Every access stays inside the current channel's block: a parameter that would reach beyond it reads as 0
// and is not written, and GetRealWorldData then reports failure.
#pragma once

#include <cstdint>
#include <vector>

#include "settings/MIAnalyzerProperty.h"

class CMGenericParameterEventDataIterator {
public:
    // A walker without record data: no tables, no channels, header version -1.
    CMGenericParameterEventDataIterator() = default;
    // A walker over `channelCount` blocks of `recordSize` bytes at `data`, which must hold channelCount x
    // recordSize bytes. AD zero and units per AD are those of the stream's sample format; `headerVersion`
    // the stream header version. `writable` may be null for a walker that only reads.
    CMGenericParameterEventDataIterator(uint16_t channelCount, int32_t recordSize, const uint8_t* data,
                                        const CMIAnalyzerProperty* analyzer, const AnalyzerParamTable* params,
                                        uint16_t adZero, double unitsPerAD, int32_t headerVersion,
                                        uint8_t* writable = nullptr);

    // True when every selected parameter, read at its place in a block of `recordSize` bytes, lies inside
    // the block.
    static bool TableFits(const CMIAnalyzerProperty& analyzer, const AnalyzerParamTable& params, int32_t recordSize);

    // Makes the lowest selected index the state and the block start the current position; false (state
    // unchanged) when no index is selected.
    bool SetStartPos();
    // Moves past the current parameter to the next selected index; false (nothing changed) when none.
    bool Next();
    // Moves to the next channel's block with state 0; false after the last channel or before SetStartPos.
    bool NextChannel();
    uint16_t GetState() const { return static_cast<uint16_t>(m_iState); }

    // Values at the current position (0 when they do not fit the block or there is no data).
    uint16_t GetWord() const;
    int32_t GetDWord() const;
    float GetFloat() const;
    uint64_t GetQuadWord() const;  // low word first
    void SetWord(uint16_t v);
    void SetDWord(int32_t v);
    void SetFloat(float v);
    void SetQuadWord(uint64_t v);
    // Writes `data` into the current block: each parameter the analyzer records, in index order, from the
    // current position on.
    void SetData(const AnalyzerData& data);

    // The selected parameters of channel `channel` in physical units, in index order (slot k: the k-th
    // selected parameter; kNoValue marks a parameter without a value). False when the channel is beyond
    // the record or a parameter does not fit its block; an empty list when nothing is selected.
    bool GetRealWorldData(int32_t channel, std::vector<float>& values);

private:
    // The current position when `n` bytes from it lie inside the current block; else null, noted.
    const uint8_t* At(int32_t n) const;
    uint8_t* WritableAt(int32_t n);
    // Value of the parameter at the current position, decoded by the state's kind.
    float Value() const;

    const uint8_t* m_pData = nullptr;
    uint8_t* m_pWritable = nullptr;
    int64_t m_lRecordStart = 0;
    int64_t m_lCurrent = 0;
    int32_t m_iState = -1;
    int32_t m_iChannel = 0;
    uint16_t m_wADZero = 0;
    double m_dUnitsPerAD = 0.0;
    const AnalyzerParamTable* m_pParams = nullptr;
    const CMIAnalyzerProperty* m_pAnalyzer = nullptr;
    uint16_t m_wChannelCount = 0;
    int32_t m_lRecordSize = 0;
    int32_t m_iHeaderVersion = -1;
    mutable bool m_bOutside = false;
};
