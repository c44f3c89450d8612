// Plot records, for the entry points above.
#pragma once

#include "../transfer/transfer.hpp"

#include <string>
#include <vector>

namespace videz5::detail {

// printh5, which also writes the description when one is given: units and
// long_name on "data", x_units on "X", y_units on "Y". 0 when the whole
// record was written, negative when it was refused or a write failed.
int plot_record(hid_t loc_id, const std::string& path, const double* data, const double* x, const double* y,
                const unsigned int* nx, const unsigned int* ny, std::vector<std::string>& titles,
                const Description* description);
int plot_record(hid_t loc_id, const std::string& path, const int* data, const double* x, const double* y,
                const unsigned int* nx, const unsigned int* ny, std::vector<std::string>& titles,
                const Description* description);

}  // namespace videz5::detail
