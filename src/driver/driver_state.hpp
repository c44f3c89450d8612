// What the driver keeps per open file, and the rules that hold between its
// parts. Private to src/driver.
//
// The positions in a file, and how they relate (checked at the entry and exit
// of commit, driver_write and driver_truncate in builds with VIDEZ5_INVARIANTS):
//
//   eoa                HDF5's end of allocation. HDF5 writes only below it.
//   eof                HDF5's bytes on disk: the file's size, but for a live
//                      undo journal behind them.
//   stated_eof         the end that the superblock on disk states.
//   pending_stated_eof the end that the superblock waiting in `pending` states.
//   committed          the end of allocation that the file on disk describes:
//                      nothing on disk refers to anything from here on.
//   epoch_eof          eof when the current commit epoch began: bytes below it
//                      change in place, bytes from it on are new.
//
//   1. stated_eof <= eof: HDF5 refuses a file that ends before its superblock says.
//   2. epoch_eof <= eof: the file only grows within an epoch; a truncation
//      starts a new one.
//   3. pending regions are disjoint and none is empty.
//   4. A journal in the file lies past HDF5's bytes (eof and what is pending;
//      eoa may pass it until HDF5 writes there, and the journal moves first).
//
// committed is unknown (HADDR_UNDEF) until the session's first metadata write
// (then the smaller of eoa and eof), and becomes eoa at each commit of the
// superblock; regions from it on are new space, written first.
#pragma once

#include "commit_order.hpp"
#include "hdf5_format.hpp"
#include "undo_journal.hpp"

#include <sys/types.h>

#include <array>
#include <map>
#include <mutex>
#include <string>

namespace videz5::detail {

struct State;

// The largest address HDF5 may use through this driver.
inline constexpr haddr_t kMaxAddr = (static_cast<haddr_t>(1) << 63) - 1;

// What H5Fget_vfd_handle hands out: the file descriptor first, as for HDF5's
// POSIX driver, then the state that the library's own reads past HDF5 need.
struct VfdHandle {
    int fd;
    State* state;
};

struct State {
    std::string name;
    int fd = -1;
    VfdHandle vfd_handle{-1, nullptr};
    // HDF5 calls the driver under its own lock; FileBytes::read comes from
    // outside it, so what it looks at (pending) changes only under this one.
    std::mutex pending_lock;
    dev_t device = 0;
    ino_t inode = 0;
    haddr_t eoa = 0;
    haddr_t eof = 0;
    haddr_t stated_eof = 0;  // at open, the file's size will do
    haddr_t pending_stated_eof = 0;
    haddr_t committed = HADDR_UNDEF;  // known at the first metadata write
    Regions pending;  // metadata not written yet, by address (and small raw data in new space)
    std::size_t pending_raw = 0;  // bytes of raw data among them
    // Metadata read or written in this session: address -> type. A write in
    // place to anything else reuses space that HDF5 freed in this session.
    std::map<haddr_t, H5FD_mem_t> known;
    // Entries of the group index nodes as read in this session, by address.
    std::map<haddr_t, unsigned> index_entries;
    // Local heap prefixes as they stand on disk, from this session's reads and
    // writes: the first of the three writes of a heap pair starts from the old one.
    std::map<haddr_t, std::array<unsigned char, format::kHeapPrefix>> heap_prefixes;

    haddr_t epoch_eof = 0;
    bool journal_epoch = false;   // this epoch changes raw data in place: journal all of it
    bool journal_always = false;  // a file whose structures the commit order does not know
    UndoJournal journal;

    // The newer format's superblock at superblock_addr, with consistency flags
    // that a killed writer left set cleared, as HDF5's h5clear -s would; shown
    // to HDF5 in place of the stored one once a lock shows that nobody writes.
    haddr_t superblock_addr = HADDR_UNDEF;
    bool stale_flags = false;
    bool show_cleared = false;
    std::array<unsigned char, format::kNewSuperblock> cleared{};

    // The superblock is looked at once the file is locked (HDF5 locks it
    // before it reads anything), at the first read: what another writer
    // changed before the lock is seen. The first bytes it read serve HDF5's
    // own reads of them until anything is written there.
    bool looked = false;
    bool locked = false;
    bool head_valid = false;
    std::array<unsigned char, format::kNewSuperblock> head{};
};

// The first pending region that ends after addr: where overlaps with a range from addr begin.
inline Regions::iterator first_after(Regions& pending, haddr_t addr) {
    auto it = pending.upper_bound(addr);
    if (it != pending.begin() && std::prev(it)->second.end() > addr) --it;
    return it;
}

// The superblock's flags as h5clear -s would leave them (h5clear.cpp): looked
// at before the first read or write of a session, and again after a recovery.
void look_once(State& s);

#ifdef VIDEZ5_INVARIANTS
// Ends the process, naming the rule and where, when one of the rules above does not hold.
void check_state(const State& s, const char* where);
#define VIDEZ5_CHECK_STATE(s) check_state(s, __func__)
#else
#define VIDEZ5_CHECK_STATE(s) ((void)0)
#endif

}  // namespace videz5::detail
