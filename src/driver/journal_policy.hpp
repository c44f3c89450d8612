// When a change in place must keep its old bytes in the undo journal first:
// the one rule, for raw data as it is written and for a commit's metadata.
//
// Ordered writes keep a file readable after a kill only as long as no two
// changes in place depend on each other. A commit is journaled whole when
//   - it changes raw data in place (an array or a plot record overwritten:
//     neither old nor new halfway, and a record's arrays belong together);
//   - a group index node splits (its entries move to a new node that the
//     parent must point to: half of it lists the moved names twice, or not at all);
//   - a chunk index node gains an entry in place (a series grown by a chunk:
//     the header that states the new extent is written before the node);
//   - the file's structures are not ones the order knows (HDF5's newer
//     format, other sizes, or an HDF5 the format check does not know).
// Raw data written into a series' partly filled chunk is exempt while an
// UnseenRawWrites lives: it changes only bytes that no reader sees yet.
#pragma once

#include "driver_state.hpp"

namespace videz5::detail {

// Whether a raw write over [addr, addr + size) must keep the old bytes first.
bool raw_write_needs_undo(const State& s, haddr_t addr, std::size_t size);

// Whether the commit of what is pending must be journaled whole.
bool commit_needs_journal(const State& s);

}  // namespace videz5::detail
