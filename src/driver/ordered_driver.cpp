// The file driver under every file the library opens: HDF5's plain POSIX file
// access, except for how changes reach the disk.
//
// HDF5 keeps metadata in its cache and writes it out when the file is flushed
// or closed, changed nodes first (a symbol table node that split, a B-tree
// node, a grown heap) and the superblock with the new end of allocation last.
// A process killed between those writes leaves nodes that point at pieces not
// written yet, or beyond the end the superblock states: the objects being
// written are unreadable, and a split node loses the links it moved, objects
// that earlier calls had stored. Runs are killed by schedulers, so this driver
// holds metadata writes back and commits them at each flush and close in the
// order that commit_order.hpp gives, which keeps the file readable with every
// link intact after each write.
//
// Where no order is enough, the changes of a commit epoch (from one commit to
// the next) are undone after a kill instead (undo_journal.hpp): arrays
// overwritten in place, a group index node that splits, and every change to a
// file in HDF5's newer format (superblock version 2 or 3), whose structures
// this order does not know.
//
// New files are not made through this driver: they get their first bytes, a
// whole empty HDF5 file, in one write before HDF5 opens them. What ends up on
// disk is exactly what HDF5 writes, so the format readers see is unchanged;
// there is no driver information block.
#include "driver.hpp"
#include "commit_order.hpp"
#include "undo_journal.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace videz5::detail {
namespace {

// The superblock of HDF5's newer format (version 2 or 3) with 8-byte
// addresses: signature, version, sizes, consistency flags, four addresses, checksum.
constexpr std::size_t kNewSuperblock = 48;
constexpr std::size_t kSuperblockFlags = 11;
constexpr unsigned char kWriteAccess = 0x01;
constexpr unsigned char kSwmrWriteAccess = 0x04;
constexpr std::size_t kHeapPrefix = 32;  // with 8-byte lengths and addresses

struct State;

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
    haddr_t eof = 0;  // bytes on disk
    // The end that the superblock on disk states (at open, the file's size will
    // do), and the end that the superblock waiting to be committed states. HDF5
    // refuses a file that ends before its superblock says.
    haddr_t stated_eof = 0;
    haddr_t pending_stated_eof = 0;
    // The end of allocation that the file on disk describes: space from here on
    // is referred to by nothing yet. Known at the first metadata write.
    haddr_t committed = HADDR_UNDEF;
    std::map<haddr_t, Region> pending;  // metadata not written yet, by address; never overlapping
    // Metadata read or written in this session: address -> type. A write in
    // place to anything else reuses space that HDF5 freed in this session.
    std::map<haddr_t, H5FD_mem_t> known;
    // Entries of the group index nodes as read in this session, by address.
    std::map<haddr_t, unsigned> index_entries;
    // Local heap prefixes as they stand on disk, from this session's reads and
    // writes: the first of the three writes of a heap pair starts from the old one.
    std::map<haddr_t, std::array<unsigned char, kHeapPrefix>> heap_prefixes;

    // The file's size when the current commit epoch began: bytes below it are
    // changed in place, bytes from it on are new.
    haddr_t epoch_eof = 0;
    bool journal_epoch = false;    // this epoch changes raw data in place: journal all of it
    bool journal_always = false;   // a file in the newer format
    bool journal_unavailable = false;  // its directory takes no journal: ordered writes only
    UndoJournal journal;

    // The newer format's superblock at superblock_addr, with consistency flags
    // that a killed writer left set cleared, as HDF5's h5clear -s would; shown
    // to HDF5 in place of the stored one once a lock shows that nobody writes.
    haddr_t superblock_addr = HADDR_UNDEF;
    bool stale_flags = false;
    bool show_cleared = false;
    std::array<unsigned char, kNewSuperblock> cleared{};

    // The superblock is looked at once the file is locked (HDF5 locks it
    // before it reads anything), at the first read: what another writer
    // changed before the lock is seen. The first bytes it read serve HDF5's
    // own reads of them until anything is written there.
    bool looked = false;
    bool locked = false;
    bool head_valid = false;
    std::array<unsigned char, kNewSuperblock> head{};
};

// HDF5 hands this back to every callback as its H5FD_t.
struct File {
    H5FD_t pub;  // must come first
    State* state;
};

State& state_of(const H5FD_t* file) { return *reinterpret_cast<const File*>(file)->state; }

constexpr haddr_t kMaxAddr = (static_cast<haddr_t>(1) << 63) - 1;

// The latest error of this thread, for a failure that must be told after HDF5 is done.
thread_local std::string latest_error;

// Errors name the function and line that found them, on HDF5's error stack.
void report_at(const char* func, unsigned line, hid_t major, hid_t minor, const std::string& message) {
    latest_error = message;
    H5Epush2(H5E_DEFAULT, __FILE__, func, line, H5E_ERR_CLS, major, minor, "%s", message.c_str());
}

