// The library's one way to print: a line on standard output, flushed at once
// so that it stays in order with the caller's own (Fortran) output on the same
// stream. Every message the library has goes through here.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

// LLVM Flang's runtime holds a program's own output in a buffer of its own
// while it goes to a file or a pipe, until the buffer fills or the program
// ends (gfortran's hands each statement's line to the system at once). Its
// flush statement, as that runtime exports it, empties that buffer first, so
// the library's line follows what the program printed before the call.
// Weak: absent unless the program is Flang's.
extern "C" {
void* _FortranAioBeginFlush(int unit, const char* source, int line) __attribute__((weak));
int _FortranAioEndIoStatement(void* statement) __attribute__((weak));
}

namespace videz5::detail {

// Flushes the caller's Fortran standard output (unit 6), where its runtime buffers it.
inline void flush_fortran_output() {
    if (_FortranAioBeginFlush != nullptr && _FortranAioEndIoStatement != nullptr)
        _FortranAioEndIoStatement(_FortranAioBeginFlush(6, __FILE__, __LINE__));
}

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
    flush_fortran_output();
    if (!line.empty()) std::fwrite(line.data(), 1, line.size(), stdout);
    if (!more.empty()) std::fwrite(more.data(), 1, more.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Ends the process as the entry points' contract says, after what the
// program itself printed has reached its standard output.
[[noreturn]] inline void end_process() {
    flush_fortran_output();
    std::fflush(stdout);
    std::abort();
}

}  // namespace videz5::detail
