// Times of sample positions, computed alike wherever they are compared.
#pragma once

#include <cfloat>
#include <cstdint>

// The value rounded to double. The x87 unit of 32-bit x86 computes in 80-bit registers and rounds only
// when it stores a value, so comparing or rounding an unstored result could answer differently than with
// SSE arithmetic (x86-64); a store through volatile rounds it. Where arithmetic is done in the type itself
// this is the value unchanged.
inline double AsDouble(double value)
{
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD != 0
    volatile double stored = value;
    return stored;
#else
    return value;
#endif
}

// Seconds of `items` sample periods at `millisamples` samples per 1000 seconds (0 when the rate is not
// positive): the time of an item `items` periods after the first of its block.
inline double PeriodsToSeconds(double items, int32_t millisamples)
{
    return millisamples > 0 ? AsDouble(items * 1000.0 / millisamples) : 0.0;
}
