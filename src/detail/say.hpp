// The library's one way to print: a line on standard output, flushed at once
// so that it stays in order with the caller's own (Fortran) output on the same
// stream. Every message the library has goes through here.
#pragma once

#include <cstdio>
#include <string_view>

namespace videz5::detail {

// Whether this process keeps its lines to itself: in a call that every rank
// of an MPI job makes together, one rank speaks for all of them.
inline bool& muted() {
    static bool flag = false;
    return flag;
}

// Lets say print, or keeps it quiet, for its lifetime.
class Speaking {
public:
    explicit Speaking(bool speak) : saved_(muted()) { muted() = !speak; }
    ~Speaking() { muted() = saved_; }
    Speaking(const Speaking&) = delete;
    Speaking& operator=(const Speaking&) = delete;

private:
    bool saved_;
};

// Allocates nothing, so that it can also say that memory ran out. An empty
// view may carry a null pointer, which fwrite must not be given.
inline void say(std::string_view line, std::string_view more = {}) {
    if (muted()) return;
    if (!line.empty()) std::fwrite(line.data(), 1, line.size(), stdout);
    if (!more.empty()) std::fwrite(more.data(), 1, more.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace videz5::detail
