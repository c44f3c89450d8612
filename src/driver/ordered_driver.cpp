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
//
// Beside this file: driver_state.hpp (what is kept per file, and its rules),
// journal_policy.cpp (when to journal), hdf5_format.cpp (what the driver
// knows of HDF5's format), h5clear.cpp (stale flags of the newer format),
// posix_io.cpp, file_bytes.cpp (reads past HDF5).
#include "driver.hpp"
#include "commit_order.hpp"
#include "driver_state.hpp"
#include "journal_policy.hpp"
#include "posix_io.hpp"
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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace videz5::detail {
namespace {

// The unit that a disk writes whole.
constexpr haddr_t kSector = 512;

// Raw writes up to this size, up to this much between commits, wait for the
// commit when they go to new space (write_to).
constexpr std::size_t kStagedRawWrite = 64 * 1024;
constexpr std::size_t kStagedRawTotal = 4 * 1024 * 1024;

// HDF5 hands this back to every callback as its H5FD_t.
struct File {
    H5FD_t pub;  // must come first
    State* state;
};

State& state_of(const H5FD_t* file) { return *reinterpret_cast<const File*>(file)->state; }

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
std::set<std::string> lockless_files;

herr_t close_time_failure(State& s) {
    {
        const std::lock_guard<std::mutex> hold(failures_mutex);
        // The first failure of the close is told: what follows it mostly follows from it.
        failed_closes.emplace(s.name, latest_error);
    }
    s.pending.clear();
    s.pending_raw = 0;
    return 0;
}
#define VIDEZ5_REPORT(major, minor, message) report_at(__func__, __LINE__, major, minor, message)

std::atomic<bool>& durable_flag() {
    static std::atomic<bool> flag = [] {
        const char* v = std::getenv("VIDEZ5_DURABLE");
        if (v == nullptr) return false;
        const std::string s(v);
        return s == "1" || s == "yes" || s == "on" || s == "true" || s == "YES" || s == "ON" || s == "TRUE";
    }();
    return flag;
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

// Bytes at [addr, addr + size) are about to change on disk: heap prefixes
// known there are no longer known.
void forget_heap_prefixes(State& s, haddr_t addr, std::size_t size) {
    auto it = s.heap_prefixes.lower_bound(addr >= format::kHeapPrefix ? addr - format::kHeapPrefix + 1 : 0);
    while (it != s.heap_prefixes.end() && it->first < addr + size) it = s.heap_prefixes.erase(it);
}

// Bytes now on disk at addr: remembered when they begin a heap prefix.
void note_on_disk(State& s, H5FD_mem_t type, haddr_t addr, const unsigned char* bytes, std::size_t size) {
    if (type != H5FD_MEM_LHEAP || !format::starts_heap_prefix(bytes, size)) return;
    std::array<unsigned char, format::kHeapPrefix>& kept = s.heap_prefixes[addr];
    std::memcpy(kept.data(), bytes, format::kHeapPrefix);
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
// emptied; false when what is on disk is no heap prefix (nothing is staged then).
bool emptied_prefix(const State& s, haddr_t addr, std::array<unsigned char, format::kHeapPrefix>& out) {
    const auto known = s.heap_prefixes.find(addr);
    if (known != s.heap_prefixes.end())
        out = known->second;
    else if (read_fully(s.fd, out.data(), out.size(), addr) != static_cast<ssize_t>(out.size()))
        return false;
    return format::empty_heap_free_list(out.data(), out.size());
}

// The end of HDF5's bytes: written, allocated, or waiting to be committed.
haddr_t hdf5_end(const State& s) {
    return std::max({s.eof, s.eoa, s.pending.empty() ? 0 : s.pending.rbegin()->second.end()});
}

bool journal_failed(const State& s) {
    VIDEZ5_REPORT(H5E_IO, H5E_WRITEERROR, s.journal.error());
    return false;
}

// Keeps the old bytes of changes in place before they are made, where they
// differ (an array rewritten with a few values changed keeps only those),
// and the states they leave their blocks in; the journal begins with the
// first of the epoch. With states_only, a change that needs no undo.
bool journal(State& s, const std::vector<UndoJournal::Change>& changes, bool states_only = false) {
    if (!s.journal.active() && !s.journal.start(s.fd, s.epoch_eof, hdf5_end(s))) return journal_failed(s);
    if (!s.journal.save_changes(changes, states_only)) return journal_failed(s);
    return !durable() || s.journal.sync() || journal_failed(s);
}

// The same for what a commit writes in place, in the order it writes it
// (the emptied heap prefixes included, which the commit makes again).
bool journal_pending(State& s, const std::vector<CommitStep>& order) {
    std::vector<UndoJournal::Change> changes;
    std::vector<std::array<unsigned char, format::kHeapPrefix>> prefixes;
    prefixes.reserve(order.size());  // no reallocation: the changes point into it
    for (const CommitStep& step : order) {
        if (step.heap_data != nullptr) {
            prefixes.emplace_back();
            if (emptied_prefix(s, step.region->addr, prefixes.back()))
                changes.push_back({step.region->addr, prefixes.back().data(), prefixes.back().size()});
        }
        for (const Region* w : {step.heap_data, step.region})
            if (w != nullptr && w->addr < s.epoch_eof) changes.push_back({w->addr, w->bytes.data(), w->bytes.size()});
    }
    return changes.empty() || journal(s, changes);
}

// The epoch's changes are all in the file: the next one starts from here.
bool end_epoch(State& s) {
    bool ok = true;
    if (s.journal.active()) {
        ok = sync_data(s);
        if (ok && !s.journal.finish(std::max(s.eof, s.stated_eof), durable())) ok = journal_failed(s);
    }
    s.epoch_eof = s.eof;
    s.journal_epoch = false;
    return ok;
}

bool commit_pending(State& s);

// Whether the commit changes, of the bytes on disk, one sector alone, and
// nothing before it did: a kill then leaves that change made or not (what
// goes to new space first is unreferenced either way), so there is nothing
// to undo. Such are the superblock's flags that HDF5's newer format sets
// when a file is opened for writing and clears when it is closed.
bool one_change_in_place(const State& s, const std::vector<CommitStep>& order) {
    if (s.journal.active()) return false;
    int in_place = 0;
    for (const CommitStep& step : order) {
        const Region& r = *step.region;
        if (r.addr >= s.epoch_eof) continue;
        const bool one_sector = r.addr / kSector == (r.end() - 1) / kSector;
        if (step.heap_data != nullptr || !one_sector || ++in_place > 1) return false;
    }
    return true;
}

// Where the run of new-space steps that begins at order[first] ends: each
// piece begins where the one before it ends.
std::size_t new_space_run_end(const std::vector<CommitStep>& order, std::size_t first) {
    std::size_t end = first + 1;
    while (end < order.size() && order[end].stage == 0 && order[end].heap_data == nullptr &&
           order[end].region->addr == order[end - 1].region->end())
        ++end;
    return end;
}

// Pieces of new space that touch go out as one write: nothing on disk refers
// to any of them yet, so their order among themselves does not matter, and a
// new record's headers, names and small arrays take one write, not dozens.
bool write_run(State& s, const std::vector<CommitStep>& order, std::size_t first, std::size_t end) {
    const haddr_t from = order[first].region->addr;
    std::vector<unsigned char> run;
    run.reserve(order[end - 1].region->end() - from);
    for (std::size_t i = first; i < end; ++i)
        run.insert(run.end(), order[i].region->bytes.begin(), order[i].region->bytes.end());
    forget_heap_prefixes(s, from, run.size());
    if (!write_reported(s.fd, run.data(), run.size(), from, __func__, __LINE__)) return false;
    for (std::size_t i = first; i < end; ++i) {
        const Region& r = *order[i].region;
        note_on_disk(s, r.type, r.addr, r.bytes.data(), r.bytes.size());
    }
    s.eof = std::max(s.eof, from + run.size());
    return true;
}

// Writes what is pending in the commit order, and ends the epoch.
bool commit(State& s) {
    VIDEZ5_CHECK_STATE(s);
    const bool ok = commit_pending(s);
    VIDEZ5_CHECK_STATE(s);
    return ok;
}

bool commit_pending(State& s) {
    if (s.pending.empty()) return end_epoch(s);
    const std::vector<CommitStep> order = commit_order(s.pending, FileView{s.committed, s.known});

    if (commit_needs_journal(s) && !one_change_in_place(s, order) && !journal_pending(s, order)) return false;
    // HDF5's writes stay below a journal that this epoch keeps.
    if (s.journal.active() && !s.journal.make_room(hdf5_end(s), durable())) return journal_failed(s);

    bool extended = false;
    int stage = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const CommitStep& step = order[i];
        const Region& r = *step.region;
        if (step.stage == 0) {
            const std::size_t end = new_space_run_end(order, i);
            if (end > i + 1) {
                if (!write_run(s, order, i, end)) return false;
                i = end - 1;
                continue;
            }
        }
        // In the durable mode each stage is on disk before the next relies on it.
        if (step.stage != stage && !s.journal.active() && !sync_data(s)) return false;
        stage = step.stage;
        if (!extended && (r.addr < s.committed || r.type == H5FD_MEM_SUPER)) {
            // The superblock must never state an end beyond the end of the file
            // (which a journal kept past HDF5's bytes makes longer already).
            if (s.eoa > s.eof && !s.journal.written() && ftruncate(s.fd, static_cast<off_t>(s.eoa)) < 0) {
                VIDEZ5_REPORT(H5E_IO, H5E_SEEKERROR, "unable to extend file: " + errno_text(errno));
                return false;
            }
            s.eof = std::max(s.eof, s.eoa);
            extended = true;
        }
        std::array<unsigned char, format::kHeapPrefix> prefix;
        if (step.heap_data != nullptr && emptied_prefix(s, r.addr, prefix) &&
            !VIDEZ5_WRITE_NOTED(s, H5FD_MEM_LHEAP, prefix.data(), prefix.size(), r.addr))
            return false;
        for (const Region* w : {step.heap_data, step.region}) {
            if (w == nullptr) continue;
            if (!VIDEZ5_WRITE_NOTED(s, w->type, w->bytes.data(), w->bytes.size(), w->addr)) return false;
            s.eof = std::max(s.eof, w->end());
        }
    }
    for (const auto& [addr, r] : s.pending) {
        if (r.type == H5FD_MEM_DRAW) continue;  // only metadata is known as objects
        s.known[addr] = r.type;
        unsigned entries;
        if (format::index_node_entries(r.bytes.data(), r.bytes.size(), entries)) s.index_entries[addr] = entries;
    }
    const bool superblock = s.pending.count(0) != 0;
    // The superblock just written states the current end; without it the old one stands.
    if (superblock) {
        s.committed = s.eoa;
        s.stated_eof = s.pending_stated_eof;
    }
    s.pending.clear();
    s.pending_raw = 0;
    if (!s.journal.active() && !sync_data(s)) return false;
    return end_epoch(s);
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
    if (!(flags & H5F_ACC_RDWR) || !hdf5_locks_files()) {
        const Recovery undone = recover_file(name, -1, durable(), why);
        if (undone == Recovery::kFailed || undone == Recovery::kRefused) {
            VIDEZ5_REPORT(H5E_FILE, H5E_CANTOPENFILE, why);
            return nullptr;
        }
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
    // HDF5 1.10 opening an empty file for writing makes a new file in it, its
    // superblock first: a kill then leaves a file that no reader opens, and
    // that the library would not overwrite. New files get their bytes in one
    // write instead (files.cpp); an open is only an open.
    if (st.st_size == 0 && (flags & H5F_ACC_RDWR) && !(flags & (H5F_ACC_CREAT | H5F_ACC_TRUNC))) {
        VIDEZ5_REPORT(H5E_FILE, H5E_BADFILE, std::string("empty file: name = '") + name + "'");
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
        // A failure that the last close of this name left was told by that
        // close, or by nobody: never by a later call.
        {
            const std::lock_guard<std::mutex> hold(failures_mutex);
            failed_closes.erase(name);
        }
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
        auto* bytes = static_cast<unsigned char*>(buffer);
        if (s.head_valid && addr + size <= s.head.size()) {
            std::memcpy(bytes, s.head.data() + addr, size);
        } else {
            // A journal past HDF5's bytes reads as what HDF5 put there: nothing.
            const haddr_t limit = s.journal.written() ? s.journal.begins() : kMaxAddr;
            const std::size_t n_asked = addr >= limit ? 0 : static_cast<std::size_t>(std::min<haddr_t>(size, limit - addr));
            const ssize_t n = read_fully(s.fd, bytes, n_asked, addr);
            if (n < 0) {
                VIDEZ5_REPORT(H5E_IO, H5E_READERROR, "file read failed: " + errno_text(errno));
                return false;
            }
            // Past the end of the file: zeros, as HDF5 expects.
            std::memset(bytes + n, 0, size - static_cast<std::size_t>(n));
        }
        // As on disk, before what waits to be committed is laid over it.
        note_on_disk(s, type, addr, bytes, size);
        if (s.show_cleared) overlay(bytes, addr, size, s.cleared.data(), s.superblock_addr, s.cleared.size());
        // What is waiting to be committed reads as already written.
        for (auto it = first_after(s.pending, addr); it != s.pending.end() && it->first < addr + size; ++it)
            overlay(bytes, addr, size, it->second.bytes.data(), it->second.addr, it->second.bytes.size());
        if (type != H5FD_MEM_DRAW) s.known.emplace(addr, type);
        // HDF5 reads a node before it changes it: what it held is known without reading again.
        unsigned entries;
        if (type == H5FD_MEM_BTREE && format::index_node_entries(bytes, size, entries)) s.index_entries[addr] = entries;
        return true;
    });
}

// A write of HDF5's, under the state's lock.
bool write_to(State& s, H5FD_mem_t type, haddr_t addr, std::size_t size, const unsigned char* bytes) {
    look_once(s);
    if (addr < s.head.size()) s.head_valid = false;
    const auto next = first_after(s.pending, addr);
    const bool touches_pending = next != s.pending.end() && next->first < addr + size;
    // Small raw data in space new to this epoch waits for the commit, to go
    // out with the metadata beside it (write_run): nothing needs undoing there,
    // and until the commit nothing refers to it. Bounded, so that many small
    // arrays between commits do not pile up in memory.
    // fault-check: staged-raw-new-only
    if (type == H5FD_MEM_DRAW && addr >= s.epoch_eof && !s.journal.active() && size <= kStagedRawWrite &&
        s.pending_raw + size <= kStagedRawTotal) {
        if (s.committed == HADDR_UNDEF) s.committed = std::min(s.eoa, s.eof);
        add_pending(s, addr, type, bytes, size);
        s.pending_raw += size;
        return true;
    }
    // Raw data may go at once, unless the bytes lie under metadata still to
    // be committed (their order must hold). Over data that is already in
    // the file, the old values are kept first: the whole epoch can then be
    // undone, the array with everything that belongs with it.
    if (type == H5FD_MEM_DRAW && !touches_pending) {
        if (raw_write_needs_undo(s, addr, size)) {  // fault-check: overwrite-journaled
            s.journal_epoch = true;
            if (!journal(s, {{addr, bytes, size}})) return false;
        } else if (s.journal.active() && addr < s.epoch_eof && !journal(s, {{addr, bytes, size}}, true)) {
            return false;
        }
        if (s.journal.active() && !s.journal.make_room(addr + size, durable())) return journal_failed(s);
        if (!VIDEZ5_WRITE_NOTED(s, type, bytes, size, addr)) return false;
        s.eof = std::max(s.eof, addr + size);
        return true;
    }
    if (type == H5FD_MEM_DRAW && raw_write_needs_undo(s, addr, size)) s.journal_epoch = true;
    // Once HDF5 writes its own superblock, the cleared copy has served.
    if (s.superblock_addr != HADDR_UNDEF && addr < s.superblock_addr + format::kNewSuperblock &&
        addr + size > s.superblock_addr)
        s.show_cleared = s.stale_flags = false;
    if (s.committed == HADDR_UNDEF) s.committed = std::min(s.eoa, s.eof);
    if (type == H5FD_MEM_SUPER) s.pending_stated_eof = s.eoa;  // HDF5 encodes its end right before
    add_pending(s, addr, type, bytes, size);
    return true;
}

herr_t driver_write(H5FD_t* file, H5FD_mem_t type, hid_t, haddr_t addr, size_t size, const void* buffer) {
    State& s = state_of(file);
    if (addr == HADDR_UNDEF || addr > kMaxAddr || size > kMaxAddr - addr) {
        VIDEZ5_REPORT(H5E_ARGS, H5E_OVERFLOW, "addr overflow");
        return -1;
    }
    return guarded([&] {
        const std::lock_guard<std::mutex> hold(s.pending_lock);
        VIDEZ5_CHECK_STATE(s);
        const bool ok = write_to(s, type, addr, size, static_cast<const unsigned char*>(buffer));
        VIDEZ5_CHECK_STATE(s);
        return ok;
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
    VIDEZ5_CHECK_STATE(s);
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
    VIDEZ5_CHECK_STATE(s);
    return 0;
}

herr_t driver_lock(H5FD_t* file, hbool_t rw) {
    State& s = state_of(file);
    if (flock(s.fd, (rw ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        // A file system without locks: nobody can be excluded; the layer
        // above tells the user what that means.
        if (!no_locks_here(errno)) {
            VIDEZ5_REPORT(H5E_VFL, H5E_CANTLOCKFILE, "unable to lock file, " + errno_text(errno));
            return -1;
        }
        note_lockless(s.name);  // fault-check: lockless-noted
        return 0;
    }
    if (rw) {
        // Nobody else has the file now: undo what a kill left half done,
        // before HDF5 reads anything, and look at the file again.
        std::string why;
        const Recovery undone = recover_file(s.name, s.fd, durable(), why);
        if (undone == Recovery::kFailed || undone == Recovery::kRefused) {
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
    if (flock(s.fd, LOCK_UN) == 0 || no_locks_here(errno)) return 0;
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
    // Before any file: whether the order may be relied on at all.
    format::format_known();
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

#ifdef VIDEZ5_INVARIANTS
void check_state(const State& s, const char* where) {
    const char* broken = nullptr;
    if (s.stated_eof > s.eof) broken = "1: the file ends before its superblock says";
    else if (s.epoch_eof > s.eof) broken = "2: the epoch began beyond the file's end";
    for (auto it = s.pending.begin(); broken == nullptr && it != s.pending.end(); ++it) {
        if (it->second.bytes.empty()) broken = "3: an empty pending region";
        else if (std::next(it) != s.pending.end() && it->second.end() > std::next(it)->first)
            broken = "3: pending regions overlap";
    }
    const haddr_t written = std::max(s.eof, s.pending.empty() ? 0 : s.pending.rbegin()->second.end());
    if (broken == nullptr && s.journal.written() && s.journal.begins() < written)
        broken = "4: the journal lies within HDF5's bytes";
    if (broken == nullptr) return;
    std::fprintf(stderr, "videz5 driver: rule %s, in %s of %s (eoa %llu, eof %llu, stated %llu, epoch %llu)\n",
                 broken, where, s.name.c_str(), static_cast<unsigned long long>(s.eoa),
                 static_cast<unsigned long long>(s.eof), static_cast<unsigned long long>(s.stated_eof),
                 static_cast<unsigned long long>(s.epoch_eof));
    std::abort();
}
#endif

void note_lockless(const std::string& name) {
    const std::lock_guard<std::mutex> hold(failures_mutex);
    lockless_files.insert(name);
}

bool lockless(const std::string& name) {
    const std::lock_guard<std::mutex> hold(failures_mutex);
    return lockless_files.count(name) != 0;
}

bool hdf5_locks_files() {
    const char* v = std::getenv("HDF5_USE_FILE_LOCKING");
    return v == nullptr || (std::strcmp(v, "FALSE") != 0 && std::strcmp(v, "0") != 0);
}

bool durable() { return durable_flag().load(); }
void set_durable(bool on) { durable_flag().store(on); }

}  // namespace videz5::detail
