// The undo journal: the old bytes of what one commit epoch changes in place,
// so that a kill that cuts the epoch short can be undone.
//
// Ordering writes keeps a file readable after a kill only as long as no two
// changes in place depend on each other; where they do (journal_policy.hpp),
// every byte about to be changed in place is first kept here, and the next
// open of the file puts them back: the file is then exactly as it was before
// the epoch began.
//
// The journal lives in the data file itself, past every byte of HDF5's, and
// is cut off once the epoch's changes are all in place. So it belongs to the
// file, not to a name: whatever name, link, mount or copy reaches the file
// later finds it, it has the file's owner and permissions, it needs nothing
// of the directory, and no other writer can meet it outside the file's lock.
// Readers other than this library see a file with bytes past its end, which
// HDF5 ignores.
//
// Layout, from `begins()` (a 4 KiB boundary): a header (magic, a seed drawn
// for this journal, its own address, the file's size before the epoch, a
// checksum), then records one after the other; the file's last 40 bytes are
// a trailer (magic, the header's address, the seed, a checksum) that finds it.
// A record is the old bytes of a range, or the checksums of 512-byte blocks
// as the epoch's writes leave them; each ends with a checksum of all of it,
// seeded with the journal's seed, so that a record cut short by a kill, stale
// bytes left from an earlier journal, or garbage, reads as the journal's end.
// Records are appended before the changes they describe; the trailer is
// written after the header and first records, and moved (written ahead first)
// before any record would reach it.
#pragma once

#include <hdf5.h>

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace videz5::detail {

class UndoJournal {
public:
    UndoJournal() = default;
    UndoJournal(const UndoJournal&) = delete;
    UndoJournal& operator=(const UndoJournal&) = delete;

    // An epoch's journal is being kept (from start to finish).
    bool active() const { return live_; }
    // Where the journal begins in the file; HADDR_UNDEF when none is kept.
    haddr_t begins() const { return live_ ? at_ : HADDR_UNDEF; }

    // Begins an epoch's journal in the data file open as data_fd, whose
    // size before the epoch is base_eof, past `after` (every byte of HDF5's).
    // Nothing is written until the first changes are kept. False with error() set.
    bool start(int data_fd, haddr_t base_eof, haddr_t after);

    // Bytes about to be written in place over [addr, addr + size).
    struct Change {
        haddr_t addr;
        const unsigned char* bytes;
        std::size_t size;
    };
    // Keeps the old bytes of writes about to be made in this order, only
    // where they differ from the new ones and are not kept yet, and the
    // checksums of the blocks below base_eof that they change, as each write
    // leaves them; one append to the journal for all. Must come before the
    // writes. With states_only, the old bytes are not kept (a write that
    // needs no undo but changes blocks that the journal checks).
    bool save_changes(const std::vector<Change>& changes, bool states_only = false);

    // HDF5 is about to use the file up to `end`: a journal that begins
    // before it moves beyond it first, valid at every step.
    bool make_room(haddr_t end, bool durable);
    // Whether records are in the file (the file is longer than HDF5's bytes).
    bool written() const { return live_ && written_; }
    // Where the records end: the room up to the trailer is free.
    haddr_t records_end() const { return end_; }
    // Forces what is kept to the disk (the durable mode).
    bool sync();
    // The epoch's changes are all in the file: the journal is cut off, and
    // the file ends at data_end again.
    bool finish(haddr_t data_end, bool durable);
    const std::string& error() const { return error_; }

private:
    using Part = std::pair<const unsigned char*, std::size_t>;
    bool fail(const std::string& what);
    bool append(const std::vector<Part>& parts);
    bool append(const std::vector<unsigned char>& records);
    bool place_trailer(haddr_t at, haddr_t header_at);
    bool keep_old(haddr_t addr, haddr_t end, const unsigned char* old, std::vector<unsigned char>& out);

    int fd_ = -1;
    bool live_ = false;
    bool written_ = false;   // the header and a trailer are in the file
    haddr_t at_ = 0;         // the header's address
    haddr_t end_ = 0;        // where the next record goes
    haddr_t trailer_ = 0;    // the trailer's address: records must end before it
    haddr_t base_eof_ = 0;
    haddr_t room_ = 0;       // space left past HDF5's end when the journal is placed
    haddr_t ahead_ = 0;      // what the save under way may still append
    std::uint64_t seed_ = 0;
    std::map<haddr_t, haddr_t> saved_;  // start -> end of the kept ranges, disjoint
    std::vector<unsigned char> old_;    // a piece of the file as it is, to compare
    std::vector<unsigned char> out_, hashes_;  // records and block states of a save
    std::string error_;
};

enum class Recovery { kNothing, kRecovered, kBusy, kRefused, kFailed };

// Undoes an epoch that a kill cut short, in the file open as fd (read-write,
// under the caller's exclusive lock): when a journal ends the file, and every
// block it would undo holds what the epoch left there (its old bytes, or a
// state the epoch wrote), the old bytes go back and the file is cut back to
// its size before the epoch, or to the end its superblock then states if that
// is later (durable: forced to disk). kRefused, with why, when some block
// holds anything else (another program wrote the file since): the file and
// the journal are left as they are.
Recovery recover(int fd, bool durable, std::string& why);

// Whether a journal ends the file open as fd (read-only will do).
bool holds_journal(int fd);

// The journal that earlier builds of the library kept beside the file, as
// "NAME.videz5-journal", for files killed under them: applied as they did
// when neither it nor the file is in use (kBusy), only when it belongs to the
// file (its inode), is owned by the file's owner and writable by nobody else
// (kRefused otherwise: another user could have put it there).
std::string journal_name(const std::string& name);
Recovery recover_beside(const std::string& name, int locked_fd, bool durable, std::string& why);

// Cuts a journal off the end of the file open as fd (under the caller's
// exclusive lock) without undoing anything: the file stays as the kill and
// whatever came after left it. kNothing when no journal ends the file.
Recovery discard(int fd, std::string& why);

// Both of the above for the file under name: open as locked_fd under the
// caller's exclusive lock, or (locked_fd negative) opened and locked here,
// kBusy when a live writer holds it.
Recovery recover_file(const std::string& name, int locked_fd, bool durable, std::string& why);

// A 64-bit checksum of bytes, seeded (the journal's records and blocks).
std::uint64_t journal_hash(std::uint64_t seed, const unsigned char* bytes, std::size_t size);

}  // namespace videz5::detail
