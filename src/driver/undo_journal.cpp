#include "undo_journal.hpp"
#include "hdf5_format.hpp"
#include "posix_io.hpp"
#include "../detail/fd.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace videz5::detail {
namespace {

// Layout: a header (magic, the data file's size before the epoch, its inode,
// a check of the two), then entries, each [address][length][old bytes][mark].
// An entry is one write, so a kill leaves a prefix of it: without its mark it
// is ignored, which is safe because its bytes had not been changed yet.
constexpr unsigned char kMagic[8] = {'V', '5', 'U', 'N', 'D', 'O', '0', '1'};
constexpr std::size_t kHeader = 32;
constexpr std::size_t kEntryHead = 16;
constexpr std::size_t kEntryMark = 8;
// Entries are at most this long, so that saving a large array needs bounded memory.
constexpr std::size_t kChunk = std::size_t{8} << 20;
// Entries at least this long are written on their own, not gathered.
constexpr std::size_t kDirect = std::size_t{16} << 10;
constexpr std::uint64_t kSeal = 0x6a6f75726e616c21;  // "journal!"

std::uint64_t entry_mark(std::uint64_t addr, std::uint64_t length) {
    return kSeal ^ addr ^ (length * 0x9e3779b97f4a7c15ULL);
}

}  // namespace

std::string journal_name(const std::string& name) { return name + ".videz5-journal"; }

UndoJournal::~UndoJournal() { release(); }

void UndoJournal::release() {
    if (fd_ < 0) return;
    // An epoch that did not finish keeps its journal for the next open; an
    // emptied one goes, unlinked while still locked.
    if (!live_) ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
}

bool UndoJournal::fail(const std::string& what) {
    error_ = what + " " + path_ + ": " + std::strerror(errno);
    return false;
}

bool UndoJournal::start(const std::string& name, int data_fd, haddr_t base_eof) {
    struct stat st;
    if (fd_ < 0) {
        path_ = journal_name(name);
        // Never over another one: that would be the only copy of some other
        // epoch's old bytes (or a live epoch of a process that writes without locks).
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd_ < 0) return fail("cannot create the undo journal");
        if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            fail("cannot take the undo journal");
            ::unlink(path_.c_str());
            ::close(fd_);
            fd_ = -1;
            return false;
        }
    }
    if (fstat(data_fd, &st) != 0) return fail("cannot look at the file of the undo journal");
    // The header goes out with the first entries, in one write: a kill
    // before that write leaves an incomplete header, which undoes nothing,
    // and nothing had been changed yet.
    queued_.assign(kHeader, 0);
    std::memcpy(queued_.data(), kMagic, sizeof kMagic);
    format::put_le64(queued_.data() + 8, base_eof);
    format::put_le64(queued_.data() + 16, static_cast<std::uint64_t>(st.st_ino));
    format::put_le64(queued_.data() + 24, kSeal ^ base_eof ^ static_cast<std::uint64_t>(st.st_ino));
    live_ = true;
    data_fd_ = data_fd;
    base_eof_ = base_eof;
    end_ = 0;
    saved_.clear();
    return true;
}

bool UndoJournal::write_queued() {
    if (queued_.empty()) return true;
    if (const int error = write_fully(fd_, queued_.data(), queued_.size(), end_)) {
        errno = error;
        return fail("cannot write the undo journal");
    }
    end_ += static_cast<off_t>(queued_.size());
    queued_.clear();
    return true;
}

bool UndoJournal::queue_range(haddr_t lo, haddr_t hi, const unsigned char* old) {
    for (haddr_t at = lo; at < hi;) {
        const std::size_t n = static_cast<std::size_t>(std::min<haddr_t>(hi - at, kChunk));
        // A large entry goes out at once from where its bytes are: gathered
        // first in a buffer grown anew at every call, a 64 MiB array took
        // three times as long, most of it page faults on fresh memory.
        if (n >= kDirect) {
            unsigned char head[kEntryHead], mark[kEntryMark];
            format::put_le64(head, at);
            format::put_le64(head + 8, n);
            format::put_le64(mark, entry_mark(at, n));
            if (!write_queued()) return false;
            for (const auto& [bytes, size] : {std::pair<const unsigned char*, std::size_t>{head, sizeof head},
                                              {old + (at - lo), n}, {mark, sizeof mark}}) {
                if (const int error = write_fully(fd_, bytes, size, end_)) {
                    errno = error;
                    return fail("cannot write the undo journal");
                }
                end_ += static_cast<off_t>(size);
            }
            at += n;
            continue;
        }
        // Small entries of a commit go out together, up to a bounded amount of memory.
        if (queued_.size() + n > kChunk && !write_queued()) return false;
        const std::size_t entry = queued_.size();
        queued_.resize(entry + kEntryHead + n + kEntryMark);
        unsigned char* p = queued_.data() + entry;
        format::put_le64(p, at);
        format::put_le64(p + 8, n);
        std::memcpy(p + kEntryHead, old + (at - lo), n);
        format::put_le64(p + kEntryHead + n, entry_mark(at, n));
        at += n;
    }
    return true;
}

