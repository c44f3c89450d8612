// The collective Fortran entry points: the communicator from its Fortran
// handle, texts from their lengths, then the checks every rank must pass
// together before any file is touched, and the collective routines beneath.
// Only rank 0 of the communicator prints.
#include "videz5_c_mpi.h"
#include "guarded_entry.hpp"
#include "array_sizes.hpp"
#include "read_messages.hpp"
#include "../parallel/parallel.hpp"
#include "../transfer/transfer.hpp"
#include "../detail/say.hpp"

namespace {

using videz5::detail::Block;
using videz5::detail::Hid;
using videz5::detail::say;

const char* const kDump = "ftoc_h5pdump_data_";
const char* const kRead = "ftoc_h5pread_data_";

bool mpi_running(const char* entry, const std::string& path) {
    int started = 0, finished = 0;
    MPI_Initialized(&started);
    MPI_Finalized(&finished);
    if (started && !finished) return true;
    say(std::string("MPI NOT RUNNING IN ") + entry + "( " + path + " )");
    return false;
}

Block block_of(const unsigned int* global, const unsigned int* offset, const unsigned int* count) {
    Block block{};
    for (int i = 0; i < 3; ++i) {
        block.global[i] = global[i];
        block.offset[i] = offset[i];
        block.count[i] = count[i];
    }
    return block;
}

// The element codes the collective calls take, and an array that has at
// least one element: the same verdict on every rank, the arguments agreeing.
bool collective_array_ok(const char* entry, const std::string& path, int type_code, const Block& block) {
    if (type_code != VIDEZ5_DOUBLE && type_code != VIDEZ5_INT) {
        say(std::string("INVALID TYPE CODE IN ") + entry + "( " + path + ", " + std::to_string(type_code) + " )");
        return false;
    }
    if (block.global[0] == 0 && block.global[1] == 0 && block.global[2] == 0) {
        say(std::string("EMPTY ARRAY IN ") + entry + "( " + path + " ), NOTHING " +
            (entry == kDump ? "WRITTEN" : "READ"));
        return false;
    }
    return true;
}

int pdump(MPI_Comm comm, const std::string& name, const std::string& path, const void* data, const Block& block,
          int type_code) {
    const int element_size = static_cast<int>(videz5::detail::element_code_size(type_code, 1));
    if (!videz5::detail::arguments_agree(comm, kDump, name, path, type_code, element_size, block, true))
        return VIDEZ5_ARGUMENTS_DIFFER;
    if (!collective_array_ok(kDump, path, type_code, block)) return VIDEZ5_WRITE_REFUSED;
    // A rank's own sizes against its own memory; its line is its own to print.
    bool sizes_ok;
    {
        videz5::detail::Speaking own_line(true);
        sizes_ok = block.elements() == 0 ||
                   (data != nullptr && videz5::detail::dump_sizes_ok(kDump, path, data, block.count[0],
                                                                     block.count[1], block.count[2],
                                                                     static_cast<std::size_t>(element_size)));
    }
    if (!videz5::detail::all_ranks(comm, sizes_ok)) return VIDEZ5_WRITE_REFUSED;
    Hid type = videz5::detail::make_element_type(type_code, 0);
    return videz5::detail::collective_dump(comm, name, path, data, block, type.get());
}

int pread(MPI_Comm comm, const std::string& name, const std::string& path, void* buffer, const Block& block,
          int element_size, int type_code) {
    if (!videz5::detail::arguments_agree(comm, kRead, name, path, type_code, element_size, block, false))
        return VIDEZ5_ARGUMENTS_DIFFER;
    if (!collective_array_ok(kRead, path, type_code, block)) return VIDEZ5_TYPE_MISMATCH;
    int status = videz5::detail::check_read_elements(kRead, path, type_code, 0, element_size);
    if (status != VIDEZ5_OK) return status;
    Hid type = videz5::detail::make_element_type(type_code, 0);
    std::vector<hsize_t> stored;
    bool locked_out = false;
    status = videz5::detail::collective_read(comm, name, path, buffer, block, type.get(), stored, locked_out);
    if (status == VIDEZ5_NO_FILE)
        videz5::detail::say_no_file(kRead, name, locked_out);
    else
        videz5::detail::say_read_status(kRead, status, path, stored, block.dims(), type_code, 0);
    return status;
}

}  // namespace

extern "C" {

void ftoc_h5pdump_data_(const int* comm, const char* name, const unsigned int* name_length, const char* path,
                        const unsigned int* path_length, const void* block, const unsigned int* global,
                        const unsigned int* offset, const unsigned int* count, const int* type_code, int* status) {
    *status = VIDEZ5_WRITE_FAILED;
    videz5::detail::guarded_entry(kDump, [&] {
        const std::string path_text = charToString(path, path_length);
        if (!mpi_running(kDump, path_text)) return;
        const MPI_Comm c = MPI_Comm_f2c(*comm);
        int rank = 0;
        MPI_Comm_rank(c, &rank);
        videz5::detail::Speaking speak(rank == 0);
        *status = pdump(c, charToString(name, name_length), path_text, block, block_of(global, offset, count),
                        *type_code);
    });
}

void ftoc_h5pread_data_(const int* comm, const char* name, const unsigned int* name_length, const char* path,
                        const unsigned int* path_length, void* block, const unsigned int* global,
                        const unsigned int* offset, const unsigned int* count, const int* element_size,
                        const int* type_code, int* status) {
    *status = VIDEZ5_READ_FAILED;
    videz5::detail::guarded_entry(kRead, [&] {
        const std::string path_text = charToString(path, path_length);
        if (!mpi_running(kRead, path_text)) return;
        const MPI_Comm c = MPI_Comm_f2c(*comm);
        int rank = 0;
        MPI_Comm_rank(c, &rank);
        videz5::detail::Speaking speak(rank == 0);
        *status = pread(c, charToString(name, name_length), path_text, block, block_of(global, offset, count),
                        *element_size, *type_code);
    });
}

}  // extern "C"