// A commit that fails while HDF5 closes the file must not fail HDF5's close:
// HDF5 1.10 then keeps an identifier to a file it has already freed, and the
// process crashes when it exits. The file keeps what it held before (the
// commit order, or the journal at the next open); the failure is kept here
// for the library to tell once the close is done.
std::mutex failures_mutex;
std::map<std::string, std::string> failed_closes;

herr_t close_time_failure(State& s) {
    {
        const std::lock_guard<std::mutex> hold(failures_mutex);
        failed_closes[s.name] = latest_error;
    }
    s.pending.clear();
    return 0;
}
#define VIDEZ5_REPORT(major, minor, message) report_at(__func__, __LINE__, major, minor, message)

std::string errno_text(int error) {
    return "errno = " + std::to_string(error) + ", error message = '" + std::strerror(error) + "'";
}

std::atomic<bool>& durable_flag() {
    static std::atomic<bool> flag = [] {
        const char* v = std::getenv("VIDEZ5_DURABLE");
        if (v == nullptr) return false;
        const std::string s(v);
        return s == "1" || s == "yes" || s == "on" || s == "true" || s == "YES" || s == "ON" || s == "TRUE";
    }();
    return flag;
}

// 0, or an errno value. A write that makes no progress is an error, not a
// reason to try again for good.
int write_fully(int fd, const unsigned char* bytes, std::size_t size, haddr_t addr) {
    while (size > 0) {
        const ssize_t n = pwrite(fd, bytes, std::min<std::size_t>(size, 1U << 30), static_cast<off_t>(addr));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;  // fault-check: no-progress-is-an-error
        bytes += n;
        size -= static_cast<std::size_t>(n);
        addr += static_cast<haddr_t>(n);
    }
    return 0;
}

bool write_reported(int fd, const unsigned char* bytes, std::size_t size, haddr_t addr, const char* func,
                    unsigned line) {
    const int error = write_fully(fd, bytes, size, addr);
    if (error != 0) report_at(func, line, H5E_IO, H5E_WRITEERROR, "file write failed: " + errno_text(error));
    return error == 0;
}

bool sync_data(const State& s) {
    if (!durable() || fdatasync(s.fd) == 0) return true;
    VIDEZ5_REPORT(H5E_IO, H5E_WRITEERROR, "file sync failed: " + errno_text(errno));
    return false;
}

// The first pending region that ends after addr: where overlaps with a range from addr begin.
std::map<haddr_t, Region>::iterator first_after(std::map<haddr_t, Region>& pending, haddr_t addr) {
    auto it = pending.upper_bound(addr);
    if (it != pending.begin() && std::prev(it)->second.end() > addr) --it;
    return it;
}

// Keeps pending regions disjoint: a write over pending bytes replaces them.
void add_pending(State& s, haddr_t addr, H5FD_mem_t type, const unsigned char* bytes, std::size_t size) {
    Region incoming{addr, type, std::vector<unsigned char>(bytes, bytes + size)};
    for (auto it = first_after(s.pending, addr); it != s.pending.end() && it->first < incoming.end();) {
        const Region& old = it->second;
        if (old.addr != incoming.addr || old.bytes.size() != incoming.bytes.size()) {
            const haddr_t lo = std::min(old.addr, incoming.addr);
            const haddr_t hi = std::max(old.end(), incoming.end());
            std::vector<unsigned char> folded(hi - lo);
            std::copy(old.bytes.begin(), old.bytes.end(), folded.begin() + (old.addr - lo));
            std::copy(incoming.bytes.begin(), incoming.bytes.end(), folded.begin() + (incoming.addr - lo));
            incoming.addr = lo;
            incoming.bytes = std::move(folded);
            incoming.merged = true;
        }
        it = s.pending.erase(it);
    }
    const haddr_t at = incoming.addr;
    s.pending.emplace(at, std::move(incoming));
}

bool starts_heap_prefix(const unsigned char* bytes, std::size_t size) {
    return size >= kHeapPrefix && std::memcmp(bytes, "HEAP", 4) == 0 && bytes[4] == 0;
}

// Bytes at [addr, addr + size) are about to change on disk: heap prefixes
// known there are no longer known.
void forget_heap_prefixes(State& s, haddr_t addr, std::size_t size) {
    auto it = s.heap_prefixes.lower_bound(addr >= kHeapPrefix ? addr - kHeapPrefix + 1 : 0);
    while (it != s.heap_prefixes.end() && it->first < addr + size) it = s.heap_prefixes.erase(it);
}

// Bytes now on disk at addr: remembered when they begin a heap prefix.
void note_on_disk(State& s, H5FD_mem_t type, haddr_t addr, const unsigned char* bytes, std::size_t size) {
    if (type != H5FD_MEM_LHEAP || !starts_heap_prefix(bytes, size)) return;
    std::array<unsigned char, kHeapPrefix>& kept = s.heap_prefixes[addr];
    std::memcpy(kept.data(), bytes, kHeapPrefix);
}

