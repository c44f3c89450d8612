// Shared helpers of the unit tests: scratch directories, captured output and
// raw HDF5 access that does not go through the library under test.
#pragma once

#include <hdf5.h>
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace unit {

// A fresh directory per test, removed with everything in it afterwards.
struct TempDir {
    std::string dir = [] {
        char pattern[] = "/tmp/videz5-unit-XXXXXX";
        return std::string(mkdtemp(pattern));
    }();
    ~TempDir() { std::filesystem::remove_all(dir); }
    std::string path(const std::string& name) const { return dir + "/" + name; }
};

inline std::string file_bytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Where two byte strings first differ (their common length when one is a
// prefix of the other); npos when they are equal. Large files print nothing.
inline std::size_t first_difference(const std::string& a, const std::string& b) {
    const auto at = std::mismatch(a.begin(), a.begin() + std::min(a.size(), b.size()), b.begin());
    const std::size_t i = static_cast<std::size_t>(at.first - a.begin());
    return i == a.size() && a.size() == b.size() ? std::string::npos : i;
}

inline void write_bytes(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
}

// Objects open in all HDF5 files of the process: files, groups, datasets, ...
inline ssize_t open_objects() { return H5Fget_obj_count(H5F_OBJ_ALL, H5F_OBJ_ALL); }

struct Output {
    std::string out;  // file descriptor 1
    std::string err;  // file descriptor 2 (HDF5 prints its errors here)
};

// What f writes to file descriptors 1 and 2.
template <typename F>
Output capture(F&& f) {
    std::fflush(nullptr);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    f();
    std::fflush(nullptr);
    Output printed;
    printed.err = ::testing::internal::GetCapturedStderr();
    printed.out = ::testing::internal::GetCapturedStdout();
    return printed;
}

// All values of a numeric dataset, converted by HDF5 to doubles.
inline std::vector<double> values(hid_t loc, const std::string& path) {
    const hid_t set = H5Dopen2(loc, path.c_str(), H5P_DEFAULT);
    if (set < 0) return {};
    const hid_t space = H5Dget_space(set);
    std::vector<double> v(static_cast<std::size_t>(H5Sget_simple_extent_npoints(space)));
    H5Dread(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data());
    H5Sclose(space);
    H5Dclose(set);
    return v;
}

// A dataset of the given stored type and sizes, holding the doubles as.
inline void put(hid_t loc, const std::string& name, hid_t stored, const std::vector<hsize_t>& dims,
                const std::vector<double>& as) {
    const hid_t space = H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr);
    const hid_t set = H5Dcreate2(loc, name.c_str(), stored, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    H5Dwrite(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, as.data());
    H5Dclose(set);
    H5Sclose(space);
}

}  // namespace unit
