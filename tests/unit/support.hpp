// Shared helpers of the unit tests: scratch directories, captured output,
// runs in a child process, HDF5 open-object counts, the automatic
// error-printing setting, and raw HDF5 access that does not go through the
// library under test.
#pragma once

#include <hdf5.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace unit {

// A fresh directory per test, removed with everything in it afterwards.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/videz5-unit-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr) throw std::runtime_error("mkdtemp failed");
        dir_ = made;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& dir() const { return dir_; }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
};

inline std::string file_bytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
}

// Objects open in all HDF5 files of the process: files, groups, datasets, ...
inline ssize_t open_objects() { return H5Fget_obj_count(H5F_OBJ_ALL, H5F_OBJ_ALL); }

inline void flush_all() {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stdout);
    std::fflush(stderr);
}

inline std::string read_all(FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    std::fclose(file);
    return text;
}

struct Output {
    std::string out;  // file descriptor 1
    std::string err;  // file descriptor 2 (HDF5 prints its errors here)
};

// Runs f with file descriptors 1 and 2 redirected to temporary files. Files
// rather than pipes, so that a large output cannot block the writer.
template <typename F>
Output capture(F&& f) {
    flush_all();
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    const int saved_out = dup(1);
    const int saved_err = dup(2);
    dup2(fileno(out), 1);
    dup2(fileno(err), 2);
    f();
    flush_all();
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    return Output{read_all(out), read_all(err)};
}

struct ChildOutcome {
    int signal = 0;     // the signal that ended the child, 0 when it exited
    int exit_code = -1;
    std::string out;    // its standard output
};

// Runs f in a forked child whose standard output comes back through a pipe;
// for code paths that end the process.
template <typename F>
ChildOutcome run_in_child(F&& f) {
    flush_all();
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        close(fds[0]);
        dup2(fds[1], 1);
        close(fds[1]);
        f();
        flush_all();
        _exit(0);
    }
    close(fds[1]);
    ChildOutcome outcome;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) outcome.out.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
    if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
    return outcome;
}

// ---- HDF5's automatic error printing -------------------------------------

enum class Printing { Default, Off, HandlerV1, HandlerV2 };

inline const char* printing_name(Printing p) {
    switch (p) {
        case Printing::Default: return "Default";
        case Printing::Off: return "Off";
        case Printing::HandlerV1: return "HandlerV1";
        case Printing::HandlerV2: return "HandlerV2";
    }
    return "?";
}

inline void PrintTo(Printing p, std::ostream* os) { *os << printing_name(p); }

// For tests that run once per setting.
inline const auto all_printings =
    ::testing::Values(Printing::Default, Printing::Off, Printing::HandlerV1, Printing::HandlerV2);
struct PrintingName {
    std::string operator()(const ::testing::TestParamInfo<Printing>& info) const { return printing_name(info.param); }
};

// The setting in force, read back with the call that matches its generation.
struct PrintingState {
    unsigned is_v2 = 0;
    H5E_auto1_t func1 = nullptr;
    H5E_auto2_t func2 = nullptr;
    void* data = nullptr;
    bool read_ok = false;

    bool operator==(const PrintingState& o) const {
        return is_v2 == o.is_v2 && func1 == o.func1 && func2 == o.func2 && data == o.data && read_ok == o.read_ok;
    }
};

inline PrintingState current_printing() {
    PrintingState s;
    if (H5Eauto_is_v2(H5E_DEFAULT, &s.is_v2) < 0) return s;
    s.read_ok = s.is_v2 ? H5Eget_auto2(H5E_DEFAULT, &s.func2, &s.data) >= 0 : H5Eget_auto1(&s.func1, &s.data) >= 0;
    return s;
}

inline herr_t count_v1(void* calls) {
    ++*static_cast<int*>(calls);
    return 0;
}
inline herr_t count_v2(hid_t, void* calls) {
    ++*static_cast<int*>(calls);
    return 0;
}

