// The barrier between the library and its host: no exception crosses an exported function.
#pragma once

#include <exception>
#include <new>

#include "api/LastError.h"
#include "include/nsAPItypes.h"

namespace kvd {

// Runs the body of an exported function and returns its result; any exception the body lets out (a
// failed allocation, an accessor given an index out of range, anything else) becomes ns_LIBERROR, with
// its text as the last failure. The adapter's operations leave its tables as they were when they throw,
// so later calls stay valid.
template <typename Body>
ns_RESULT GuardedCall(Body&& body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        RecordFailure("not enough memory", nullptr);
    } catch (const std::exception& e) {
        RecordFailure("internal failure: ", e.what());
    } catch (...) {
        RecordFailure("internal failure", nullptr);
    }
    return ns_LIBERROR;
}

}  // namespace kvd
