// Arguments that differ between ranks make parallel HDF5 hang (one rank
// waiting in a collective call the others never make) or write garbage
// (blocks that overlap or leave holes). Every rank hands every other one what
// it was given, in one fixed-size record, so that all of them reach the same
// verdict without a further exchange.
#include "parallel.hpp"
#include "../detail/say.hpp"

#include <algorithm>
#include <array>
#include <string_view>

namespace videz5::detail {
namespace {

// Texts go as hashes: a difference is what matters, not its content.
std::uint64_t fnv1a(std::string_view text) {
    std::uint64_t hash = 1469598103934665603ull;
    for (const unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

enum Field { kName, kPath, kType, kElementSize, kGlobal, kOffset = kGlobal + 3, kCount = kOffset + 3, kFields = kCount + 3 };
using Record = std::array<std::uint64_t, kFields>;

std::string three(const std::uint64_t* values) {
    return std::to_string(values[0]) + ", " + std::to_string(values[1]) + ", " + std::to_string(values[2]);
}

std::string type_name(std::uint64_t code) {
    return code == VIDEZ5_DOUBLE ? "double" : code == VIDEZ5_INT ? "int" : "code " + std::to_string(code);
}

// What differs between rank r's record and rank 0's; empty when nothing does.
std::string difference(const Record& mine, const Record& first, int r) {
    const std::string who = " of rank " + std::to_string(r);
    if (mine[kName] != first[kName]) return "file name" + who + " is not rank 0's";
    if (mine[kPath] != first[kPath]) return "path" + who + " is not rank 0's";
    if (!std::equal(&mine[kGlobal], &mine[kGlobal] + 3, &first[kGlobal]))
        return "global sizes" + who + " are " + three(&mine[kGlobal]) + ", rank 0's " + three(&first[kGlobal]);
    if (mine[kType] != first[kType])
        return "element type" + who + " is " + type_name(mine[kType]) + ", rank 0's " + type_name(first[kType]);
    if (mine[kElementSize] != first[kElementSize])
        return "element size" + who + " is " + std::to_string(mine[kElementSize]) + " bytes, rank 0's " +
               std::to_string(first[kElementSize]);
    return {};
}

// The product of the sizes at field whose global size is present; at most 2^64 - 1.
std::uint64_t product(const Record& record, int field) {
    std::uint64_t n = 1;
    for (int i = 0; i < 3; ++i)
        if (record[kGlobal + i] != 0 && __builtin_mul_overflow(n, record[field + i], &n)) return UINT64_MAX;
    return n;
}

std::uint64_t volume(const Record& record) { return product(record, kCount); }

bool inside(const Record& record) {
    for (int i = 0; i < 3; ++i) {
        const std::uint64_t global = record[kGlobal + i], offset = record[kOffset + i], count = record[kCount + i];
        if (global == 0 ? offset != 0 || count != 0 : offset + count > global) return false;
    }
    return true;
}

bool overlap(const Record& a, const Record& b) {
    if (volume(a) == 0 || volume(b) == 0) return false;
    for (int i = 0; i < 3; ++i) {
        if (a[kGlobal + i] == 0) continue;
        if (a[kOffset + i] + a[kCount + i] <= b[kOffset + i] || b[kOffset + i] + b[kCount + i] <= a[kOffset + i])
            return false;
    }
    return true;
}

// What is wrong with the blocks, all ranks' arguments being the same; empty when nothing is.
std::string block_fault(const std::vector<Record>& records, bool tiling) {
    for (std::size_t r = 0; r < records.size(); ++r)
        if (!inside(records[r]))
            return "block of rank " + std::to_string(r) + " (offset " + three(&records[r][kOffset]) + "; sizes " +
                   three(&records[r][kCount]) + ") lies outside " + three(&records[r][kGlobal]);
    if (!tiling) return {};
    // Inside, pairwise apart and as many elements as the array: each element once.
    for (std::size_t a = 0; a < records.size(); ++a)
        for (std::size_t b = a + 1; b < records.size(); ++b)
            if (overlap(records[a], records[b]))
                return "blocks of ranks " + std::to_string(a) + " and " + std::to_string(b) + " overlap";
    std::uint64_t covered = 0;
    for (const Record& record : records)
        if (__builtin_add_overflow(covered, volume(record), &covered)) covered = UINT64_MAX;
    const std::uint64_t total = product(records[0], kGlobal);
    if (covered != total)
        return "blocks cover " + std::to_string(covered) + " of " + std::to_string(total) + " elements";
    return {};
}

}  // namespace

bool all_ranks(MPI_Comm comm, bool yes) {
    int mine = yes ? 1 : 0, every = 0;
    MPI_Allreduce(&mine, &every, 1, MPI_INT, MPI_MIN, comm);
    return every == 1;
}

int agreed_status(MPI_Comm comm, int status) {
    int lowest = status;
    MPI_Allreduce(&status, &lowest, 1, MPI_INT, MPI_MIN, comm);
    return lowest;
}

bool arguments_agree(MPI_Comm comm, const char* entry, const std::string& name, const std::string& path,
                     int type_code, int element_size, const Block& block, bool tiling) {
    Record mine{};
    mine[kName] = fnv1a(name);
    mine[kPath] = fnv1a(path);
    mine[kType] = static_cast<std::uint64_t>(static_cast<std::uint32_t>(type_code));
    mine[kElementSize] = static_cast<std::uint64_t>(static_cast<std::uint32_t>(element_size));
    for (int i = 0; i < 3; ++i) {
        mine[kGlobal + i] = block.global[i];
        mine[kOffset + i] = block.offset[i];
        mine[kCount + i] = block.count[i];
    }
    int size = 1;
    MPI_Comm_size(comm, &size);
    std::vector<Record> records(static_cast<std::size_t>(size));
    MPI_Allgather(mine.data(), kFields, MPI_UINT64_T, records.data(), kFields, MPI_UINT64_T, comm);

    std::string fault;
    for (int r = 1; r < size && fault.empty(); ++r) fault = difference(records[r], records[0], r);
    if (!fault.empty()) {
        say(std::string("ARGUMENTS DIFFER IN ") + entry + "( " + path + " ): " + fault);
        return false;
    }
    fault = block_fault(records, tiling);
    if (!fault.empty()) {
        say(std::string(tiling ? "BLOCKS DO NOT TILE THE ARRAY IN " : "BLOCK OUTSIDE THE ARRAY IN ") + entry + "( " +
            path + " ): " + fault);
        return false;
    }
    return true;
}

}  // namespace videz5::detail