// HDF5's own setting at start-up: its version-2 printer writing to stderr.
inline void install_default_printing() {
    // H5Eprint2 takes a FILE*, the handler type a void*; HDF5 itself installs it this way.
    H5Eset_auto2(H5E_DEFAULT, reinterpret_cast<H5E_auto2_t>(reinterpret_cast<void (*)()>(H5Eprint2)), nullptr);
}

// Installs one setting for a test and HDF5's default again afterwards, so
// that a setting the library failed to restore cannot leak into later tests.
class PrintingSetting {
public:
    explicit PrintingSetting(Printing p) {
        switch (p) {
            case Printing::Default: install_default_printing(); break;
            case Printing::Off: H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr); break;
            case Printing::HandlerV1: H5Eset_auto1(count_v1, &calls); break;
            case Printing::HandlerV2: H5Eset_auto2(H5E_DEFAULT, count_v2, &calls); break;
        }
        installed = current_printing();
    }
    ~PrintingSetting() { install_default_printing(); }
    PrintingSetting(const PrintingSetting&) = delete;
    PrintingSetting& operator=(const PrintingSetting&) = delete;

    int calls = 0;  // how often a custom handler ran
    PrintingState installed;
};

// ---- raw HDF5 access ------------------------------------------------------

inline hid_t create_file(const std::string& name) {
    return H5Fcreate(name.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
}

template <typename T>
hid_t native_type();
template <>
inline hid_t native_type<double>() { return H5T_NATIVE_DOUBLE; }
template <>
inline hid_t native_type<int>() { return H5T_NATIVE_INT; }

// Writes a dataset with the plain HDF5 calls (rank 0 when dims is empty).
template <typename T>
void put(hid_t loc, const std::string& name, const std::vector<hsize_t>& dims, const std::vector<T>& values) {
    const hid_t space = dims.empty() ? H5Screate(H5S_SCALAR)
                                     : H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr);
    const hid_t set = H5Dcreate2(loc, name.c_str(), native_type<T>(), space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    ASSERT_GE(set, 0) << name;
    ASSERT_GE(H5Dwrite(set, native_type<T>(), H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()), 0);
    H5Dclose(set);
    H5Sclose(space);
}

inline bool has_link(hid_t loc, const std::string& path) { return H5Lexists(loc, path.c_str(), H5P_DEFAULT) > 0; }

inline bool is_group(hid_t loc, const std::string& path) {
    H5O_info_t info;
    return has_link(loc, path) && H5Oget_info_by_name2(loc, path.c_str(), &info, H5O_INFO_BASIC, H5P_DEFAULT) >= 0 &&
           info.type == H5O_TYPE_GROUP;
}

// All values of a numeric dataset, converted by HDF5 to T.
template <typename T>
std::vector<T> values(hid_t loc, const std::string& path) {
    const hid_t set = H5Dopen2(loc, path.c_str(), H5P_DEFAULT);
    if (set < 0) return {};
    const hid_t space = H5Dget_space(set);
    std::vector<T> v(static_cast<std::size_t>(H5Sget_simple_extent_npoints(space)));
    H5Dread(set, native_type<T>(), H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data());
    H5Sclose(space);
    H5Dclose(set);
    return v;
}

// A test with a fresh HDF5 file of its own. Whatever the test calls must
// leave no object open that it did not hand back; the file stays the test's.
class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        file = create_file(tmp.path("test.h5"));
        ASSERT_GE(file, 0);
        objects_before = open_objects();
    }
    void TearDown() override {
        EXPECT_EQ(open_objects(), objects_before) << "objects left open";
        EXPECT_GT(H5Iis_valid(file), 0) << "the caller's file was closed";
        H5Fclose(file);
    }

    TempDir tmp;
    hid_t file = -1;
    ssize_t objects_before = 0;
};

}  // namespace unit
