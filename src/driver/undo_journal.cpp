#include "undo_journal.hpp"
#include "hdf5_format.hpp"
#include "posix_io.hpp"
#include "../detail/fd.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace videz5::detail {
namespace {

using format::get_le64;
using format::put_le64;

constexpr unsigned char kHeaderMagic[8] = {'V', '5', 'U', 'N', 'D', 'O', '0', '2'};
constexpr unsigned char kTrailerMagic[8] = {'V', '5', 'U', 'N', 'D', 'O', 'E', 'N'};
constexpr std::size_t kHeader = 48;   // magic, seed, its address, base eof, unused, checksum
constexpr std::size_t kTrailer = 40;  // magic, the header's address, seed, unused, checksum
constexpr std::size_t kRecordHead = 24;  // kind, address, length
constexpr std::size_t kRecordEnd = 8;    // checksum
constexpr std::uint64_t kOldBytes = 1, kBlockStates = 2;
// The blocks whose states are checked before an undo: the sectors a power
// loss may leave written or not, and a multiple of which a kill cuts a write at.
constexpr haddr_t kBlock = 512;
// Old bytes are kept in records of at most this, so that saving a large
// array needs bounded memory; records at least kDirect long go out on their
// own, from where their bytes are.
constexpr std::size_t kChunk = std::size_t{8} << 20;
constexpr std::size_t kDirect = std::size_t{16} << 10;
// Room left past HDF5's end when a journal is placed, for what the epoch may
// still allocate before its commit (doubled at each move), and for records
// before the trailer must move.
constexpr haddr_t kRoom = haddr_t{1} << 20;
constexpr haddr_t kFirstCapacity = haddr_t{64} << 10;
constexpr haddr_t kLargestRoom = haddr_t{1} << 30;
// A constant of each checksum's own, so that no kind of bytes passes for another.
constexpr std::uint64_t kHeaderSalt = 0x68656164, kTrailerSalt = 0x7472616c, kRecordSalt = 0x7265636f;

haddr_t align_up(haddr_t v, haddr_t to) { return (v + to - 1) / to * to; }
haddr_t align_down(haddr_t v, haddr_t to) { return v / to * to; }

std::uint64_t rotl(std::uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }
std::uint64_t load64(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// A fresh seed per journal: stale records of an earlier journal at the same
// place never pass for this one's.
std::uint64_t draw_seed() {
    std::uint64_t seed = 0;
    if (getrandom(&seed, sizeof seed, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof seed))
        seed = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               (static_cast<std::uint64_t>(getpid()) << 32);
    return seed | 1;
}

struct Header {
    std::uint64_t seed = 0;
    haddr_t at = 0;
    haddr_t base_eof = 0;
};

void encode_header(const Header& h, unsigned char* out) {
    std::memset(out, 0, kHeader);
    std::memcpy(out, kHeaderMagic, 8);
    put_le64(out + 8, h.seed);
    put_le64(out + 16, h.at);
    put_le64(out + 24, h.base_eof);
    put_le64(out + 40, journal_hash(h.seed ^ kHeaderSalt, out, 40));
}

bool decode_header(const unsigned char* in, Header& h) {
    if (std::memcmp(in, kHeaderMagic, 8) != 0) return false;
    h.seed = get_le64(in + 8);
    h.at = get_le64(in + 16);
    h.base_eof = get_le64(in + 24);
    return get_le64(in + 40) == journal_hash(h.seed ^ kHeaderSalt, in, 40);
}

void encode_trailer(haddr_t header_at, std::uint64_t seed, unsigned char* out) {
    std::memset(out, 0, kTrailer);
    std::memcpy(out, kTrailerMagic, 8);
    put_le64(out + 8, header_at);
    put_le64(out + 16, seed);
    put_le64(out + 32, journal_hash(seed ^ kTrailerSalt, out, 32));
}

std::uint64_t record_sum(std::uint64_t seed, const unsigned char* head, const unsigned char* payload,
                         std::size_t size) {
    return journal_hash(seed ^ kRecordSalt, head, kRecordHead) ^ rotl(journal_hash(seed, payload, size), 17);
}

void add_record(std::vector<unsigned char>& out, std::uint64_t seed, std::uint64_t kind, haddr_t addr,
                std::uint64_t length, const unsigned char* payload, std::size_t size) {
    const std::size_t at = out.size();
    out.resize(at + kRecordHead + size + kRecordEnd);
    unsigned char* p = out.data() + at;
    put_le64(p, kind);
    put_le64(p + 8, addr);
    put_le64(p + 16, length);
    if (size > 0) std::memcpy(p + kRecordHead, payload, size);
    put_le64(p + kRecordHead + size, record_sum(seed, p, payload, size));
}

// The checksum of a block as the journal keeps it: its bytes below base_eof.
std::uint64_t block_hash(std::uint64_t seed, const unsigned char* bytes, std::size_t size) {
    return journal_hash(seed, bytes, size);
}

}  // namespace

std::uint64_t journal_hash(std::uint64_t seed, const unsigned char* p, std::size_t n) {
    // Four lanes of 64-bit multiply-rotate rounds, as the fast non-cryptographic
    // hashes do: a few GB/s, and a change anywhere changes the result.
    constexpr std::uint64_t k1 = 0x9E3779B185EBCA87ULL, k2 = 0xC2B2AE3D27D4EB4FULL, k3 = 0x165667B19E3779F9ULL;
    const auto round = [](std::uint64_t acc, std::uint64_t w) { return rotl(acc + w * k2, 31) * k1; };
    std::uint64_t a = seed + k1 + k2, b = seed + k2, c = seed, d = seed - k1;
    const std::size_t total = n;
    while (n >= 32) {
        a = round(a, load64(p));
        b = round(b, load64(p + 8));
        c = round(c, load64(p + 16));
        d = round(d, load64(p + 24));
        p += 32;
        n -= 32;
    }
    std::uint64_t h = rotl(a, 1) + rotl(b, 7) + rotl(c, 12) + rotl(d, 18) + total;
    for (; n >= 8; p += 8, n -= 8) h = rotl(h ^ round(0, load64(p)), 27) * k1 + k3;
    for (; n > 0; ++p, --n) h = rotl(h ^ (*p * k1), 11) * k2;
    h ^= h >> 33;
    h *= k2;
    h ^= h >> 29;
    h *= k3;
    return h ^ (h >> 32);
}

bool UndoJournal::fail(const std::string& what) {
    error_ = what + ": " + std::strerror(errno);
    return false;
}

bool UndoJournal::start(int data_fd, haddr_t base_eof, haddr_t after) {
    fd_ = data_fd;
    base_eof_ = base_eof;
    if (room_ == 0) room_ = kRoom;
    at_ = align_up(after + room_, 4096);
    end_ = at_ + kHeader;
    trailer_ = 0;
    written_ = false;
    seed_ = draw_seed();
    saved_.clear();
    live_ = true;
    return true;
}

bool UndoJournal::place_trailer(haddr_t at, haddr_t header_at) {
    unsigned char trailer[kTrailer];
    encode_trailer(header_at, seed_, trailer);
    if (const int error = write_fully(fd_, trailer, sizeof trailer, at)) {
        errno = error;
        return fail("cannot write the undo journal");
    }
    return true;
}

// Records go after those already there. The first ones follow the header,
// and only then does a trailer make the journal count: a kill before leaves
// bytes past HDF5's end that nothing refers to. Later records fill the room
// before the trailer; when they would reach it, a trailer further on is
// written first.
bool UndoJournal::append(const std::vector<Part>& parts) {
    haddr_t size = 0;
    for (const Part& part : parts) size += part.second;
    if (size == 0) return true;
    const auto write = [this](const unsigned char* bytes, std::size_t n, haddr_t at) {
        if (const int error = write_fully(fd_, bytes, n, at)) {
            errno = error;
            return fail("cannot write the undo journal");
        }
        return true;
    };
    const bool first = !written_;
    if (first) {
        unsigned char header[kHeader];
        encode_header(Header{seed_, at_, base_eof_}, header);
        if (!write(header, sizeof header, at_)) return false;
        end_ = at_ + kHeader;
    } else if (end_ + size > trailer_) {
        const haddr_t further = align_up(end_ + std::max(size + std::max(trailer_ - at_, size), ahead_), 64);
        if (!place_trailer(further, at_)) return false;
        trailer_ = further;
    }
    for (const Part& part : parts) {
        if (!write(part.first, part.second, end_)) return false;
        end_ += part.second;
    }
    if (first) {
        trailer_ = align_up(end_ + std::max({kFirstCapacity, size, ahead_}), 64);
        if (!place_trailer(trailer_, at_)) return false;
        written_ = true;
    }
    return true;
}

bool UndoJournal::append(const std::vector<unsigned char>& records) {
    return append(std::vector<Part>{{records.data(), records.size()}});
}

bool UndoJournal::keep_old(haddr_t addr, haddr_t end, const unsigned char* old, std::vector<unsigned char>& out) {
    // Only the first old value of a byte matters: skip what is kept already.
    const haddr_t hi = std::min(end, base_eof_);
    haddr_t at = addr;
    auto it = saved_.upper_bound(at);
    if (it != saved_.begin() && std::prev(it)->second > at) --it;
    while (at < hi) {
        if (it != saved_.end() && it->first <= at) {
            at = std::max(at, it->second);
            ++it;
            continue;
        }
        const haddr_t gap_end = it != saved_.end() ? std::min(hi, it->first) : hi;
        for (haddr_t piece = at; piece < gap_end;) {
            const std::size_t n = static_cast<std::size_t>(std::min<haddr_t>(gap_end - piece, kChunk));
            const unsigned char* bytes = old + (piece - addr);
            if (n >= kDirect) {
                // A large record goes out at once from where its bytes are:
                // gathered first in a buffer grown anew at every call, a
                // 64 MiB array took three times as long, most of it page
                // faults on fresh memory.
                if (!append(out)) return false;
                out.clear();
                unsigned char head[kRecordHead], sum[kRecordEnd];
                put_le64(head, kOldBytes);
                put_le64(head + 8, piece);
                put_le64(head + 16, n);
                put_le64(sum, record_sum(seed_, head, bytes, n));
                if (!append({{head, sizeof head}, {bytes, n}, {sum, sizeof sum}})) return false;
            } else {
                add_record(out, seed_, kOldBytes, piece, n, bytes, n);
            }
            piece += n;
        }
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

bool UndoJournal::save_changes(const std::vector<Change>& changes, bool states_only) {
    // HDF5 writes a group's name heap whole for each name it adds: keeping
    // all of it would copy hundreds of kilobytes for one name in a large
    // group, and an array rewritten with a few values changed would be kept
    // whole. Blocks equal to what is on disk need no old value; the rest is
    // kept to within kFine bytes (a record costs 32 bytes besides its own).
    constexpr std::size_t kPiece = std::size_t{1} << 20, kCoarse = 4096, kFine = 64;
    // Kept from call to call, as old_ is: fresh memory for a large array's
    // records would cost more in page faults than the records themselves.
    std::vector<unsigned char>& out = out_;
    out.clear();
    // What this save may append at the most, so that the trailer is placed
    // past it once rather than moved on record after record.
    ahead_ = 0;
    for (const Change& c : changes) {
        const haddr_t n = c.addr < base_eof_ ? std::min<haddr_t>(c.size, base_eof_ - c.addr) : 0;
        ahead_ += (states_only ? 0 : n + (n / kPiece + 1) * (kRecordHead + kRecordEnd)) + n / kBlock * 8 + 3 * 64;
    }
    // The edge blocks of the changes as they are on disk, for their states:
    // read when a state needs one (the disk below base_eof does not change
    // before the writes this save comes ahead of).
    std::map<haddr_t, std::array<unsigned char, kBlock>> edges;
    const auto edge = [&](haddr_t block) -> std::array<unsigned char, kBlock>& {
        auto found = edges.find(block);
        if (found != edges.end()) return found->second;
        std::array<unsigned char, kBlock>& bytes = edges[block];
        bytes.fill(0);
        const std::size_t n = static_cast<std::size_t>(std::min<haddr_t>(kBlock, base_eof_ - block));
        if (read_fully(fd_, bytes.data(), n, block) < 0) bytes.fill(0);
        return bytes;
    };
    for (const Change& c : changes) {
        const haddr_t end = std::min<haddr_t>(c.addr + c.size, base_eof_);
        if (c.addr >= end || states_only) continue;
        // As large as the largest change needs, up to a piece: small
        // metadata commits touch few fresh pages.
        old_.resize(std::max(old_.size(), static_cast<std::size_t>(std::min<haddr_t>(end - c.addr, kPiece))));
        for (haddr_t piece = c.addr; piece < end; piece += kPiece) {
            const std::size_t n = static_cast<std::size_t>(std::min<haddr_t>(end - piece, kPiece));
            const ssize_t got = read_fully(fd_, old_.data(), n, piece);
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
                    if (run_end > run && !keep_old(run, run_end, old_.data() + (run - piece), out)) return false;
                    run = at;
                }
                run_end = at_end;
            }
            if (run_end > run && !keep_old(run, run_end, old_.data() + (run - piece), out)) return false;
        }
    }
    // The states the writes leave their blocks in, one after the other: a
    // block inside a write holds its bytes; an edge block what the disk holds
    // with the writes before laid over it. Only blocks with kept bytes are
    // checked before an undo, so only theirs are recorded: an array
    // rewritten with one value changed has one or two.
    std::vector<unsigned char>& hashes = hashes_;
    hashes.clear();
    const auto flush_states = [&](haddr_t first) {
        if (hashes.empty()) return;
        add_record(out, seed_, kBlockStates, first, hashes.size() / 8, hashes.data(), hashes.size());
        hashes.clear();
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const Change& c = changes[i];
        const haddr_t end = std::min<haddr_t>(c.addr + c.size, base_eof_);
        if (c.addr >= end) continue;
        haddr_t first = align_down(c.addr, kBlock);
        auto kept = saved_.upper_bound(first);
        if (kept != saved_.begin()) --kept;
        for (haddr_t block = first; block < end; block += kBlock) {
            const haddr_t block_end = std::min(block + kBlock, base_eof_);
            while (kept != saved_.end() && kept->second <= block) ++kept;
            if (kept == saved_.end() || kept->first >= block_end) {
                // A run of recorded blocks ends here; the next begins further on.
                flush_states(first);
                first = block + kBlock;
                continue;
            }
            std::uint64_t h;
            if (c.addr <= block && block_end <= end) {
                h = block_hash(seed_, c.bytes + (block - c.addr), block_end - block);
            } else {
                std::array<unsigned char, kBlock>& image = edge(block);
                for (std::size_t j = 0; j <= i; ++j) {
                    const Change& w = changes[j];
                    const haddr_t lo = std::max(w.addr, block), hi = std::min(w.addr + w.size, block_end);
                    if (lo < hi) std::memcpy(image.data() + (lo - block), w.bytes + (lo - w.addr), hi - lo);
                }
                h = block_hash(seed_, image.data(), block_end - block);
                // Later writes start from this state; earlier ones are laid over again, harmlessly.
            }
            hashes.resize(hashes.size() + 8);
            put_le64(hashes.data() + hashes.size() - 8, h);
        }
        flush_states(first);
        if (out.size() >= kChunk) {
            if (!append(out)) return false;
            out.clear();
        }
    }
    return append(out);
}

bool UndoJournal::make_room(haddr_t end, bool durable) {
    if (!live_ || end <= at_) return true;  // fault-check: journal-makes-room
    room_ = std::min(room_ * 2, kLargestRoom);
    if (!written_) {
        at_ = align_up(end + room_, 4096);
        end_ = at_ + kHeader;
        return true;
    }
    // A copy further on, found through a trailer that still points at this
    // one until the copy is whole.
    const haddr_t size = end_ - at_;
    const haddr_t to = align_up(std::max(end, trailer_ + kTrailer) + room_, 4096);
    const haddr_t trailer = align_up(to + size + std::max(kFirstCapacity, size), 64);
    if (!place_trailer(trailer, at_)) return false;
    std::vector<unsigned char> buffer(static_cast<std::size_t>(std::min<haddr_t>(size, kChunk)));
    for (haddr_t done = 0; done < size;) {
        const std::size_t n = static_cast<std::size_t>(std::min<haddr_t>(size - done, buffer.size()));
        if (read_fully(fd_, buffer.data(), n, at_ + done) != static_cast<ssize_t>(n))
            return fail("cannot read the undo journal");
        if (done == 0) encode_header(Header{seed_, to, base_eof_}, buffer.data());
        if (const int error = write_fully(fd_, buffer.data(), n, to + done)) {
            errno = error;
            return fail("cannot write the undo journal");
        }
        done += n;
    }
    // In the durable mode the copy is on disk before the trailer points at it.
    if (durable && !sync()) return false;
    at_ = to;
    end_ = to + size;
    trailer_ = trailer;
    return place_trailer(trailer_, at_) && (!durable || sync());
}

bool UndoJournal::sync() {
    if (!written_ || fdatasync(fd_) == 0) return true;
    return fail("cannot force the undo journal to disk");
}

bool UndoJournal::finish(haddr_t data_end, bool durable) {
    if (!live_) return true;
    live_ = false;
    saved_.clear();
    if (!written_) return true;
    written_ = false;
    // Cut off, the trailer goes with it: a next open finds nothing to undo.
    if (ftruncate(fd_, static_cast<off_t>(data_end)) != 0) return fail("cannot remove the undo journal");
    if (durable && fdatasync(fd_) != 0) return fail("cannot force the removal of the undo journal to disk");
    return true;
}

namespace {

struct Kept {
    haddr_t addr;
    std::uint64_t size;
    haddr_t journal_at;  // where its old bytes are in the journal
};

struct Found {
    Header header;
    haddr_t header_at = 0;
    std::vector<Kept> kept;
    std::vector<std::pair<haddr_t, std::uint64_t>> states;  // block -> a state it may be in, sorted
};

// Whether a journal ends the file, and what it holds; false with why set
// when one does but is damaged.
enum class Read { kNone, kFound, kDamaged };
Read read_journal(int fd, Found& found, std::string& why) {
    struct stat st;
    if (fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) < kHeader + kTrailer) return Read::kNone;
    const haddr_t size = static_cast<haddr_t>(st.st_size), trailer_at = size - kTrailer;
    unsigned char trailer[kTrailer];
    if (read_fully(fd, trailer, sizeof trailer, trailer_at) != static_cast<ssize_t>(sizeof trailer) ||
        std::memcmp(trailer, kTrailerMagic, 8) != 0)
        return Read::kNone;
    const std::uint64_t seed = get_le64(trailer + 16);
    if (get_le64(trailer + 32) != journal_hash(seed ^ kTrailerSalt, trailer, 32)) return Read::kNone;
    // A trailer is written only after its header: one without is damage.
    found.header_at = get_le64(trailer + 8);
    unsigned char header[kHeader];
    if (found.header_at > trailer_at - kHeader ||
        read_fully(fd, header, sizeof header, found.header_at) != static_cast<ssize_t>(sizeof header) ||
        !decode_header(header, found.header) || found.header.seed != seed || found.header.at != found.header_at) {
        why = "the undo journal at the end of the file is damaged";
        return Read::kDamaged;
    }
    // Records up to the first that is not whole: the one being written when
    // the kill came (its changes were not made yet), or the room after the last.
    std::vector<unsigned char> payload;
    for (haddr_t at = found.header_at + kHeader; at + kRecordHead + kRecordEnd <= trailer_at;) {
        unsigned char head[kRecordHead], sum[kRecordEnd];
        if (read_fully(fd, head, sizeof head, at) != static_cast<ssize_t>(sizeof head)) break;
        const std::uint64_t kind = get_le64(head), addr = get_le64(head + 8), length = get_le64(head + 16);
        std::uint64_t bytes = 0;
        if (kind == kOldBytes && length <= kChunk) bytes = length;
        else if (kind == kBlockStates && length <= (trailer_at - at) / 8) bytes = length * 8;
        else break;
        if (at + kRecordHead + bytes + kRecordEnd > trailer_at) break;
        payload.resize(static_cast<std::size_t>(bytes));
        if (read_fully(fd, payload.data(), payload.size(), at + kRecordHead) != static_cast<ssize_t>(payload.size()) ||
            read_fully(fd, sum, sizeof sum, at + kRecordHead + bytes) != static_cast<ssize_t>(sizeof sum) ||
            get_le64(sum) != record_sum(seed, head, payload.data(), payload.size()))  // fault-check: records-checked
            break;
        if (kind == kOldBytes) {
            found.kept.push_back({addr, length, at + kRecordHead});
        } else {
            for (std::uint64_t i = 0; i < length; ++i)
                found.states.emplace_back(addr + i * kBlock, get_le64(payload.data() + 8 * i));
        }
        at += kRecordHead + bytes + kRecordEnd;
    }
    std::sort(found.states.begin(), found.states.end());
    return Read::kFound;
}

// Whether every block that the undo would change holds what the epoch left
// there: its old bytes (nothing to undo there), or a state that one of the
// epoch's writes left it in. Another program's writes since hold neither.
bool blocks_as_left(int fd, const Found& found, std::string& why) {
    const haddr_t base = found.header.base_eof;
    std::vector<haddr_t> blocks;
    for (const Kept& k : found.kept)
        for (haddr_t b = align_down(k.addr, kBlock); b < k.addr + k.size; b += kBlock) blocks.push_back(b);
    std::sort(blocks.begin(), blocks.end());
    blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
    std::array<unsigned char, kBlock> now, undone;
    std::size_t next_kept = 0;
    std::vector<const Kept*> by_addr;
    for (const Kept& k : found.kept) by_addr.push_back(&k);
    std::sort(by_addr.begin(), by_addr.end(), [](const Kept* a, const Kept* b) { return a->addr < b->addr; });
    for (const haddr_t block : blocks) {
        const haddr_t block_end = std::min(block + kBlock, base);
        if (block >= block_end) continue;
        const std::size_t n = static_cast<std::size_t>(block_end - block);
        now.fill(0);
        if (read_fully(fd, now.data(), n, block) < 0) {
            why = std::string("cannot read the file: ") + std::strerror(errno);
            return false;
        }
        undone = now;
        while (next_kept < by_addr.size() && by_addr[next_kept]->addr + by_addr[next_kept]->size <= block) ++next_kept;
        for (std::size_t i = next_kept; i < by_addr.size() && by_addr[i]->addr < block_end; ++i) {
            const Kept& k = *by_addr[i];
            const haddr_t lo = std::max(k.addr, block), hi = std::min(k.addr + k.size, block_end);
            if (lo >= hi) continue;
            if (read_fully(fd, undone.data() + (lo - block), hi - lo, k.journal_at + (lo - k.addr)) !=
                static_cast<ssize_t>(hi - lo)) {
                why = "the undo journal at the end of the file is damaged";
                return false;
            }
        }
        if (std::memcmp(now.data(), undone.data(), n) == 0) continue;  // fault-check: undo-checks-blocks
        const std::uint64_t h = block_hash(found.header.seed, now.data(), n);
        const auto state = std::lower_bound(found.states.begin(), found.states.end(), std::make_pair(block, h));
        if (state != found.states.end() && state->first == block && state->second == h) continue;
        why = "an unfinished change cannot be undone: the file's bytes at " + std::to_string(block) +
              " hold neither what they held before it nor what it wrote (has another program written the file?); "
              "the file and its undo journal are left as they are (videz5-recover --discard drops the journal)";
        return false;
    }
    return true;
}

// The end that the superblock in the file states, or 0 when none is found.
haddr_t stated_end(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return 0;
    for (haddr_t at = 0; at + format::kNewSuperblock <= static_cast<haddr_t>(st.st_size); at = at == 0 ? 512 : at * 2) {
        unsigned char block[format::kNewSuperblock];
        if (read_fully(fd, block, sizeof block, at) != static_cast<ssize_t>(sizeof block)) return 0;
        format::Superblock sb;
        if (format::parse_superblock(block, sizeof block, sb))
            return sb.stated_end == HADDR_UNDEF ? 0 : at + sb.stated_end;
    }
    return 0;
}

}  // namespace

