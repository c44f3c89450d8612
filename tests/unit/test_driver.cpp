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
#include <sys/stat.h>
#include <unistd.h>

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

// HDF5 may give back the end of its allocation after it wrote the
// superblock, and state the smaller end only with its next superblock: the
// file keeps the end on disk meanwhile, or a kill in between would leave a
// file that HDF5 calls truncated. Driven through HDF5's driver calls.
TEST(Driver, NeverCutsAFileBelowTheEndItsSuperblockStates) {
    TempDir tmp;
    const std::string name = tmp.path("d.h5");
    write_bytes(name, std::string(4096, '\0'));
    const hid_t fapl = H5Pcreate(H5P_FILE_ACCESS);
    ASSERT_GE(H5Pset_driver(fapl, videz5::detail::ordered_driver(), nullptr), 0);
    H5FD_t* file = H5FDopen(name.c_str(), H5F_ACC_RDWR, fapl, haddr_t{1} << 40);
    ASSERT_NE(file, nullptr);
    const std::string superblock(96, 's');  // the driver does not read what a superblock says here
    ASSERT_GE(H5FDset_eoa(file, H5FD_MEM_SUPER, 20000), 0);
    ASSERT_GE(H5FDwrite(file, H5FD_MEM_SUPER, H5P_DEFAULT, 0, superblock.size(), superblock.data()), 0);
    ASSERT_GE(H5FDflush(file, H5P_DEFAULT, false), 0);
    EXPECT_EQ(file_bytes(name).size(), 20000u);  // the end it states is in the file before it
    ASSERT_GE(H5FDset_eoa(file, H5FD_MEM_SUPER, 12000), 0);  // given back
    ASSERT_GE(H5FDtruncate(file, H5P_DEFAULT, false), 0);
    EXPECT_EQ(file_bytes(name).size(), 20000u);
    ASSERT_GE(H5FDwrite(file, H5FD_MEM_SUPER, H5P_DEFAULT, 0, superblock.size(), superblock.data()), 0);
    ASSERT_GE(H5FDtruncate(file, H5P_DEFAULT, false), 0);  // the next one states the smaller end
    EXPECT_EQ(file_bytes(name).size(), 12000u);
    H5FDclose(file);
    H5Pclose(fapl);
}

