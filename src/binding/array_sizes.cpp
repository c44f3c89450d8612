#include "array_sizes.hpp"
#include "videz5_c.h"
#include "../detail/say.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace videz5::detail {
namespace {

bool mapped(std::uintptr_t page_start) {
    unsigned char resident;
    // Only "nothing mapped there" counts against the caller; any other answer cannot tell.
    return mincore(reinterpret_cast<void*>(page_start), 1, &resident) == 0 || errno != ENOMEM;
}

// Whether count elements of element_size bytes from data can be an array here.
bool could_be_array(const void* data, std::uint64_t count, std::uint64_t element_size) {
    // A null buffer is the guarded write's to report, with its call dump.
    if (data == nullptr || count == 0 || element_size == 0) return true;
    std::uint64_t bytes;
    if (__builtin_mul_overflow(count, element_size, &bytes)) return false;
    const auto first = reinterpret_cast<std::uintptr_t>(data);
    if (bytes - 1 > UINTPTR_MAX - first) return false;
    // The caller's own pointer is where its array starts; wrong sizes show at
    // the far end. On the first byte's page it is mapped (and a system call
    // is a microsecond here, 1 % of a small dump).
    static const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const std::uintptr_t last = first + (bytes - 1);
    return (last & ~(page - 1)) == (first & ~(page - 1)) || mapped(last & ~(page - 1));
}

std::uint64_t at_least_one(unsigned int size) { return size == 0 ? 1 : size; }

}  // namespace

bool element_code_ok(const char* entry, const std::string& path, int type_code, int string_length,
                     int highest_code) {
    if (type_code < VIDEZ5_DOUBLE || type_code > highest_code) {
        say(std::string("INVALID TYPE CODE IN ") + entry + "( " + path + ", " + std::to_string(type_code) + " )");
        return false;
    }
    if (type_code == VIDEZ5_STRING && string_length < 1) {
        say(std::string("INVALID STRING LENGTH IN ") + entry + "( " + path + ", " + std::to_string(string_length) +
            " )");
        return false;
    }
    return true;
}

bool dump_sizes_ok(const char* entry, const std::string& path, const void* data, unsigned int dim1,
                   unsigned int dim2, unsigned int dim3, std::size_t element_size) {
    // Absent sizes are 0 and drop out; all absent is one element.
    std::uint64_t count = at_least_one(dim1);
    bool fits = !__builtin_mul_overflow(count, at_least_one(dim2), &count) &&
                !__builtin_mul_overflow(count, at_least_one(dim3), &count) &&
                could_be_array(data, count, element_size);
    if (fits) return true;  // fault-check: sizes-describe-array
    // The element size too: a string length can be what makes the array impossible.
    say(std::string("INVALID SIZES IN ") + entry + "( " + path + ", " + std::to_string(dim1) + ", " +
        std::to_string(dim2) + ", " + std::to_string(dim3) + " ) OF " + std::to_string(element_size) + " BYTES EACH");
    return false;
}

bool array_sizes_ok(const char* entry, const std::string& path, const void* data, const unsigned int* sizes,
                    int rank, std::size_t element_size) {
    std::uint64_t count = 1;
    bool fits = true;
    std::string listed;
    for (int i = 0; i < rank; ++i) {
        fits = fits && sizes[i] != 0 && !__builtin_mul_overflow(count, std::uint64_t{sizes[i]}, &count);
        listed += ", " + std::to_string(sizes[i]);
    }
    if (fits && could_be_array(data, count, element_size)) return true;
    say(std::string("INVALID SIZES IN ") + entry + "( " + path + listed + " ) OF " + std::to_string(element_size) +
        " BYTES EACH");
    return false;
}

bool plot_sizes_ok(const char* entry, const std::string& path, const void* data, std::size_t data_element_size,
                   const double* x, const double* y, unsigned int nx, unsigned int ny) {
    // The record's layout: "Y" takes the first count above 1, "X" the second.
    const std::uint64_t first = ny > 1 ? ny : (nx > 1 ? nx : 1);
    const std::uint64_t second = ny > 1 && nx > 1 ? nx : 1;
    if (could_be_array(data, first * second, data_element_size) && could_be_array(y, first, sizeof(double)) &&
        could_be_array(x, second, sizeof(double)))
        return true;
    say(std::string("INVALID SIZES IN ") + entry + "( " + path + ", " + std::to_string(nx) + ", " + std::to_string(ny) +
        " )");
    return false;
}

}  // namespace videz5::detail
