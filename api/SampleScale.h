// The one conversion of a channel's 16-bit sample words into the values handed to a host.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    void Convert(const int16_t* words, uint64_t n, double* out) const
    {
        if (!out) return;
        // A raw word is the same conversion with zero 0 and a unit of 1: (w - 0) x 1.0 is w exactly.
        const int32_t zero = m_bRaw ? 0 : m_wADZero;
        const double units = m_bRaw ? 1.0 : m_dUnitsPerAD;
        uint64_t k = 0;
#if defined(__SSE2__)
        // Eight words at a time, with the same exact integer steps and the same one multiplication per value
        // as the words one by one below, so the values are the same to the bit.
        const __m128i zeros = _mm_set1_epi32(zero);
        const __m128d scale = _mm_set1_pd(units);
        for (; k + 8 <= n; k += 8) {
            const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + k));
            const __m128i lo = _mm_sub_epi32(_mm_unpacklo_epi16(w, _mm_setzero_si128()), zeros);
            const __m128i hi = _mm_sub_epi32(_mm_unpackhi_epi16(w, _mm_setzero_si128()), zeros);
            _mm_storeu_pd(out + k, _mm_mul_pd(_mm_cvtepi32_pd(lo), scale));
            _mm_storeu_pd(out + k + 2, _mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(lo, 8)), scale));
            _mm_storeu_pd(out + k + 4, _mm_mul_pd(_mm_cvtepi32_pd(hi), scale));
            _mm_storeu_pd(out + k + 6, _mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(hi, 8)), scale));
        }
#endif
        for (; k < n; ++k)
            out[k] = static_cast<double>(static_cast<int32_t>(static_cast<uint16_t>(words[k])) - zero) * units;
    }

private:
    uint16_t m_wADZero;
    double m_dUnitsPerAD;
    bool m_bRaw;
};
