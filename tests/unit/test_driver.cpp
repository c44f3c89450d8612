// The file driver below HDF5: that it is the one in use, how it reports
// errors, its registration, and the undo journal on its own.
#include "videz5_c.h"
#include "support.hpp"
#include "../../src/access/access.hpp"
#include "../../src/driver/commit_order.hpp"
#include "../../src/driver/driver.hpp"
#include "../../src/driver/hdf5_format.hpp"
#include "../../src/driver/undo_journal.hpp"

#include <fcntl.h>

#include <set>
#include <thread>

using namespace unit;

TEST(Driver, EveryFileTheLibraryOpensGoesThroughIt) {
    TempDir tmp;
    hid_t file = -1;
    capture([&] { file = open_h5_file(tmp.path("d.h5"), false); });
    ASSERT_GE(file, 0);
    const hid_t fapl = H5Fget_access_plist(file);
    const hid_t expected = videz5::detail::file_access();
    EXPECT_EQ(H5Pget_driver(fapl), H5Pget_driver(expected));
    EXPECT_NE(H5Pget_driver(fapl), H5FD_SEC2);
    H5Pclose(fapl);
    H5Fclose(file);
}

namespace {

struct Pushed {
    std::string function;
    unsigned line;
};

herr_t collect(unsigned, const H5E_error2_t* error, void* out) {
    const std::string file = error->file_name != nullptr ? error->file_name : "";
    if (file.find("ordered_driver.cpp") != std::string::npos)
        static_cast<std::vector<Pushed>*>(out)->push_back({error->func_name, error->line});
    return 0;
}

std::vector<Pushed> driver_errors_of_open(const std::string& name) {
    std::vector<Pushed> found;
    H5E_auto2_t func;
    void* data;
    H5Eget_auto2(H5E_DEFAULT, &func, &data);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    const hid_t file = H5Fopen(name.c_str(), H5F_ACC_RDONLY, videz5::detail::file_access());
    H5Ewalk2(H5E_DEFAULT, H5E_WALK_UPWARD, collect, &found);
    H5Eset_auto2(H5E_DEFAULT, func, data);
    if (file >= 0) H5Fclose(file);
    return found;
}

}  // namespace

TEST(Driver, ErrorsNameTheFunctionAndLineThatFoundThem) {
    TempDir tmp;
    const auto missing = driver_errors_of_open(tmp.path("missing.h5"));
    const auto device = driver_errors_of_open("/dev/null");
    ASSERT_EQ(missing.size(), 1u);
    ASSERT_EQ(device.size(), 1u);
    EXPECT_EQ(missing[0].function, "driver_open");
    EXPECT_EQ(device[0].function, "driver_open");
    EXPECT_NE(missing[0].line, device[0].line);
}

TEST(Driver, RegistersOnceFromManyThreadsAgainAfterHdf5ShutsDown) {
    H5close();  // HDF5 forgets every registration
    std::vector<hid_t> seen(8, H5I_INVALID_HID);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&seen, i] { seen[i] = videz5::detail::file_access(); });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(std::set<hid_t>(seen.begin(), seen.end()).size(), 1u);
    EXPECT_GE(seen[0], 0);
    EXPECT_EQ(H5Iget_type(seen[0]), H5I_GENPROP_LST);
}

// The driver's knowledge of HDF5's format holds for the HDF5 the tests run
// with: otherwise every change would be journaled, safe but slow.
TEST(Driver, KnowsTheFormatOfThisHdf5) { EXPECT_TRUE(videz5::detail::format::format_known()); }