bool write_noted(State& s, H5FD_mem_t type, const unsigned char* bytes, std::size_t size, haddr_t addr,
                 const char* func, unsigned line) {
    forget_heap_prefixes(s, addr, size);
    if (!write_reported(s.fd, bytes, size, addr, func, line)) return false;
    note_on_disk(s, type, addr, bytes, size);
    return true;
}
#define VIDEZ5_WRITE_NOTED(s, type, bytes, size, addr) write_noted(s, type, bytes, size, addr, __func__, __LINE__)

// Step one of three for a heap pair: the prefix on disk with its free list
// emptied. When what is on disk is no heap prefix, nothing is staged.
bool write_emptied_prefix(State& s, haddr_t addr) {
    unsigned char old[kHeapPrefix];
    const auto known = s.heap_prefixes.find(addr);
    if (known != s.heap_prefixes.end())
        std::memcpy(old, known->second.data(), sizeof old);
    else if (pread(s.fd, old, sizeof old, static_cast<off_t>(addr)) != static_cast<ssize_t>(sizeof old))
        return true;
    if (!empty_heap_free_list(old, sizeof old)) return true;
    return VIDEZ5_WRITE_NOTED(s, H5FD_MEM_LHEAP, old, sizeof old, addr);
}

// Whether the commit takes entries out of a group index node in place: a node
// that split. Its entries then move to a new node that the parent must point
// to, two changes in place that no order makes safe (half of it lists the
// moved names twice, or not at all), so such a commit is journaled.
bool index_node_shrinks(const State& s) {
    const FileView file{s.committed, s.known};
    for (const auto& [addr, r] : s.pending) {
        unsigned now;
        const auto before = s.index_entries.find(addr);
        if (r.type != H5FD_MEM_BTREE || before == s.index_entries.end() || !rewrites_known_object(file, r) ||
            !index_node_entries(r.bytes.data(), r.bytes.size(), now))
            continue;
        if (now < before->second) return true;  // fault-check: split-journaled
    }
    return false;
}

// Whether the commit adds an entry in place to a chunk index node (a B-tree
// node of type 1): a series grown by a new chunk. The dataset's header, which
// states the new extent, is written before the node in the order above; half
// of it would show a step whose chunk the index does not list yet.
bool chunk_index_grows(const State& s) {
    const FileView file{s.committed, s.known};
    for (const auto& [addr, r] : s.pending)
        if (r.type == H5FD_MEM_BTREE && r.bytes.size() > 5 && std::memcmp(r.bytes.data(), "TREE", 4) == 0 &&
            r.bytes[4] == 1 && rewrites_known_object(file, r))
            return true;
    return false;
}

// The range of UnseenRawWrites; empty when none lives.
thread_local haddr_t unseen_from = 0, unseen_to = 0;

// Whether a raw write over bytes already in the file must keep their old values first.
bool needs_undo(const State& s, haddr_t addr, std::size_t size) {
    return addr < s.epoch_eof && !(addr >= unseen_from && addr + size <= unseen_to);
}

// False: no journal, and the change must not go ahead.
bool start_journal(State& s) {
    if (s.journal.active() || s.journal_unavailable) return true;
    if (s.journal.start(s.name, s.fd, s.epoch_eof)) return true;
    // A directory that takes no new file (its permissions, a read-only mount
    // of a writable file's directory): the changes go ahead, ordered only, as
    // the README says.
    if (errno == EACCES || errno == EPERM || errno == EROFS) {
        s.journal_unavailable = true;
        return true;
    }
    VIDEZ5_REPORT(H5E_IO, H5E_WRITEERROR, s.journal.error());
    return false;
}

// Keeps the old bytes of a change in place before it is made, where they
// differ: an array rewritten with a few values changed keeps only those.
bool journal_change(State& s, haddr_t addr, const unsigned char* bytes, std::size_t size) {
    if (addr >= s.epoch_eof) return true;
    if (!start_journal(s)) return false;
    if (!s.journal.active()) return true;
    if (s.journal.save_changes({{addr, bytes, size}})) return true;
    VIDEZ5_REPORT(H5E_IO, H5E_WRITEERROR, s.journal.error());
    return false;
}

// The same for every pending region (where its bytes change), in one write to the journal.
bool journal_pending(State& s) {
    std::vector<UndoJournal::Change> changes;
    for (const auto& [addr, r] : s.pending)
        if (addr < s.epoch_eof) changes.push_back({addr, r.bytes.data(), r.bytes.size()});
    if (changes.empty()) return true;
    if (!start_journal(s)) return false;
    if (!s.journal.active() || s.journal.save_changes(changes)) return true;
    VIDEZ5_REPORT(H5E_IO, H5E_WRITEERROR, s.journal.error());
    return false;
}

