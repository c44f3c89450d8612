// The description that ftoc_describe_next_ leaves for the calling thread's
// next dump, append or plot record: the Fortran module passes units and
// descriptions this way, so that the entry points with their fixed argument
// lists write them in the same file open as the data.
#pragma once

#include "../transfer/transfer.hpp"

#include <optional>

namespace videz5::detail {

// Takes the pending description, leaving none: every write entry takes it
// first, so that a write refused before it reaches the file does not hand it
// on to a later one. Empty when none was given.
std::optional<Description> take_next_description();

// The description as the layers below take it: null when there is none.
inline const Description* given(const std::optional<Description>& description) {
    return description ? &*description : nullptr;
}

}  // namespace videz5::detail