// The journal on its own: an epoch that never finished is undone, whatever it
// had changed in place or added at the end, even when the kill cut its last
// entry short, and whichever of its bytes were kept (only those that change,
// each with its first old value); a live one and a finished one are left alone.
TEST(UndoJournal, UndoesOnlyAnEpochThatDidNotFinish) {
    using videz5::detail::Recovery;
    TempDir tmp;
    const std::string name = tmp.path("data"), journal_name = videz5::detail::journal_name(name);
    const std::string before(100000, 'a');
    write_bytes(name, before);
    const int fd = ::open(name.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    std::string why;
    const auto recover = [&] { return videz5::detail::recover(name, -1, false, why); };
    // Kept, then written in place, as the driver does.
    const auto change = [fd](videz5::detail::UndoJournal& journal, haddr_t at, const std::string& bytes, bool write) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        if (!journal.save_changes({{at, p, bytes.size()}})) return false;
        return !write || pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at)) ==
                             static_cast<ssize_t>(bytes.size());
    };
    {
        videz5::detail::UndoJournal journal;
        ASSERT_TRUE(journal.start(name, fd, before.size())) << journal.error();
        ASSERT_TRUE(change(journal, 100, std::string(50, 'b'), true));
        ASSERT_TRUE(change(journal, 120, std::string(200, 'c'), true));  // overlaps what is kept already
        ASSERT_TRUE(change(journal, 50, std::string(350, 'h'), true));   // around it
        std::string middle_kept(9000, 'a');                                // changes only near its ends
        middle_kept[100] = middle_kept.back() = 'd';
        ASSERT_TRUE(change(journal, 500, middle_kept, true));
        ASSERT_TRUE(change(journal, 5000, std::string(100, 'e'), true));  // within what that one did not keep
        ASSERT_TRUE(change(journal, 20000, std::string(50000, 'i'), true));  // large: an entry on its own
        ASSERT_TRUE(change(journal, 99990, std::string(1000, 'f'), true));  // reaches past the old end
        ASSERT_TRUE(change(journal, 2000, std::string(100, 'g'), false));  // the kill comes before the write
        EXPECT_EQ(recover(), Recovery::kBusy);  // alive: nobody may undo it
    }  // a kill: the journal stays behind, its last entry losing its last bytes
    std::string kept = file_bytes(journal_name);
    kept.resize(kept.size() - 5);
    write_bytes(journal_name, kept);

    EXPECT_EQ(recover(), Recovery::kRecovered) << why;
    EXPECT_EQ(file_bytes(name), before);
    EXPECT_FALSE(std::filesystem::exists(journal_name));
    EXPECT_EQ(recover(), Recovery::kNothing);

    {
        videz5::detail::UndoJournal journal;
        for (const char* epoch : {"bbbbbbbbbb", "cccccccccc"}) {  // one journal for the epochs of an open file
            ASSERT_TRUE(journal.start(name, fd, before.size()));
            ASSERT_TRUE(change(journal, 0, epoch, true));
            ASSERT_TRUE(journal.finish(true));
            EXPECT_EQ(file_bytes(journal_name), "");  // emptied: nothing to undo
        }
    }
    ::close(fd);
    EXPECT_EQ(recover(), Recovery::kNothing);  // gone with the file's close
    write_bytes(journal_name, "");             // an emptied one that a kill left behind
    EXPECT_EQ(recover(), Recovery::kRecovered);
    EXPECT_EQ(file_bytes(name), "cccccccccc" + before.substr(10));
    EXPECT_FALSE(std::filesystem::exists(journal_name));
}

// The commit order on its own: what nothing refers to yet, then the superblock,
// then changes in place, what is referred to before what refers to it.
TEST(CommitOrder, WritesWhatIsReferredToBeforeWhatRefersToIt) {
    using videz5::detail::Region;
    videz5::detail::Regions pending;
    const auto add = [&pending](haddr_t addr, H5FD_mem_t type, std::string bytes) {
        bytes.resize(std::max<std::size_t>(bytes.size(), 8), '\0');
        pending[addr] = Region{addr, type, std::vector<unsigned char>(bytes.begin(), bytes.end())};
    };
    std::string heap("HEAP", 4);
    heap.resize(32, '\0');
    heap[24] = static_cast<char>(700 & 0xff);  // its data block, at 700
    heap[25] = static_cast<char>(700 >> 8);
    add(5000, H5FD_MEM_OHDR, "OHDR");                               // new space
    add(0, H5FD_MEM_SUPER, "\x89HDF");                              // the superblock
    add(100, H5FD_MEM_LHEAP, heap);                                 // a heap prefix and
    add(700, H5FD_MEM_LHEAP, "names");                              // its data block: one step
    add(800, H5FD_MEM_OHDR, "reused");                              // space freed this session
    add(200, H5FD_MEM_OHDR, "OHDR");                                // an object header in place
    add(400, H5FD_MEM_BTREE, std::string("TREE\0\0", 6));            // a leaf B-tree node
    add(300, H5FD_MEM_BTREE, std::string("TREE\0\1", 6));            // its parent
    add(500, H5FD_MEM_BTREE, "SNOD");                               // a symbol table node
    const std::map<haddr_t, H5FD_mem_t> known{{0, H5FD_MEM_SUPER},  {100, H5FD_MEM_LHEAP}, {200, H5FD_MEM_OHDR},
                                              {300, H5FD_MEM_BTREE}, {400, H5FD_MEM_BTREE}, {500, H5FD_MEM_BTREE},
                                              {700, H5FD_MEM_LHEAP}};
    const auto steps = videz5::detail::commit_order(pending, {4096, known});
    std::vector<haddr_t> order;
    for (const auto& step : steps) order.push_back(step.region->addr);
    EXPECT_EQ(order, (std::vector<haddr_t>{5000, 0, 100, 800, 200, 300, 400, 500}));
    ASSERT_EQ(steps.size(), 8u);
    EXPECT_EQ(steps[2].heap_data, &pending.at(700));
}