// The epoch's changes are all in the file: the next one starts from here.
bool end_epoch(State& s) {
    bool ok = true;
    if (s.journal.active()) {
        ok = sync_data(s);
        if (ok && !s.journal.finish(durable())) {
            VIDEZ5_REPORT(H5E_IO, H5E_WRITEERROR, s.journal.error());
            ok = false;
        }
    }
    s.epoch_eof = s.eof;
    s.journal_epoch = false;
    return ok;
}

bool commit(State& s) {
    if (s.pending.empty()) return end_epoch(s);
    const std::vector<CommitStep> order = commit_order(s.pending, FileView{s.committed, s.known});

    if (s.journal_epoch || s.journal_always || index_node_shrinks(s) || chunk_index_grows(s)) {
        if (!journal_pending(s)) return false;
        if (durable() && !s.journal.sync()) return false;
    }

    bool extended = false;
    int stage = 0;
    for (const CommitStep& step : order) {
        const Region& r = *step.region;
        // In the durable mode each stage is on disk before the next relies on it.
        if (step.stage != stage && !s.journal.active() && !sync_data(s)) return false;
        stage = step.stage;
        if (!extended && r.addr < s.committed) {
            // The superblock must never state an end beyond the end of the file.
            if (s.eoa > s.eof && ftruncate(s.fd, static_cast<off_t>(s.eoa)) < 0) {
                VIDEZ5_REPORT(H5E_IO, H5E_SEEKERROR, "unable to extend file: " + errno_text(errno));
                return false;
            }
            s.eof = std::max(s.eof, s.eoa);
            extended = true;
        }
        if (step.heap_data != nullptr && !write_emptied_prefix(s, r.addr)) return false;
        for (const Region* w : {step.heap_data, step.region}) {
            if (w == nullptr) continue;
            if (!VIDEZ5_WRITE_NOTED(s, w->type, w->bytes.data(), w->bytes.size(), w->addr)) return false;
            s.eof = std::max(s.eof, w->end());
        }
    }
    for (const auto& [addr, r] : s.pending) {
        s.known[addr] = r.type;
        unsigned entries;
        if (index_node_entries(r.bytes.data(), r.bytes.size(), entries)) s.index_entries[addr] = entries;
    }
    const bool superblock = s.pending.count(0) != 0;
    // The superblock just written states the current end; without it the old one stands.
    if (superblock) {
        s.committed = s.eoa;
        s.stated_eof = s.pending_stated_eof;
    }
    s.pending.clear();
    if (!s.journal.active() && !sync_data(s)) return false;
    return end_epoch(s);
}

// HDF5's checksum of metadata in the newer format: Bob Jenkins' lookup3
// hashlittle, byte by byte as HDF5 computes it.
std::uint32_t lookup3(const unsigned char* k, std::size_t length) {
    auto rot = [](std::uint32_t x, int r) { return (x << r) | (x >> (32 - r)); };
    std::uint32_t a, b, c;
    a = b = c = 0xdeadbeef + static_cast<std::uint32_t>(length);
    auto word = [&k](int i) {
        return static_cast<std::uint32_t>(k[i]) | static_cast<std::uint32_t>(k[i + 1]) << 8 |
               static_cast<std::uint32_t>(k[i + 2]) << 16 | static_cast<std::uint32_t>(k[i + 3]) << 24;
    };
    while (length > 12) {
        a += word(0);
        b += word(4);
        c += word(8);
        a -= c; a ^= rot(c, 4);  c += b;
        b -= a; b ^= rot(a, 6);  a += c;
        c -= b; c ^= rot(b, 8);  b += a;
        a -= c; a ^= rot(c, 16); c += b;
        b -= a; b ^= rot(a, 19); a += c;
        c -= b; c ^= rot(b, 4);  b += a;
        length -= 12;
        k += 12;
    }
    if (length == 0) return c;
    std::uint32_t tail[3] = {0, 0, 0};
    for (std::size_t i = 0; i < length; ++i) tail[i / 4] |= static_cast<std::uint32_t>(k[i]) << (8 * (i % 4));
    a += tail[0];
    b += tail[1];
    c += tail[2];
    c ^= b; c -= rot(b, 14);
    a ^= c; a -= rot(c, 11);
    b ^= a; b -= rot(a, 25);
    c ^= b; c -= rot(b, 16);
    a ^= c; a -= rot(c, 4);
    b ^= a; b -= rot(a, 14);
    c ^= b; c -= rot(b, 24);
    return c;
}