bool UndoJournal::save_changes(const std::vector<Change>& changes) {
    // HDF5 writes a group's name heap whole for each name it adds: keeping
    // all of it would copy hundreds of kilobytes for one name in a large
    // group, and an array rewritten with a few values changed would be kept
    // whole. Blocks equal to what is on disk need no old value; the rest is
    // kept to within kFine bytes (an entry costs 24 bytes besides its own).
    constexpr std::size_t kPiece = std::size_t{1} << 20, kCoarse = 4096, kFine = 64;
    for (const Change& c : changes) {
        const haddr_t end = std::min<haddr_t>(c.addr + c.size, base_eof_);
        if (c.addr >= end) continue;
        // As large as the largest change needs, up to a piece: small
        // metadata commits touch few fresh pages.
        old_.resize(std::max(old_.size(), static_cast<std::size_t>(std::min<haddr_t>(end - c.addr, kPiece))));
        for (haddr_t piece = c.addr; piece < end; piece += kPiece) {
            const std::size_t n = static_cast<std::size_t>(std::min<haddr_t>(end - piece, kPiece));
            const ssize_t got = read_fully(data_fd_, old_.data(), n, static_cast<off_t>(piece));
            if (got < 0) return fail("cannot read what the undo journal keeps for");
            // Bytes beyond the end of the file read as zeros, as HDF5 sees them.
            std::memset(old_.data() + got, 0, n - static_cast<std::size_t>(got));
            const unsigned char* now = c.bytes + (piece - c.addr);
            haddr_t run = 0, run_end = 0;  // the differing bytes found so far, merged while they touch
            for (std::size_t coarse = 0; coarse < n; coarse += kCoarse) {
                const std::size_t coarse_n = std::min(kCoarse, n - coarse);
                if (std::memcmp(old_.data() + coarse, now + coarse, coarse_n) == 0) continue;
                // The span from the first differing fine block to the last:
                // two comparisons for a block that changed throughout (an
                // array rewritten), a few bytes for a name added to a heap.
                const auto same = [&](std::size_t fine) {
                    return std::memcmp(old_.data() + fine, now + fine, std::min(kFine, coarse + coarse_n - fine)) == 0;
                };
                std::size_t first = coarse, last = coarse + (coarse_n - 1) / kFine * kFine;
                while (same(first)) first += kFine;
                while (same(last)) last -= kFine;
                const haddr_t at = piece + first, at_end = piece + std::min(last + kFine, coarse + coarse_n);
                if (run_end != at) {
                    if (run_end > run && !queue(run, run_end, old_.data() + (run - piece))) return false;
                    run = at;
                }
                run_end = at_end;
            }
            if (run_end > run && !queue(run, run_end, old_.data() + (run - piece))) return false;
        }
    }
    return write_queued();
}

bool UndoJournal::queue(haddr_t addr, haddr_t end, const unsigned char* old) {
    const haddr_t hi = std::min<haddr_t>(end, base_eof_);
    haddr_t at = addr;
    // Only the first old value of a byte matters: skip what is kept already.
    auto it = saved_.upper_bound(at);
    if (it != saved_.begin() && std::prev(it)->second > at) --it;
    while (at < hi) {
        if (it != saved_.end() && it->first <= at) {
            at = std::max(at, it->second);
            ++it;
            continue;
        }
        const haddr_t gap_end = it != saved_.end() ? std::min(hi, it->first) : hi;
        if (!queue_range(at, gap_end, old + (at - addr))) return false;
        // Folded into the ranges it touches, so that the map stays as small
        // as the journal's gaps (an array kept piece by piece is one range).
        haddr_t lo = at;
        if (it != saved_.begin() && std::prev(it)->second == at) {
            lo = std::prev(it)->first;
            saved_.erase(std::prev(it));
        }
        haddr_t hi_kept = gap_end;
        if (it != saved_.end() && it->first == gap_end) {
            hi_kept = it->second;
            it = saved_.erase(it);
        }
        saved_.emplace_hint(it, lo, hi_kept);
        at = hi_kept;
    }
    return true;
}