bool holds_journal(int fd) {
    Found found;
    std::string why;
    return read_journal(fd, found, why) != Read::kNone;
}

Recovery recover(int fd, bool durable, std::string& why) {
    Found found;
    const Read read = read_journal(fd, found, why);
    if (read == Read::kNone) return Recovery::kNothing;
    if (read == Read::kDamaged || !blocks_as_left(fd, found, why)) return Recovery::kRefused;
    std::vector<unsigned char> bytes;
    for (const Kept& k : found.kept) {
        bytes.resize(static_cast<std::size_t>(k.size));
        if (read_fully(fd, bytes.data(), bytes.size(), k.journal_at) != static_cast<ssize_t>(bytes.size()) ||
            write_fully(fd, bytes.data(), bytes.size(), k.addr) != 0) {
            why = std::string("cannot undo an unfinished change: ") + std::strerror(errno);
            return Recovery::kFailed;
        }
    }
    // Back to the size before the epoch, the journal with the rest; never
    // below the end the superblock states (one the epoch did not change, if
    // another program grew the file before the epoch's).
    const haddr_t end = std::max(found.header.base_eof, stated_end(fd));
    if (ftruncate(fd, static_cast<off_t>(end)) != 0 ||  // fault-check: undo-cuts-new-space
        (durable && fdatasync(fd) != 0)) {
        why = std::string("cannot undo an unfinished change: ") + std::strerror(errno);
        return Recovery::kFailed;
    }
    return Recovery::kRecovered;
}