// Finds the superblock (at 0, 512, 1024, ... as HDF5 looks for it) and notes
// a newer-format one: its changes are always journaled, and its consistency
// flags, when a killed writer left them set, are shown cleared once locked.
void look_at_superblock(State& s) {
    static const unsigned char kSignature[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};
    s.looked = true;
    s.head_valid = false;
    s.journal_always = false;
    s.superblock_addr = HADDR_UNDEF;
    s.stale_flags = false;
    for (haddr_t at = 0; at + kNewSuperblock <= s.eof; at = at == 0 ? 512 : at * 2) {
        std::array<unsigned char, kNewSuperblock> block;
        if (pread(s.fd, block.data(), block.size(), static_cast<off_t>(at)) != static_cast<ssize_t>(block.size()))
            return;
        if (at == 0) {
            s.head = block;
            s.head_valid = true;
        }
        if (std::memcmp(block.data(), kSignature, sizeof kSignature) != 0) continue;
        const unsigned version = block[8];
        if (version < 2) return;
        s.journal_always = true;
        s.superblock_addr = at;
        const unsigned char flags = block[kSuperblockFlags];
        // A live single-writer-multiple-reader writer keeps its flags: HDF5's refusal stands.
        if (block[9] != 8 || (flags & kWriteAccess) == 0 || (flags & kSwmrWriteAccess) != 0) return;
        block[kSuperblockFlags] = static_cast<unsigned char>(flags & ~kWriteAccess);
        const std::uint32_t sum = lookup3(block.data(), kNewSuperblock - 4);
        for (int i = 0; i < 4; ++i) block[kNewSuperblock - 4 + i] = static_cast<unsigned char>(sum >> (8 * i));
        s.cleared = block;
        s.stale_flags = true;
        return;
    }
}

// Before the first read or write of a session, and again after a recovery.
void look_once(State& s) {
    if (s.looked) return;
    look_at_superblock(s);
    // Locked: no live writer has the file, so flags that say one has are stale.
    s.show_cleared = s.locked && s.stale_flags;  // fault-check: stale-flags-cleared
}

// Whether HDF5 will call the lock callback: its environment variable can
// switch file locking off.
bool hdf5_locks_files() {
    const char* v = std::getenv("HDF5_USE_FILE_LOCKING");
    return v == nullptr || (std::strcmp(v, "FALSE") != 0 && std::strcmp(v, "0") != 0);
}

// C callbacks: nothing may unwind through HDF5.
template <typename F>
herr_t guarded(F&& body) {
    try {
        return body() ? 0 : -1;
    } catch (const std::bad_alloc&) {
        VIDEZ5_REPORT(H5E_RESOURCE, H5E_CANTALLOC, "out of memory");
        return -1;
    }
}

H5FD_t* driver_open(const char* name, unsigned flags, hid_t, haddr_t maxaddr) {
    if (name == nullptr || *name == '\0') {
        VIDEZ5_REPORT(H5E_ARGS, H5E_BADVALUE, "invalid file name");
        return nullptr;
    }
    if (maxaddr == 0 || maxaddr == HADDR_UNDEF || maxaddr > kMaxAddr) {
        VIDEZ5_REPORT(H5E_ARGS, H5E_BADRANGE, "bogus maxaddr");
        return nullptr;
    }
    // What a kill left half done is undone before anyone reads the file: by
    // a writer once it holds HDF5's lock, else here.
    std::string why;
    if ((!(flags & H5F_ACC_RDWR) || !hdf5_locks_files()) && recover(name, -1, durable(), why) == Recovery::kFailed) {
        VIDEZ5_REPORT(H5E_FILE, H5E_CANTOPENFILE, why);
        return nullptr;
    }
    int mode = (flags & H5F_ACC_RDWR) ? O_RDWR : O_RDONLY;
    if (flags & H5F_ACC_TRUNC) mode |= O_TRUNC;
    if (flags & H5F_ACC_CREAT) mode |= O_CREAT;
    if (flags & H5F_ACC_EXCL) mode |= O_EXCL;
    const int fd = ::open(name, mode | O_CLOEXEC, 0666);
    if (fd < 0) {
        VIDEZ5_REPORT(H5E_FILE, H5E_CANTOPENFILE,
                      std::string("unable to open file: name = '") + name + "', " + errno_text(errno));
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) < 0) {
        VIDEZ5_REPORT(H5E_FILE, H5E_BADFILE, "unable to fstat file: " + errno_text(errno));
        ::close(fd);
        return nullptr;
    }
    // HDF5 takes a device for an empty file to create in (and /dev/null then
    // brings it down): only regular files hold HDF5 files.
    if (!S_ISREG(st.st_mode)) {
        VIDEZ5_REPORT(H5E_FILE, H5E_BADFILE, std::string("not a regular file: name = '") + name + "'");
        ::close(fd);
        return nullptr;
    }
    try {
        auto state = std::make_unique<State>();
        state->name = name;
        state->fd = fd;
        state->vfd_handle = VfdHandle{fd, state.get()};
        state->device = st.st_dev;
        state->inode = st.st_ino;
        state->eof = static_cast<haddr_t>(st.st_size);
        state->epoch_eof = state->stated_eof = state->eof;
        File* file = new File{};
        file->state = state.release();
        return &file->pub;
    } catch (const std::bad_alloc&) {
        ::close(fd);
        VIDEZ5_REPORT(H5E_RESOURCE, H5E_CANTALLOC, "out of memory");
        return nullptr;
    }
}

