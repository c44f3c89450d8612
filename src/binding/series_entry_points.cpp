// Entry points of time series and descriptions: arguments converted, the
// work done in the transfer layer.
#include "videz5_c.h"
#include "guarded_entry.hpp"
#include "array_sizes.hpp"
#include "next_description.hpp"
#include "../access/access.hpp"
#include "../transfer/transfer.hpp"
#include "../detail/say.hpp"

#include <string>

namespace videz5::detail {
namespace {

thread_local std::optional<Description> next_description;

}  // namespace

std::optional<Description> take_next_description() {
    std::optional<Description> taken;
    taken.swap(next_description);
    return taken;
}

}  // namespace videz5::detail

extern "C" {

void ftoc_describe_next_(const char* units, const unsigned int* units_length, const char* long_name,
                         const unsigned int* long_name_length, const char* x_units,
                         const unsigned int* x_units_length, const char* y_units,
                         const unsigned int* y_units_length) {
    videz5::detail::guarded_entry("ftoc_describe_next_", [&] {
        videz5::detail::Description d{charToString(units, units_length), charToString(long_name, long_name_length),
                                      charToString(x_units, x_units_length), charToString(y_units, y_units_length)};
        if (d.units.empty() && d.long_name.empty() && d.x_units.empty() && d.y_units.empty())
            videz5::detail::next_description.reset();
        else
            videz5::detail::next_description = std::move(d);
    });
}

void ftoc_h5append_data_(const char* name, const unsigned int* name_length, const char* path,
                         const unsigned int* path_length, const void* data, const unsigned int* dim1,
                         const unsigned int* dim2, const int* type_code) {
    videz5::detail::guarded_entry("ftoc_h5append_data_", [&] {
        const auto description = videz5::detail::take_next_description();
        const std::string path_text = charToString(path, path_length);
        if (*type_code != VIDEZ5_DOUBLE && *type_code != VIDEZ5_INT) {
            videz5::detail::say("INVALID TYPE CODE IN ftoc_h5append_data_( " + path_text + ", " +
                                std::to_string(*type_code) + " )");
            return;
        }
        if (!videz5::detail::dump_sizes_ok("ftoc_h5append_data_", path_text, data, *dim1, *dim2, 0,
                                           videz5::detail::element_code_size(*type_code, 0)))
            return;
        videz5::detail::Hid type = videz5::detail::make_element_type(*type_code, 0);
        videz5::detail::Hid file = videz5::detail::own_opened_file(
            videz5::detail::open_named_file(charToString(name, name_length), false, false));
        videz5::detail::append_at("ftoc_h5append_data_", file.get(), path_text, data, *dim1, *dim2, type.get(),
                                  description ? *description : videz5::detail::Description{});
    });
}

}  // extern "C"