Recovery discard(int fd, std::string& why) {
    Found found;
    const Read read = read_journal(fd, found, why);
    if (read == Read::kNone) return Recovery::kNothing;
    // A header that does not check: the file's own bytes end where the trailer says it was.
    const haddr_t base = read == Read::kFound ? found.header.base_eof : found.header_at;
    if (ftruncate(fd, static_cast<off_t>(std::max(base, stated_end(fd)))) != 0 || fdatasync(fd) != 0) {
        why = std::string("cannot remove the undo journal: ") + std::strerror(errno);
        return Recovery::kFailed;
    }
    return Recovery::kRecovered;
}

// The journals of earlier builds, beside the file.
namespace {

constexpr unsigned char kBesideMagic[8] = {'V', '5', 'U', 'N', 'D', 'O', '0', '1'};
constexpr std::size_t kBesideHeader = 32, kBesideEntryHead = 16, kBesideEntryMark = 8;
constexpr std::uint64_t kBesideSeal = 0x6a6f75726e616c21;  // "journal!"

std::uint64_t beside_mark(std::uint64_t addr, std::uint64_t length) {
    return kBesideSeal ^ addr ^ (length * 0x9e3779b97f4a7c15ULL);
}

}  // namespace

std::string journal_name(const std::string& name) { return name + ".videz5-journal"; }

