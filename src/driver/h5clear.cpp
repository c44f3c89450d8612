// Files in HDF5's newer format that a killed writer left flagged "open for
// writing": HDF5 refuses them until `h5clear -s` clears the flags. Once the
// driver holds the file's lock nobody else writes it, so such flags are
// stale, and HDF5 is shown the superblock as h5clear -s would leave it. The
// stored superblock changes only when HDF5 writes its own.
#include "driver_state.hpp"
#include "posix_io.hpp"

namespace videz5::detail {
namespace {

// Finds the superblock (at 0, 512, 1024, ... as HDF5 looks for it) and notes
// a file whose structures the commit order does not know: its changes are
// always journaled. For the newer format's superblock, notes its flags and
// their cleared copy.
void look_at_superblock(State& s) {
    s.looked = true;
    s.head_valid = false;
    s.journal_always = !format::format_known();
    s.superblock_addr = HADDR_UNDEF;
    s.stale_flags = false;
    for (haddr_t at = 0; at + format::kNewSuperblock <= s.eof; at = at == 0 ? 512 : at * 2) {
        std::array<unsigned char, format::kNewSuperblock> block;
        if (read_fully(s.fd, block.data(), block.size(), at) != static_cast<ssize_t>(block.size())) return;
        if (at == 0) {
            s.head = block;
            s.head_valid = true;
        }
        format::Superblock sb;
        if (!format::parse_superblock(block.data(), block.size(), sb)) continue;
        if (!sb.ordered) s.journal_always = true;
        if (sb.version < 2) return;
        s.superblock_addr = at;
        const unsigned char flags = block[format::kSuperblockFlags];
        // A live single-writer-multiple-reader writer keeps its flags: HDF5's refusal stands.
        if (block[9] != 8 || (flags & format::kWriteAccess) == 0 || (flags & format::kSwmrWriteAccess) != 0) return;
        block[format::kSuperblockFlags] = static_cast<unsigned char>(flags & ~format::kWriteAccess);
        const std::uint32_t sum = format::lookup3(block.data(), format::kNewSuperblock - 4);
        for (int i = 0; i < 4; ++i) block[format::kNewSuperblock - 4 + i] = static_cast<unsigned char>(sum >> (8 * i));
        s.cleared = block;
        s.stale_flags = true;
        return;
    }
}

}  // namespace

void look_once(State& s) {
    if (s.looked) return;
    look_at_superblock(s);
    // Locked: no live writer has the file, so flags that say one has are stale.
    s.show_cleared = s.locked && s.stale_flags;  // fault-check: stale-flags-cleared
}

}  // namespace videz5::detail
