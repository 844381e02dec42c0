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
    {}

    double operator()(int16_t word) const
    {
        const uint16_t w = static_cast<uint16_t>(word);
        if (m_bRaw) return static_cast<double>(w);
        return static_cast<double>(static_cast<int32_t>(w) - static_cast<int32_t>(m_wADZero)) * m_dUnitsPerAD;
    }

    // Converts `n` words into `out`; a null `out` takes nothing. With `streaming`, the values are written
    // past the processor's caches, which saves reading the destination's old contents in before each write:
    // for large requests, whose values would not stay in the caches anyway. Call Flush once such a request
    // is written.
    void Convert(const int16_t* words, uint64_t n, double* out, bool streaming = false) const
    {
        if (!out) return;
        // A raw word is the same conversion with zero 0 and a unit of 1: (w - 0) x 1.0 is w exactly.
        const int32_t zero = m_bRaw ? 0 : m_wADZero;
        const double units = m_bRaw ? 1.0 : m_dUnitsPerAD;
        uint64_t k = 0;
#if defined(__SSE2__)
        // Eight words at a time, with the same exact integer steps and the same one multiplication per value
        // as the words one by one below, so the values are the same to the bit.
        if (streaming) {
            // Streaming writes need 16-byte aligned destinations: one value first where `out` is not.
            if ((reinterpret_cast<uintptr_t>(out) & 15) != 0 && n > 0) {
                out[0] = Scale(words[0], zero, units);
                k = 1;
            }
            if ((reinterpret_cast<uintptr_t>(out + k) & 15) != 0) streaming = false;  // not even 8-byte aligned
        }
        const __m128i zeros = _mm_set1_epi32(zero);
        const __m128d scale = _mm_set1_pd(units);
        for (; k + 8 <= n; k += 8) {
            __m128d v0, v1, v2, v3;
            Scale8(words + k, zeros, scale, v0, v1, v2, v3);
            if (streaming) {
                _mm_stream_pd(out + k, v0);
                _mm_stream_pd(out + k + 2, v1);
                _mm_stream_pd(out + k + 4, v2);
                _mm_stream_pd(out + k + 6, v3);
            } else {
                _mm_storeu_pd(out + k, v0);
                _mm_storeu_pd(out + k + 2, v1);
                _mm_storeu_pd(out + k + 4, v2);
                _mm_storeu_pd(out + k + 6, v3);
            }
        }
#else
        (void)streaming;
#endif
        for (; k < n; ++k) out[k] = Scale(words[k], zero, units);
    }

    // Converts `n` words into floats: each value computed as above in double precision, then rounded once.
    void ConvertToFloat(const uint16_t* words, uint64_t n, float* out) const
    {
        const int32_t zero = m_bRaw ? 0 : m_wADZero;
        const double units = m_bRaw ? 1.0 : m_dUnitsPerAD;
        uint64_t k = 0;
#if defined(__SSE2__)
        const __m128i zeros = _mm_set1_epi32(zero);
        const __m128d scale = _mm_set1_pd(units);
        for (; k + 8 <= n; k += 8) {
            __m128d v0, v1, v2, v3;
            Scale8(words + k, zeros, scale, v0, v1, v2, v3);
            _mm_storeu_ps(out + k, _mm_movelh_ps(_mm_cvtpd_ps(v0), _mm_cvtpd_ps(v1)));
            _mm_storeu_ps(out + k + 4, _mm_movelh_ps(_mm_cvtpd_ps(v2), _mm_cvtpd_ps(v3)));
        }
#endif
        for (; k < n; ++k) out[k] = static_cast<float>(Scale(static_cast<int16_t>(words[k]), zero, units));
    }

    // Orders the streaming writes of Convert before whatever the caller does next.
    static void Flush()
    {
#if defined(__SSE2__)
        _mm_sfence();
#endif
    }

private:
#if defined(__SSE2__)
    // Eight words (unsigned) less the zero, times the unit: the values in four pairs.
    static void Scale8(const void* words, __m128i zeros, __m128d scale, __m128d& v0, __m128d& v1, __m128d& v2,
                       __m128d& v3)
    {
        const __m128i w = _mm_loadu_si128(static_cast<const __m128i*>(words));
        const __m128i lo = _mm_sub_epi32(_mm_unpacklo_epi16(w, _mm_setzero_si128()), zeros);
        const __m128i hi = _mm_sub_epi32(_mm_unpackhi_epi16(w, _mm_setzero_si128()), zeros);
        v0 = _mm_mul_pd(_mm_cvtepi32_pd(lo), scale);
        v1 = _mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(lo, 8)), scale);
        v2 = _mm_mul_pd(_mm_cvtepi32_pd(hi), scale);
        v3 = _mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(hi, 8)), scale);
    }
#endif
    static double Scale(int16_t word, int32_t zero, double units)
    {
        return static_cast<double>(static_cast<int32_t>(static_cast<uint16_t>(word)) - zero) * units;
    }

    uint16_t m_wADZero;
    double m_dUnitsPerAD;
    bool m_bRaw;
};