Recovery recover_beside(const std::string& name, int locked_fd, bool durable, std::string& why) {
    const std::string path = journal_name(name);
    const Fd journal(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW));
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

    struct stat st, js;
    if (fstat(data_fd, &st) != 0 || fstat(journal.get(), &js) != 0) {
        why = std::string("cannot look at the file: ") + std::strerror(errno);
        return Recovery::kFailed;
    }
    // Whoever may write the directory could have put it there: only the
    // file's owner's own journal may rewrite the file.
    // fault-check: beside-journal-owners-alone
    if (js.st_uid != st.st_uid || (js.st_mode & (S_IWGRP | S_IWOTH)) != 0 || !S_ISREG(js.st_mode)) {
        why = "the undo journal " + path + " is refused: it is not the file owner's alone (owner " +
              std::to_string(js.st_uid) + ", mode " + std::to_string(js.st_mode & 0777) +
              "); if it is the owner's, make it writable by the owner only and open the file again";
        return Recovery::kRefused;
    }
    unsigned char header[kBesideHeader];
    const bool valid = read_fully(journal.get(), header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) &&
                       std::memcmp(header, kBesideMagic, sizeof kBesideMagic) == 0 &&
                       get_le64(header + 24) == (kBesideSeal ^ get_le64(header + 8) ^ get_le64(header + 16));
    // An incomplete header: the epoch had changed nothing yet. Another inode:
    // the journal belongs to a file that no longer stands under this name,
    // and stays for it.
    if (valid && get_le64(header + 16) != static_cast<std::uint64_t>(st.st_ino)) return Recovery::kNothing;
    if (valid) {
        std::vector<unsigned char> bytes;
        haddr_t at = kBesideHeader;
        for (;;) {
            unsigned char head[kBesideEntryHead], mark[kBesideEntryMark];
            if (read_fully(journal.get(), head, sizeof head, at) != static_cast<ssize_t>(sizeof head)) break;
            const std::uint64_t addr = get_le64(head), length = get_le64(head + 8);
            if (length > kChunk) break;
            const haddr_t mark_at = at + kBesideEntryHead + length;
            if (read_fully(journal.get(), mark, sizeof mark, mark_at) != static_cast<ssize_t>(sizeof mark) ||
                get_le64(mark) != beside_mark(addr, length))
                break;  // the entry being written when the kill came: its bytes were not changed
            bytes.resize(length);
            if (read_fully(journal.get(), bytes.data(), length, at + kBesideEntryHead) !=
                    static_cast<ssize_t>(length) ||
                write_fully(data_fd, bytes.data(), length, addr) != 0) {
                why = std::string("cannot undo an unfinished change: ") + std::strerror(errno);
                return Recovery::kFailed;
            }
            at = mark_at + kBesideEntryMark;
        }
        if (ftruncate(data_fd, static_cast<off_t>(get_le64(header + 8))) != 0 || (durable && fdatasync(data_fd) != 0)) {
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

Recovery recover_file(const std::string& name, int locked_fd, bool durable, std::string& why) {
    const auto both = [&](int fd) {
        const Recovery in_file = recover(fd, durable, why);
        if (in_file == Recovery::kFailed || in_file == Recovery::kRefused) return in_file;
        const Recovery beside = recover_beside(name, fd, durable, why);
        if (beside != Recovery::kNothing) return beside;
        return in_file;
    };
    if (locked_fd >= 0) return both(locked_fd);
    const Fd fd(::open(name.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM || error == EROFS) {
            // Readable, not writable: a journal in it cannot be applied, and
            // what a reader would see is the half-done change.
            const Fd read_only(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
            if (read_only.get() >= 0 && holds_journal(read_only.get())) {
                why = "the file holds an unfinished change that only an open for writing can undo";
                return Recovery::kFailed;
            }
        }
        return Recovery::kNothing;  // nothing this open could do; HDF5's open says why it fails
    }
    // A live writer holds the file: its journal is its own.
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && !no_locks_here(errno)) return Recovery::kBusy;
    return both(fd.get());
}

}  // namespace videz5::detail
