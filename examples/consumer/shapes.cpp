// Prints the HDF5 shape of each dataset named on the command line.
#include <videz5_c.h>

#include <iostream>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const hid_t file = H5Fopen(argv[1], H5F_ACC_RDONLY, H5P_DEFAULT);
    if (file < 0) return 1;
    for (int i = 2; i < argc; ++i) {
        std::vector<hsize_t> dims;
        const int rank = h5get_dims(file, argv[i], dims);
        std::cout << argv[i] << ": rank " << rank;
        for (const hsize_t size : dims) std::cout << ' ' << size;
        std::cout << '\n';
    }
    return H5Fclose(file) < 0 ? 1 : 0;
}
