#include "nxdata.hpp"
#include "videz5_c.h"
#include "../transfer/transfer.hpp"

#include <string>
#include <vector>

namespace videz5::detail {

void write_nxdata_attributes(hid_t record, int written_rank) {
    // The stored shape, not the one just asked for: a rewrite refused for a
    // changed shape keeps the old "data", and the description must match it.
    // When the write went through, the two are the same, and opening "data"
    // again to ask would cost a plot record several percent of its time.
    // "Y" names the slowest dimension of "data", "X" the fastest.
    std::vector<hsize_t> dims;
    const int rank = written_rank >= 0 ? written_rank : h5get_dims(record, "data", dims);
    if (rank != 1 && rank != 2) return;
    const std::vector<std::string> axes = rank == 1 ? std::vector<std::string>{"Y"} : std::vector<std::string>{"Y", "X"};
    write_string_attribute(record, "NX_class", {"NXdata"}, false);
    write_string_attribute(record, "signal", {"data"}, false);
    write_string_attribute(record, "axes", axes, true);
}

}  // namespace videz5::detail