herr_t driver_close(H5FD_t* file) {
    File* f = reinterpret_cast<File*>(file);
    State& s = *f->state;
    if (guarded([&s] {
        const std::lock_guard<std::mutex> hold(s.pending_lock);
        return commit(s);
    }) < 0) close_time_failure(s);
    // The journal first: closing the file releases its lock.
    s.journal.release();  // fault-check: journal-gone-before-unlock
    if (::close(s.fd) < 0) {
        VIDEZ5_REPORT(H5E_IO, H5E_CANTCLOSEFILE, "unable to close file: " + errno_text(errno));
        close_time_failure(s);
    }
    delete f->state;
    delete f;
    return 0;
}

int driver_compare(const H5FD_t* a, const H5FD_t* b) {
    const State& x = state_of(a);
    const State& y = state_of(b);
    if (x.device != y.device) return x.device < y.device ? -1 : 1;
    if (x.inode != y.inode) return x.inode < y.inode ? -1 : 1;
    return 0;
}

herr_t driver_query(const H5FD_t*, unsigned long* flags) {
    // The allocation features of HDF5's own POSIX driver, so that objects land
    // where they always did. No metadata accumulation: it would fold entries of
    // different kinds into one write, and the commit order needs to tell them apart.
    if (flags != nullptr)
        *flags = H5FD_FEAT_AGGREGATE_METADATA | H5FD_FEAT_DATA_SIEVE | H5FD_FEAT_AGGREGATE_SMALLDATA |
                 H5FD_FEAT_POSIX_COMPAT_HANDLE | H5FD_FEAT_DEFAULT_VFD_COMPATIBLE;
    return 0;
}

haddr_t driver_get_eoa(const H5FD_t* file, H5FD_mem_t) { return state_of(file).eoa; }

herr_t driver_set_eoa(H5FD_t* file, H5FD_mem_t, haddr_t addr) {
    if (addr > kMaxAddr) {
        VIDEZ5_REPORT(H5E_ARGS, H5E_OVERFLOW, "address overflow");
        return -1;
    }
    state_of(file).eoa = addr;
    return 0;
}

haddr_t driver_get_eof(const H5FD_t* file, H5FD_mem_t) {
    const State& s = state_of(file);
    return s.pending.empty() ? s.eof : std::max(s.eof, s.pending.rbegin()->second.end());
}

herr_t driver_get_handle(H5FD_t* file, hid_t, void** handle) {
    if (handle == nullptr) return -1;
    *handle = &state_of(file).vfd_handle;
    return 0;
}

// Copies what lies in [from, from + size) of an image at `from` into a read of [addr, addr + n).
void overlay(unsigned char* out, haddr_t addr, std::size_t n, const unsigned char* image, haddr_t from,
             std::size_t size) {
    const haddr_t lo = std::max(from, addr);
    const haddr_t hi = std::min(from + size, addr + n);
    if (lo < hi) std::memcpy(out + (lo - addr), image + (lo - from), hi - lo);
}

herr_t driver_read(H5FD_t* file, H5FD_mem_t type, hid_t, haddr_t addr, size_t size, void* buffer) {
    State& s = state_of(file);
    if (addr == HADDR_UNDEF || addr > kMaxAddr || size > kMaxAddr - addr) {
        VIDEZ5_REPORT(H5E_ARGS, H5E_OVERFLOW, "addr overflow");
        return -1;
    }
    return guarded([&] {
        look_once(s);
        auto* out = static_cast<unsigned char*>(buffer);
        haddr_t at = addr;
        std::size_t left = size;
        if (s.head_valid && addr + size <= s.head.size()) {
            std::memcpy(out, s.head.data() + addr, size);
            left = 0;
        }
        while (left > 0) {
            const ssize_t n = pread(s.fd, out, std::min<std::size_t>(left, 1U << 30), static_cast<off_t>(at));
            if (n < 0) {
                if (errno == EINTR) continue;
                VIDEZ5_REPORT(H5E_IO, H5E_READERROR, "file read failed: " + errno_text(errno));
                return false;
            }
            if (n == 0) {  // past the end of the file: zeros, as HDF5 expects
                std::memset(out, 0, left);
                break;
            }
            out += n;
            left -= static_cast<std::size_t>(n);
            at += static_cast<haddr_t>(n);
        }
        auto* bytes = static_cast<unsigned char*>(buffer);
        // As on disk, before what waits to be committed is laid over it.
        note_on_disk(s, type, addr, bytes, size);
        if (s.show_cleared) overlay(bytes, addr, size, s.cleared.data(), s.superblock_addr, s.cleared.size());
        // What is waiting to be committed reads as already written.
        for (auto it = first_after(s.pending, addr); it != s.pending.end() && it->first < addr + size; ++it)
            overlay(bytes, addr, size, it->second.bytes.data(), it->second.addr, it->second.bytes.size());
        if (type != H5FD_MEM_DRAW) s.known.emplace(addr, type);
        // HDF5 reads a node before it changes it: what it held is known without reading again.
        unsigned entries;
        if (type == H5FD_MEM_BTREE && index_node_entries(bytes, size, entries)) s.index_entries[addr] = entries;
        return true;
    });
}

