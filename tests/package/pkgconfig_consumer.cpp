// Built with nothing but `pkg-config --cflags --libs videz5_c`: the header, the
// library and HDF5 must all come from there.
#include <videz5_c.h>

#include <iostream>

int main() {
    const char name[] = "pkgconfig.h5";
    const unsigned int name_length = sizeof name - 1, path_length = 1;
    const double values[4] = {1, 2, 3, 4};
    const unsigned int two = 2, zero = 0;
    const int code = 0, no_string = 0;
    ftoc_h5dump_data_(name, &name_length, "m", &path_length, values, &two, &two, &zero, &code, &no_string);
    int rank = 0;
    unsigned int d1 = 0, d2 = 0, d3 = 0;
    ftoc_h5get_dims_(name, &name_length, "m", &path_length, &rank, &d1, &d2, &d3);
    std::cout << "pkg-config consumer: rank " << rank << ", " << d1 << " x " << d2 << '\n';
    return rank == 2 ? 0 : 1;
}