bool UndoJournal::sync() {
    if (fd_ < 0 || fdatasync(fd_) == 0) return true;
    return fail("cannot force the undo journal to disk");
}

bool UndoJournal::finish(bool durable) {
    if (!live_) return true;
    saved_.clear();
    queued_.clear();
    // Emptied, it holds no header: a next open finds nothing to undo. It is
    // kept, still locked, for the file's next epoch: creating and removing a
    // file at every commit would cost a held file more than its calls.
    if (ftruncate(fd_, 0) == 0 && (!durable || fdatasync(fd_) == 0)) {
        live_ = false;
        return true;
    }
    // Unlinked while still locked: nobody can take it for an unfinished epoch.
    const bool removed = ::unlink(path_.c_str()) == 0 || errno == ENOENT;
    if (!removed) fail("cannot remove the undo journal");
    if (removed && durable) {
        if (const int error = sync_directory(path_)) {
            errno = error;
            fail("cannot force the removal of the undo journal to disk");
        }
    }
    ::close(fd_);
    fd_ = -1;
    live_ = false;
    return removed;
}

Recovery recover(const std::string& name, int locked_fd, bool durable, std::string& why) {
    const std::string path = journal_name(name);
    const Fd journal(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY));
    if (journal.get() < 0) {
        if (errno == ENOENT) return Recovery::kNothing;
        why = "cannot open the undo journal " + path + ": " + std::strerror(errno);
        return Recovery::kFailed;
    }
    // A live epoch holds its journal, and a process with the file open holds the file.
    if (flock(journal.get(), LOCK_EX | LOCK_NB) != 0) return Recovery::kBusy;
    const Fd own(locked_fd < 0 ? ::open(name.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY) : -1);
    const int data_fd = locked_fd < 0 ? own.get() : locked_fd;
    if (data_fd < 0) {
        why = "cannot undo an unfinished change (" + path + "): " + std::strerror(errno);
        return Recovery::kFailed;
    }
    if (locked_fd < 0 && flock(data_fd, LOCK_EX | LOCK_NB) != 0) return Recovery::kBusy;

    unsigned char header[kHeader];
    struct stat st;
    const bool valid = read_fully(journal.get(), header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) &&
                       std::memcmp(header, kMagic, sizeof kMagic) == 0 &&
                       format::get_le64(header + 24) == (kSeal ^ format::get_le64(header + 8) ^ format::get_le64(header + 16));
    if (fstat(data_fd, &st) != 0) {
        why = std::string("cannot look at the file: ") + std::strerror(errno);
        return Recovery::kFailed;
    }
    // An incomplete header: the epoch had changed nothing yet. Another inode:
    // the journal belongs to a file that no longer stands under this name.
    if (valid && format::get_le64(header + 16) == static_cast<std::uint64_t>(st.st_ino)) {
        std::vector<unsigned char> bytes;
        off_t at = kHeader;
        for (;;) {
            unsigned char head[kEntryHead], mark[kEntryMark];
            if (read_fully(journal.get(), head, sizeof head, at) != static_cast<ssize_t>(sizeof head)) break;
            const std::uint64_t addr = format::get_le64(head), length = format::get_le64(head + 8);
            if (length > kChunk) break;
            const off_t mark_at = at + static_cast<off_t>(kEntryHead + length);
            if (read_fully(journal.get(), mark, sizeof mark, mark_at) != static_cast<ssize_t>(sizeof mark) ||
                format::get_le64(mark) != entry_mark(addr, length))
                break;  // the entry being written when the kill came: its bytes were not changed
            bytes.resize(length);
            if (read_fully(journal.get(), bytes.data(), length, at + static_cast<off_t>(kEntryHead)) !=
                    static_cast<ssize_t>(length) ||
                write_fully(data_fd, bytes.data(), length, static_cast<off_t>(addr)) != 0) {
                why = std::string("cannot undo an unfinished change: ") + std::strerror(errno);
                return Recovery::kFailed;
            }
            at = mark_at + static_cast<off_t>(kEntryMark);
        }
        if (ftruncate(data_fd, static_cast<off_t>(format::get_le64(header + 8))) != 0 ||  // fault-check: undo-cuts-new-space
            (durable && fdatasync(data_fd) != 0)) {
            why = std::string("cannot undo an unfinished change: ") + std::strerror(errno);
            return Recovery::kFailed;
        }
    }
    // Undone, or nothing to undo; done again harmlessly if a kill comes first.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        why = "cannot remove the undo journal " + path + ": " + std::strerror(errno);
        return Recovery::kFailed;
    }
    if (durable) sync_directory(path);
    return Recovery::kRecovered;
}

}  // namespace videz5::detail
