// The undo journal beside a file: the old bytes of what one commit epoch
// changes in place, so that a kill that cuts the epoch short can be undone.
//
// Ordering writes keeps a file readable after a kill only as long as no two
// changes in place depend on each other. Some do: a raw array overwritten in
// place is neither old nor new halfway; a plot record is several arrays that
// belong together; a group index node that splits changes its parent and
// itself; files in HDF5's newer format have structures whose order the driver
// does not know. For such epochs every byte about to be changed in place is
// first copied here, and the next open of the file puts them back: the file
// is then exactly as it was before the epoch began.
//
// The journal is "NAME.videz5-journal", held under an exclusive flock while its
// epoch is alive, so that another process never undoes a live epoch; it is
// emptied when the epoch's changes are all in the file, and removed when the
// file is closed.
#pragma once

#include <hdf5.h>

#include <sys/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace videz5::detail {

class UndoJournal {
public:
    UndoJournal() = default;
    ~UndoJournal();
    UndoJournal(const UndoJournal&) = delete;
    UndoJournal& operator=(const UndoJournal&) = delete;

    // An epoch's journal is being kept (from start to finish).
    bool active() const { return live_; }
    // Begins an epoch's journal for the data file `name` (open as data_fd),
    // whose size before the epoch is base_eof. False with error() set.
    bool start(const std::string& name, int data_fd, haddr_t base_eof);
    // Bytes about to be written in place over [addr, addr + size).
    struct Change {
        haddr_t addr;
        const unsigned char* bytes;
        std::size_t size;
    };
    // Keeps the old bytes of several such writes that lie below base_eof, only
    // where they differ from the new ones and are not kept yet, and writes the
    // journal once for all of them. Must come before those bytes change.
    bool save_changes(const std::vector<Change>& changes);
    // Forces what is kept to the disk (the durable mode).
    bool sync();
    // The epoch's changes are all in the file: the journal is emptied.
    bool finish(bool durable);
    // Lets the journal go as the file closes: an emptied one is removed, a
    // live one (an epoch that did not finish) stays for the next open. Must
    // come before the data file's lock goes, or a writer waiting for that
    // lock would find this one's journal still there.
    void release();
    const std::string& error() const { return error_; }

private:
    bool fail(const std::string& what);
    // Entries for the old bytes of [addr, end), given from addr on, are
    // gathered here and written out before save_changes returns.
    bool queue(haddr_t addr, haddr_t end, const unsigned char* old);
    bool queue_range(haddr_t lo, haddr_t hi, const unsigned char* old);
    bool write_queued();

    std::string path_;
    int fd_ = -1;  // open and locked from the first epoch to the file's close
    bool live_ = false;
    int data_fd_ = -1;
    off_t end_ = 0;
    haddr_t base_eof_ = 0;
    std::map<haddr_t, haddr_t> saved_;  // start -> end of the kept ranges, disjoint
    std::vector<unsigned char> queued_;  // header and entries not written yet
    std::vector<unsigned char> old_;     // a piece of the file as it is, to compare
    std::string error_;
};

// The journal's name for a data file.
std::string journal_name(const std::string& name);

enum class Recovery { kNothing, kRecovered, kBusy, kFailed };

// Undoes an epoch that a kill cut short: when a journal stands beside the file
// and neither it nor the file is in use by a live process, the old bytes go
// back, the file is cut back to its size before the epoch, and the journal is
// removed (durable: forced to disk first). locked_fd, when not negative, is
// the file already open read-write under the caller's exclusive lock.
// why receives the reason of a failure.
Recovery recover(const std::string& name, int locked_fd, bool durable, std::string& why);

}  // namespace videz5::detail
