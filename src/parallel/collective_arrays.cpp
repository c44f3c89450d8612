// The collective dump and read: one file opened by every rank through
// MPI-IO, one dataset, each rank moving its own block in one collective
// transfer. The file is opened or created first by the serial library on one
// rank, so that a new file is made, a foreign one refused and a killed
// writer's journal put back exactly as for a serial dump; the library's own
// crash-safe driver is serial and does not carry the collective writes.
#include "parallel.hpp"
#include "../access/access.hpp"
#include "../transfer/transfer.hpp"
#include "../detail/say.hpp"

#include <H5FDmpio.h>

#include <optional>

namespace videz5::detail {

std::uint64_t Block::elements() const {
    std::uint64_t n = 1;
    for (int i = 0; i < 3; ++i)
        if (global[i] != 0) n *= count[i];
    return n;
}

namespace {

// The present dimensions' values of one of the block's lists, HDF5 order.
std::vector<hsize_t> reversed(const unsigned int* global, const unsigned int* values) {
    std::vector<hsize_t> list;
    for (int i = 2; i >= 0; --i)
        if (global[i] != 0) list.push_back(values[i]);
    return list;
}

}  // namespace

std::vector<hsize_t> Block::dims() const { return dump_dims(global[0], global[1], global[2]); }
std::vector<hsize_t> Block::start() const { return reversed(global, offset); }
std::vector<hsize_t> Block::counts() const { return reversed(global, count); }

namespace {

int rank_of(MPI_Comm comm) {
    int rank = 0;
    MPI_Comm_rank(comm, &rank);
    return rank;
}

// The block's place in the dataset, and its elements in memory; nothing
// selected for an empty block, which still takes part in the transfer.
struct Selections {
    Hid file_space;
    Hid memory_space;
    Hid transfer;
    bool valid() const { return file_space.valid() && memory_space.valid() && transfer.valid(); }
};

// Whether the block is one run of bytes in the file: past the dimensions where
// it is one element thick, it may be cut in one dimension only, and must span
// every faster one whole (a slab of the slowest dimension, say).
bool contiguous(const Block& block) {
    if (block.elements() == 0) return true;
    const std::vector<hsize_t> dims = block.dims(), counts = block.counts();
    std::size_t i = 0;
    while (i < dims.size() && counts[i] == 1) ++i;
    for (++i; i < dims.size(); ++i)
        if (counts[i] != dims[i]) return false;
    return true;
}

Selections select(MPI_Comm comm, const Block& block) {
    Selections s;
    const std::vector<hsize_t> dims = block.dims(), start = block.start(), counts = block.counts();
    const int rank = static_cast<int>(dims.size());
    s.file_space = own_space(H5Screate_simple(rank, dims.data(), nullptr));
    if (block.elements() == 0) {
        const hsize_t one = 1;
        s.memory_space = own_space(H5Screate_simple(1, &one, nullptr));
        if (s.file_space.valid() && s.memory_space.valid() &&
            (H5Sselect_none(s.file_space.get()) < 0 || H5Sselect_none(s.memory_space.get()) < 0))
            s.file_space.reset();
    } else {
        s.memory_space = own_space(H5Screate_simple(rank, counts.data(), nullptr));
        if (s.file_space.valid() && H5Sselect_hyperslab(s.file_space.get(), H5S_SELECT_SET, start.data(), nullptr,
                                                        counts.data(), nullptr) < 0)
            s.file_space.reset();
    }
    s.transfer = Hid(H5Pcreate(H5P_DATASET_XFER), H5Pclose);
    if (s.transfer.valid() && H5Pset_dxpl_mpio(s.transfer.get(), H5FD_MPIO_COLLECTIVE) < 0) s.transfer.reset();
    // A transfer stays collective for HDF5 (every rank takes part), but blocks
    // that are each one run of the file go straight there, each rank on its
    // own: MPI-IO's two-phase collective buffering would move every byte
    // between ranks once more and hold buffers of tens of MiB. Blocks cut along
    // faster dimensions are many small runs, which that buffering gathers into
    // large writes. One choice for all ranks, or their MPI-IO calls would not match.
    const bool straight = all_ranks(comm, contiguous(block));
    if (s.transfer.valid() && straight &&
        H5Pset_dxpl_mpio_collective_opt(s.transfer.get(), H5FD_MPIO_INDIVIDUAL_IO) < 0)
        s.transfer.reset();
    return s;
}

// The file opened by every rank through MPI-IO; invalid on every rank when on any.
Hid open_collective(MPI_Comm comm, const std::string& name, unsigned flags) {
    Hid access(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
    const bool ready = access.valid() && H5Pset_fapl_mpio(access.get(), comm, MPI_INFO_NULL) >= 0;
    if (!all_ranks(comm, ready)) return Hid();
    Hid file = own_file(H5Fopen(name.c_str(), flags, access.get()));
    if (all_ranks(comm, file.valid())) return file;
    return Hid();
}

}  // namespace

int collective_dump(MPI_Comm comm, const std::string& name, const std::string& path, const void* data,
                    const Block& block, hid_t type_id) {
    const bool first = rank_of(comm) == 0;
    // Made or checked the serial way, then let go before any rank opens it.
    bool opened = false;
    if (first) opened = own_opened_file(open_named_file(name, false, false)).valid();
    int flag = opened ? 1 : 0;
    MPI_Bcast(&flag, 1, MPI_INT, 0, comm);
    if (flag == 0) return VIDEZ5_NO_FILE;
    // MPI-IO takes no lock: the first rank holds HDF5's for all of them.
    std::optional<FileLock> lock;
    if (first) lock.emplace(name, true);
    flag = !first || lock->held() ? 1 : 0;
    MPI_Bcast(&flag, 1, MPI_INT, 0, comm);
    if (flag == 0) {
        say("FILE LOCKED IN open_h5_file( " + name + " ), GAVE UP AFTER " + std::to_string(kLockPatience.count()) +
            " s");
        return VIDEZ5_NO_FILE;
    }

    int status = VIDEZ5_WRITE_FAILED;
    {
        Hid file = open_collective(comm, name, H5F_ACC_RDWR);
        if (!file.valid()) {
            say("CANNOT OPEN FILE IN open_h5_file( " + name + " ): parallel HDF5 cannot open it");
            return VIDEZ5_NO_FILE;
        }
        // Group creation is collective in parallel HDF5: every rank walks the same path.
        PathWalk walk(file.get(), path, 0, true);
        const std::vector<hsize_t> dims = block.dims();
        Selections selections = select(comm, block);
        if (!all_ranks(comm, selections.valid())) return VIDEZ5_WRITE_FAILED;
        const SharedWrite shared{static_cast<std::size_t>(block.elements()),
                                 [comm](bool exact) { return all_ranks(comm, exact); },
                                 selections.memory_space.get(), selections.file_space.get(),
                                 selections.transfer.get()};
        // An empty block has no buffer to speak of; the guarded write wants one.
        static const double nothing = 0;
        DatasetWrite write(walk.deepest(), walk.last_component().c_str(), static_cast<int>(dims.size()),
                           dims.data(), type_id, block.elements() == 0 ? &nothing : data, shared);
        if (!all_ranks(comm, !write.refused())) return VIDEZ5_WRITE_REFUSED;
        status = write.carry_out() >= 0 ? VIDEZ5_OK : VIDEZ5_WRITE_FAILED;
    }  // the dataset, groups and file closed, collectively
    return agreed_status(comm, status);
}

int collective_read(MPI_Comm comm, const std::string& name, const std::string& path, void* buffer,
                    const Block& block, hid_t type_id, std::vector<hsize_t>& stored_dims, bool& locked_out) {
    stored_dims.clear();
    locked_out = false;
    const bool first = rank_of(comm) == 0;
    // Looked at the serial way first: a missing or foreign file, or one that
    // another process holds for writing, is told apart there.
    int flags[2] = {1, 0};
    if (first) {
        bool locked = false;
        flags[0] = own_opened_file(open_h5_file_read_only(name, &locked)).valid() ? 1 : 0;
        flags[1] = locked ? 1 : 0;
    }
    // Readers share the file; a writer that came in meanwhile is waited for.
    std::optional<FileLock> lock;
    if (first && flags[0] == 1) {
        lock.emplace(name, false);
        if (!lock->held()) flags[0] = 0, flags[1] = 1;
    }
    MPI_Bcast(flags, 2, MPI_INT, 0, comm);
    locked_out = flags[1] == 1;
    if (flags[0] == 0) return VIDEZ5_NO_FILE;

    int status = VIDEZ5_READ_FAILED;
    {
        Hid file = open_collective(comm, name, H5F_ACC_RDONLY);
        if (!file.valid()) return VIDEZ5_NO_FILE;
        Hid dataset;
        status = agreed_status(comm, open_for_read(file.get(), path, block.dims(), type_id, dataset, stored_dims));
        if (status != VIDEZ5_OK) return status;
        Selections selections = select(comm, block);
        if (!all_ranks(comm, selections.valid())) return VIDEZ5_READ_FAILED;
        static double nowhere = 0;
        const herr_t read = H5Dread(dataset.get(), type_id, selections.memory_space.get(), selections.file_space.get(),
                                    selections.transfer.get(), block.elements() == 0 ? &nowhere : buffer);
        status = read >= 0 ? VIDEZ5_OK : VIDEZ5_READ_FAILED;
    }
    return agreed_status(comm, status);
}

}  // namespace videz5::detail