herr_t driver_write(H5FD_t* file, H5FD_mem_t type, hid_t, haddr_t addr, size_t size, const void* buffer) {
    State& s = state_of(file);
    if (addr == HADDR_UNDEF || addr > kMaxAddr || size > kMaxAddr - addr) {
        VIDEZ5_REPORT(H5E_ARGS, H5E_OVERFLOW, "addr overflow");
        return -1;
    }
    return guarded([&] {
        const std::lock_guard<std::mutex> hold(s.pending_lock);
        look_once(s);
        if (addr < s.head.size()) s.head_valid = false;
        const auto* bytes = static_cast<const unsigned char*>(buffer);
        const auto next = first_after(s.pending, addr);
        const bool touches_pending = next != s.pending.end() && next->first < addr + size;
        // Raw data may go at once, unless the bytes lie under metadata still to
        // be committed (their order must hold). Over data that is already in
        // the file, the old values are kept first: the whole epoch can then be
        // undone, the array with everything that belongs with it.
        if (type == H5FD_MEM_DRAW && !touches_pending) {
            if (needs_undo(s, addr, size)) {  // fault-check: overwrite-journaled
                s.journal_epoch = true;
                if (!journal_change(s, addr, bytes, size) || (durable() && !s.journal.sync())) return false;
            }
            if (!VIDEZ5_WRITE_NOTED(s, type, bytes, size, addr)) return false;
            s.eof = std::max(s.eof, addr + size);
            return true;
        }
        if (type == H5FD_MEM_DRAW && needs_undo(s, addr, size)) s.journal_epoch = true;
        // Once HDF5 writes its own superblock, the cleared copy has served.
        if (s.superblock_addr != HADDR_UNDEF && addr < s.superblock_addr + kNewSuperblock &&
            addr + size > s.superblock_addr)
            s.show_cleared = s.stale_flags = false;
        if (s.committed == HADDR_UNDEF) s.committed = std::min(s.eoa, s.eof);
        if (type == H5FD_MEM_SUPER) s.pending_stated_eof = s.eoa;  // HDF5 encodes its end right before
        add_pending(s, addr, type, bytes, size);
        return true;
    });
}

herr_t driver_flush(H5FD_t* file, hid_t, hbool_t closing) {
    State& s = state_of(file);
    if (guarded([&s] {
        const std::lock_guard<std::mutex> hold(s.pending_lock);
        return commit(s);
    }) == 0) return 0;
    return closing ? close_time_failure(s) : -1;
}

herr_t driver_truncate(H5FD_t* file, hid_t, hbool_t closing) {
    State& s = state_of(file);
    if (guarded([&s] {
        const std::lock_guard<std::mutex> hold(s.pending_lock);
        return commit(s);
    }) < 0) return closing ? close_time_failure(s) : -1;
    // HDF5 may give back the end of its allocation after it wrote the
    // superblock, stating the new end only with its next superblock: until
    // then the file keeps the end stated on disk, or a kill in between would
    // leave a file that HDF5 calls truncated.
    const haddr_t end = std::max(s.eoa, s.stated_eof);  // fault-check: cut-not-below-stated-end
    if (end == s.eof) return 0;
    if (ftruncate(s.fd, static_cast<off_t>(end)) < 0) {
        VIDEZ5_REPORT(H5E_IO, H5E_SEEKERROR, "unable to extend file properly: " + errno_text(errno));
        return closing ? close_time_failure(s) : -1;
    }
    if (end < s.eof) s.heap_prefixes.clear();
    s.eof = end;
    s.epoch_eof = s.eof;
    return 0;
}

