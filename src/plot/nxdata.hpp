// The NXdata description of a plot record, for viewers that show such groups
// as they are.
#pragma once

#include <hdf5.h>

namespace videz5::detail {

// Sets NX_class "NXdata", signal "data" and axes (["Y"] for 1-D data, ["Y", "X"]
// for 2-D) on the record group, after the shape of "data" as it is now stored.
// written_rank is the rank "data" was just created or overwritten with, or -1
// when that write did not happen; the stored rank is then looked up.
void write_nxdata_attributes(hid_t record, int written_rank);

}  // namespace videz5::detail
