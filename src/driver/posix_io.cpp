#include "posix_io.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace videz5::detail {
namespace {

// Linux moves at most about 2 GiB per call; a larger request is cut anyway.
constexpr std::size_t kLargestCall = std::size_t{1} << 30;

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

int write_fully(int fd, const void* bytes, std::size_t size, std::uint64_t at) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    while (size > 0) {
        const ssize_t n = pwrite(fd, p, std::min(size, kLargestCall), static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;  // fault-check: no-progress-is-an-error
        p += n;
        size -= static_cast<std::size_t>(n);
        at += static_cast<std::uint64_t>(n);
    }
    return 0;
}

ssize_t read_fully(int fd, void* bytes, std::size_t size, std::uint64_t at) {
    auto* p = static_cast<unsigned char*>(bytes);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(fd, p + done, std::min(size - done, kLargestCall), static_cast<off_t>(at + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

int sync_directory(const std::string& path) {
    const int dir = ::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return errno;
    const int error = fsync(dir) == 0 ? 0 : errno;
    ::close(dir);
    return error;
}

bool sync_file_and_directory(int fd, const std::string& name) {
    return fdatasync(fd) == 0 && sync_directory(name) == 0;
}

std::string errno_text(int error) {
    return "errno = " + std::to_string(error) + ", error message = '" + std::strerror(error) + "'";
}

}  // namespace videz5::detail
