// The one conversion of a channel's 16-bit sample words into the values handed to a host.
#pragma once

#include <cstdint>

// Analog words become volts: (word - AD zero) x units per AD step, the word taken as unsigned. Digital
// words are handed over as they are (unit "raw").
class SampleScale {
public:
    SampleScale(uint16_t adZero, double unitsPerAD, bool raw)
        : m_wADZero(adZero), m_dUnitsPerAD(unitsPerAD), m_bRaw(raw)
    {
    }

    double operator()(int16_t word) const
    {
        const uint16_t w = static_cast<uint16_t>(word);
        if (m_bRaw) return static_cast<double>(w);
        return static_cast<double>(static_cast<int32_t>(w) - static_cast<int32_t>(m_wADZero)) * m_dUnitsPerAD;
    }

    // Converts `n` words into `out`; a null `out` takes nothing.
    void Convert(const int16_t* words, uint32_t n, double* out) const
    {
        if (!out) return;
        if (m_bRaw) {
            for (uint32_t k = 0; k < n; ++k) out[k] = static_cast<double>(static_cast<uint16_t>(words[k]));
            return;
        }
        for (uint32_t k = 0; k < n; ++k) out[k] = (*this)(words[k]);
    }

private:
    uint16_t m_wADZero;
    double m_dUnitsPerAD;
    bool m_bRaw;
};
