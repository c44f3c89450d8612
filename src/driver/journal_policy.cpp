#include "journal_policy.hpp"
#include "driver.hpp"

namespace videz5::detail {
namespace {

// The range of UnseenRawWrites; empty when none lives.
thread_local haddr_t unseen_from = 0, unseen_to = 0;

// Whether the commit takes entries out of a group index node in place: a node that split.
bool index_node_shrinks(const State& s) {
    const FileView file{s.committed, s.known};
    for (const auto& [addr, r] : s.pending) {
        unsigned now;
        const auto before = s.index_entries.find(addr);
        if (r.type != H5FD_MEM_BTREE || before == s.index_entries.end() || !rewrites_known_object(file, r) ||
            !format::index_node_entries(r.bytes.data(), r.bytes.size(), now))
            continue;
        if (now < before->second) return true;  // fault-check: split-journaled
    }
    return false;
}

// Whether the commit adds an entry in place to a chunk index node.
bool chunk_index_grows(const State& s) {
    const FileView file{s.committed, s.known};
    for (const auto& [addr, r] : s.pending)
        if (r.type == H5FD_MEM_BTREE && format::chunk_index_node(r.bytes.data(), r.bytes.size()) &&
            rewrites_known_object(file, r))
            return true;
    return false;
}

}  // namespace

bool raw_write_needs_undo(const State& s, haddr_t addr, std::size_t size) {
    return addr < s.epoch_eof && !(addr >= unseen_from && addr + size <= unseen_to);
}

bool commit_needs_journal(const State& s) {
    return s.journal_epoch || s.journal_always || index_node_shrinks(s) || chunk_index_grows(s);
}

UnseenRawWrites::UnseenRawWrites(haddr_t addr, hsize_t size) {
    unseen_from = addr;
    unseen_to = addr + size;
}
UnseenRawWrites::~UnseenRawWrites() { unseen_from = unseen_to = 0; }

}  // namespace videz5::detail