// The journal on its own, in the data file: an epoch that never finished is
// undone, whatever it had changed in place or added at the end (also when a
// write was cut at a block, or the journal had moved), whichever of its bytes
// were kept (only those that change, each with its first old value), and a
// record cut short or garbage after the last one is ignored; a finished
// epoch leaves nothing; bytes that another program changed since are not
// undone, the file and journal left alone.
TEST(UndoJournal, UndoesOnlyAnEpochThatDidNotFinishAndOnlyOverWhatItLeft) {
    using videz5::detail::Recovery;
    using videz5::detail::UndoJournal;
    TempDir tmp;
    const std::string name = tmp.path("data");
    const std::string before(100000, 'a');
    write_bytes(name, before);
    const int fd = ::open(name.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    std::string why;
    const auto recover = [&] { return videz5::detail::recover(fd, false, why); };
    const auto le = [](std::uint64_t v) { return std::string(reinterpret_cast<const char*>(&v), 8); };
    const auto write_at = [fd](haddr_t at, const std::string& bytes) {
        return pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at)) == static_cast<ssize_t>(bytes.size());
    };
    // Kept, then written in place (up to `written` bytes), as the driver does.
    const auto change = [&](UndoJournal& journal, haddr_t at, const std::string& bytes,
                            std::size_t written = std::string::npos) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        return journal.save_changes({{at, p, bytes.size()}}) && write_at(at, bytes.substr(0, written));
    };
    {
        UndoJournal journal;
        ASSERT_TRUE(journal.start(fd, before.size(), before.size())) << journal.error();
        ASSERT_TRUE(change(journal, 100, std::string(50, 'b')));
        ASSERT_TRUE(change(journal, 120, std::string(200, 'c')));  // overlaps what is kept already
        ASSERT_TRUE(change(journal, 50, std::string(350, 'h')));   // around it
        std::string middle_kept(9000, 'a');                          // changes only near its ends
        middle_kept[100] = middle_kept.back() = 'd';
        ASSERT_TRUE(change(journal, 500, middle_kept));
        ASSERT_TRUE(change(journal, 5000, std::string(100, 'e')));    // within what that one did not keep
        ASSERT_TRUE(change(journal, 20000, std::string(50000, 'i')));  // large: a record on its own
        ASSERT_TRUE(change(journal, 99990, std::string(1000, 'f')));   // reaches past the old end
        ASSERT_TRUE(change(journal, 71000, std::string(3000, 'j'), 1192));  // cut at a block by the kill
        // HDF5 needs the space where the journal is: it moves on, and the space is HDF5's.
        const haddr_t was = journal.begins();
        ASSERT_TRUE(journal.make_room(was + 10, false)) << journal.error();
        EXPECT_GT(journal.begins(), was + 10);
        ASSERT_TRUE(write_at(was, "new data where the journal was"));
        ASSERT_TRUE(change(journal, 2000, std::string(100, 'g'), 0));  // the kill comes before the write
        // Garbage in the room after the last record: a record of old bytes
        // whose checksum is not this journal's.
        ASSERT_TRUE(write_at(journal.records_end(), le(1) + le(300) + le(4) + "OOPS" + le(12345)));
    }
    EXPECT_TRUE(videz5::detail::holds_journal(fd));
    EXPECT_EQ(recover(), Recovery::kRecovered) << why;
    EXPECT_EQ(first_difference(file_bytes(name), before), std::string::npos);
    EXPECT_EQ(recover(), Recovery::kNothing) << why;

    {
        UndoJournal journal;
        for (const char* epoch : {"bbbbbbbbbb", "cccccccccc"}) {  // one journal object for the epochs of an open file
            ASSERT_TRUE(journal.start(fd, before.size(), before.size()));
            ASSERT_TRUE(change(journal, 0, epoch));
            ASSERT_TRUE(journal.finish(before.size(), true));
            EXPECT_FALSE(videz5::detail::holds_journal(fd));  // cut off: nothing to undo
            EXPECT_EQ(file_bytes(name).size(), before.size());
        }
        // A kill in the middle of an append: the record cut short is ignored,
        // its change not made yet.
        ASSERT_TRUE(journal.start(fd, before.size(), before.size()));
        ASSERT_TRUE(change(journal, 3000, std::string(10, 'm')));
        ASSERT_TRUE(change(journal, 3500, std::string(10, 'n'), 0));
        ASSERT_TRUE(write_at(journal.records_end() - 5, "xxxxx"));
        EXPECT_EQ(recover(), Recovery::kRecovered) << why;
        EXPECT_EQ(first_difference(file_bytes(name), "cccccccccc" + before.substr(10)), std::string::npos);
        // Another program's write over what the epoch changed, after the kill.
        ASSERT_TRUE(journal.start(fd, before.size(), before.size()));
        ASSERT_TRUE(change(journal, 4000, std::string(600, 'k')));
    }
    ASSERT_TRUE(write_at(4100, "someone else"));
    const std::string changed = file_bytes(name);
    EXPECT_EQ(recover(), Recovery::kRefused);
    EXPECT_NE(why.find("hold neither what they held before it nor what it wrote"), std::string::npos) << why;
    EXPECT_EQ(first_difference(file_bytes(name), changed), std::string::npos);
    EXPECT_TRUE(videz5::detail::holds_journal(fd));
    ::close(fd);
}

// Journals that earlier builds kept beside the file: applied when they are
// the file owner's alone, refused (and kept) when anyone else may have put
// them there.
TEST(UndoJournal, AJournalBesideTheFileIsAppliedOnlyWhenItIsTheOwnersAlone) {
    using videz5::detail::Recovery;
    TempDir tmp;
    const std::string name = tmp.path("data"), beside = videz5::detail::journal_name(name);
    write_bytes(name, std::string(1000, 'n') + "tail");
    struct stat st;
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    // As they wrote it: header (magic, size before, inode, seal), then [address][length][old bytes][mark].
    const auto le = [](std::uint64_t v) {
        std::string out(8, '\0');
        for (int i = 0; i < 8; ++i) out[i] = static_cast<char>(v >> (8 * i));
        return out;
    };
    const std::uint64_t seal = 0x6a6f75726e616c21, ino = st.st_ino;
    const std::string journal = "V5UNDO01" + le(1000) + le(ino) + le(seal ^ 1000 ^ ino) + le(10) + le(3) + "old" +
                                le(seal ^ 10 ^ (3 * 0x9e3779b97f4a7c15ULL));
    std::string why;
    const auto recover = [&] { return videz5::detail::recover_beside(name, -1, false, why); };
    write_bytes(beside, journal);
    chmod(beside.c_str(), 0664);  // writable by the group
    EXPECT_EQ(recover(), Recovery::kRefused);
    EXPECT_NE(why.find("is refused"), std::string::npos) << why;
    if (geteuid() == 0) {  // owned by another user
        chmod(beside.c_str(), 0600);
        ASSERT_EQ(chown(beside.c_str(), 65534, 65534), 0);
        EXPECT_EQ(recover(), Recovery::kRefused);
        ASSERT_EQ(chown(beside.c_str(), st.st_uid, st.st_gid), 0);
    }
    EXPECT_TRUE(std::filesystem::exists(beside));
    chmod(beside.c_str(), 0644);
    EXPECT_EQ(recover(), Recovery::kRecovered) << why;
    EXPECT_EQ(first_difference(file_bytes(name), std::string(10, 'n') + "old" + std::string(987, 'n')), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(beside));
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
