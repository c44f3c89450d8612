// No C++ exception may unwind into a Fortran caller: the one thing the entry
// points can throw is an allocation failure (of a converted name, a path's
// components), which becomes one line and the entry's failure value instead.
#pragma once

#include "../detail/say.hpp"

#include <new>

namespace videz5::detail {

template <typename Body>
void guarded_entry(const char* entry, Body&& body) noexcept {
    try {
        body();
    } catch (const std::bad_alloc&) {
        say("OUT OF MEMORY IN ", entry);
    } catch (...) {
        say("UNEXPECTED ERROR IN ", entry);
    }
}

}  // namespace videz5::detail
