// The barrier between the library and its host: no exception crosses an exported function.
#pragma once

#include "include/nsAPItypes.h"

namespace kvd {

// Runs the body of an exported function and returns its result; any exception the body lets out (a
// failed allocation, an accessor given an index out of range, anything else) becomes ns_LIBERROR. The
// adapter's operations leave its tables as they were when they throw, so later calls stay valid.
template <typename Body>
ns_RESULT GuardedCall(Body&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return ns_LIBERROR;
    }
}

}  // namespace kvd
