// No C++ exception may unwind into a Fortran caller: the one thing the entry
// points can throw is an allocation failure (of a converted name, a path's
// components), which becomes one line and the entry's failure value instead.
//
// And one call at a time: the entry points share the handle table, the
// commit schedules and the next call's description, so a program that calls
// them from several threads has its calls taken one after the other. The
// lock costs a single-threaded call some tens of nanoseconds; a call that
// waits for another process's lock makes the other threads wait too.
#pragma once

#include "../detail/say.hpp"

#include <mutex>
#include <new>

namespace videz5::detail {

// Recursive: the bodies of some entry points are reached from others.
inline std::recursive_mutex& entry_lock() {
    static std::recursive_mutex lock;
    return lock;
}

template <typename Body>
void guarded_entry(const char* entry, Body&& body) noexcept {
    const std::lock_guard<std::recursive_mutex> one_at_a_time(entry_lock());  // fault-check: one-call-at-a-time
    try {
        body();
    } catch (const std::bad_alloc&) {
        say("OUT OF MEMORY IN ", entry);
    } catch (...) {
        say("UNEXPECTED ERROR IN ", entry);
    }
}

}  // namespace videz5::detail