herr_t driver_lock(H5FD_t* file, hbool_t rw) {
    State& s = state_of(file);
    if (flock(s.fd, (rw ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        // A file system without locks: there is nobody to exclude, go on.
        if (errno != ENOSYS) {
            VIDEZ5_REPORT(H5E_VFL, H5E_CANTLOCKFILE, "unable to lock file, " + errno_text(errno));
            return -1;
        }
        return 0;
    }
    if (rw) {
        // Nobody else has the file now: undo what a kill left half done,
        // before HDF5 reads anything, and look at the file again.
        std::string why;
        const Recovery undone = recover(s.name, s.fd, durable(), why);
        if (undone == Recovery::kFailed) {
            VIDEZ5_REPORT(H5E_FILE, H5E_CANTOPENFILE, why);
            flock(s.fd, LOCK_UN);
            return -1;
        }
        s.heap_prefixes.clear();
    }
    // The size as it stands under the lock: a writer that let go of the file
    // between the open and the lock may have grown it, and HDF5 refuses a
    // file that ends before its superblock says.
    struct stat st;
    if (fstat(s.fd, &st) == 0) s.eof = s.epoch_eof = s.stated_eof = static_cast<haddr_t>(st.st_size);
    s.locked = true;
    s.looked = false;
    return 0;
}

herr_t driver_unlock(H5FD_t* file) {
    State& s = state_of(file);
    s.show_cleared = false;
    s.locked = false;
    if (flock(s.fd, LOCK_UN) == 0 || errno == ENOSYS) return 0;
    VIDEZ5_REPORT(H5E_VFL, H5E_CANTUNLOCKFILE, "unable to unlock file, " + errno_text(errno));
    return -1;
}

H5FD_class_t make_class() {
    H5FD_class_t c{};
#if H5_VERSION_GE(1, 13, 2)
    // Newer releases refuse a class without them.
    c.version = H5FD_CLASS_VERSION;
    c.value = 0x2b7;  // from the range HDF5 leaves to private drivers
#endif
    c.name = "videz5_ordered";
    c.maxaddr = kMaxAddr;
    c.fc_degree = H5F_CLOSE_WEAK;
    c.open = driver_open;
    c.close = driver_close;
    c.cmp = driver_compare;
    c.query = driver_query;
    c.get_eoa = driver_get_eoa;
    c.set_eoa = driver_set_eoa;
    c.get_eof = driver_get_eof;
    c.get_handle = driver_get_handle;
    c.read = driver_read;
    c.write = driver_write;
    c.flush = driver_flush;
    c.truncate = driver_truncate;
    c.lock = driver_lock;
    c.unlock = driver_unlock;
    const H5FD_mem_t map[] = H5FD_FLMAP_DICHOTOMY;
    std::copy(std::begin(map), std::end(map), std::begin(c.fl_map));
    return c;
}

const H5FD_class_t kClass = make_class();

// The driver's registration, once per HDF5 life (H5close forgets
// registrations), under a lock: HDF5 may be built thread-safe and used from
// several threads.
std::mutex registration;
hid_t driver_id = H5I_INVALID_HID;

}  // namespace

hid_t ordered_driver() {
    const std::lock_guard<std::mutex> hold(registration);
    if (driver_id < 0 || H5Iget_type(driver_id) != H5I_VFL) driver_id = H5FDregister(&kClass);
    return driver_id;
}

std::string take_failed_close(const std::string& name) {
    const std::lock_guard<std::mutex> hold(failures_mutex);
    const auto found = failed_closes.find(name);
    if (found == failed_closes.end()) return {};
    std::string cause = found->second;
    failed_closes.erase(found);
    return cause.empty() ? "unknown error" : cause;
}

UnseenRawWrites::UnseenRawWrites(haddr_t addr, hsize_t size) {
    unseen_from = addr;
    unseen_to = addr + size;
}
UnseenRawWrites::~UnseenRawWrites() { unseen_from = unseen_to = 0; }

bool durable() { return durable_flag().load(); }
void set_durable(bool on) { durable_flag().store(on); }

FileBytes::FileBytes(hid_t file_id) {
    const hid_t fapl = H5Fget_access_plist(file_id);
    if (fapl < 0) return;
    void* handle = nullptr;
    if (H5Pget_driver(fapl) == ordered_driver() && H5Fget_vfd_handle(file_id, fapl, &handle) >= 0) handle_ = handle;
    H5Pclose(fapl);
}

bool FileBytes::read(haddr_t addr, std::size_t size, void* buffer) const {
    if (handle_ == nullptr || addr > kMaxAddr || size > kMaxAddr - addr) return false;
    State& s = *static_cast<const VfdHandle*>(handle_)->state;
    const std::lock_guard<std::mutex> hold(s.pending_lock);
    // Where HDF5 would see other bytes than the disk holds (metadata waiting
    // to be committed, the superblock shown with its flags cleared), only a
    // read through HDF5 tells what it sees.
    const auto next = first_after(s.pending, addr);
    if (next != s.pending.end() && next->first < addr + size) return false;
    if (s.superblock_addr != HADDR_UNDEF && addr < s.superblock_addr + kNewSuperblock &&
        addr + size > s.superblock_addr)
        return false;
    const int fd = s.fd;
    auto* out = static_cast<unsigned char*>(buffer);
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = pread(fd, out + done, size - done, static_cast<off_t>(addr + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool sync_file_and_directory(int fd, const char* name) {
    if (fdatasync(fd) != 0) return false;
    const std::string path(name);
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) return false;
    const bool ok = fsync(dir_fd) == 0;
    ::close(dir_fd);
    return ok;
}

}  // namespace videz5::detail
