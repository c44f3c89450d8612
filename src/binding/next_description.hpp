// The description that ftoc_describe_next_ leaves for the calling thread's
// next dump, append or plot record: the Fortran module passes units and
// descriptions this way, so that the entry points with their fixed argument
// lists write them in the same file open as the data.
#pragma once

#include "handles.hpp"
#include "../transfer/transfer.hpp"

#include <optional>
#include <vector>

namespace videz5::detail {

// Takes the pending description, leaving none: every write entry takes it
// first, so that a write refused before it reaches the file does not hand it
// on to a later one. Empty when none was given.
std::optional<Description> take_next_description();

// Whether ftoc_replace_next_ asked the calling thread's next write to replace
// a dataset or record of another shape; taken, and so cleared, by every
// write entry in the same way as the description.
bool take_next_replace();

// What ftoc_compress_next_ asked of the calling thread's next dump or append,
// as given (chunks in Fortran order; the write that takes it checks it);
// taken, and so cleared, by every write entry as the description is.
struct NextStorage {
    int level = 0;
    std::vector<unsigned int> chunks;
};
std::optional<NextStorage> take_next_storage();
// The layout that next asks for an array of sizes dims (HDF5 order; null for
// a series, which keeps its own chunks), in storage; false after the one line
// that refuses a level other than -1 (none) or 1 to 9, chunks that do not fit, or a level when
// this HDF5 cannot deflate.
bool storage_ok(const char* entry, const std::string& path, const NextStorage& next,
                const std::vector<hsize_t>* dims, Storage& storage);

// Keeps the outcome of a write entry for ftoc_last_write_status_ whichever
// way the entry returns: VIDEZ5_WRITE_REFUSED unless the entry says otherwise.
class WriteOutcome {
public:
    WriteOutcome() = default;
    WriteOutcome(const WriteOutcome&) = delete;
    WriteOutcome& operator=(const WriteOutcome&) = delete;
    ~WriteOutcome();
    // Whether the call stops at its file, refused (and told) by open_target.
    bool no_file(const CallTarget& file) {
        if (file.refused()) status = VIDEZ5_NO_FILE;
        return file.refused();
    }
    // Commits (held) or closes (by name) the file the write went to; the
    // status is then what the write gave, or VIDEZ5_WRITE_FAILED when the
    // commit failed. A file that failed to open went on to the routines
    // beneath, which said why: VIDEZ5_NO_FILE.
    void reached_file(CallTarget& file, int write) {
        const bool opened = file.valid();
        const int committed = file.written();
        if (!opened) write = VIDEZ5_NO_FILE;
        status = write != VIDEZ5_OK ? write : committed < 0 ? VIDEZ5_WRITE_FAILED : VIDEZ5_OK;
    }
    int status = VIDEZ5_WRITE_REFUSED;  // fault-check: write-status-told
};

// The description as the layers below take it: null when there is none.
inline const Description* given(const std::optional<Description>& description) {
    return description ? &*description : nullptr;
}

}  // namespace videz5::detail
