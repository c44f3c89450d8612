// Fortran callers hold identifiers in default (32-bit) integers, but HDF5 1.10
// identifiers are 64-bit with the object type in the top bits, so cutting them
// would alias. Each identifier handed to Fortran gets a positive handle instead,
// never reused in the process, so a stale handle cannot reach another object.
#include "handles.hpp"
#include "read_messages.hpp"
#include "../access/access.hpp"
#include "../detail/say.hpp"

#include <chrono>
#include <limits>
#include <unordered_map>

namespace videz5::detail {
namespace {

using Clock = std::chrono::steady_clock;

// When a file's changes are committed. Kept with its file handle; the calls
// through its groups count for it too.
struct Schedule {
    int calls = 1;
    double seconds = 0;
    int uncommitted = 0;
    Clock::time_point last_commit = Clock::now();

    bool deferred() const { return calls > 1 || seconds > 0; }
    bool due() const {
        if (!deferred()) return true;
        return (calls > 0 && uncommitted >= calls) ||
               (seconds > 0 && std::chrono::duration<double>(Clock::now() - last_commit).count() >= seconds);
    }
};

struct Entry {
    hid_t id;
    int file;  // the handle whose schedule applies: its own for a file
    Schedule schedule;
};

struct HandleTable {
    std::unordered_map<int, Entry> entries;
    int last = 0;

    Entry* find(int handle) {
        const auto found = entries.find(handle);
        return found == entries.end() ? nullptr : &found->second;
    }
    // The schedule of handle's file; none once the file's own handle is closed.
    Schedule* schedule_of(int handle) {
        Entry* entry = find(handle);
        Entry* file = entry != nullptr ? find(entry->file) : nullptr;
        return file != nullptr ? &file->schedule : nullptr;
    }
};

HandleTable& table() {
    static HandleTable instance;
    return instance;
}

}  // namespace

int register_handle(hid_t id, int through) {
    HandleTable& t = table();
    if (id < 0 || t.last == std::numeric_limits<int>::max()) return -1;
    const Entry* parent = t.find(through);
    const int handle = ++t.last;
    // fault-check: handle-keeps-whole-id
    t.entries.emplace(handle, Entry{id, parent != nullptr ? parent->file : handle, Schedule{}});
    if (const Schedule* schedule = t.schedule_of(handle); schedule != nullptr && schedule->deferred())
        keep_groups_open(id, true);
    return handle;
}

hid_t lookup_handle(int handle) {
    const Entry* entry = table().find(handle);
    return entry == nullptr ? H5I_INVALID_HID : entry->id;
}

void forget_handle(int handle) { table().entries.erase(handle); }

void defer_commits(int handle, int calls, double seconds) {
    Schedule* schedule = table().schedule_of(handle);
    if (schedule == nullptr) return;
    schedule->calls = calls;
    schedule->seconds = seconds;
    // Calls between commits keep their groups open; the file's own handle and
    // the group handles opened through it alike.
    const int file = table().find(handle)->file;
    for (const auto& [h, entry] : table().entries)
        if (entry.file == file) keep_groups_open(entry.id, schedule->deferred());
    // Back to every call: what waited is committed now.
    if (!schedule->deferred() && schedule->uncommitted > 0) commit_now(handle);
}

int commit_now(int handle) {
    const hid_t id = lookup_handle(handle);
    if (id < 0) return -1;
    const int status = commit_file(id);
    if (Schedule* schedule = table().schedule_of(handle)) {
        schedule->uncommitted = 0;
        schedule->last_commit = Clock::now();
    }
    return status;
}

CallTarget CallTarget::by_name(const char* name, const unsigned int* name_length, bool reading) {
    CallTarget target = for_call(own_opened_file(open_named_file(charToString(name, name_length), reading, reading)));
    target.gave_up_ = take_gave_up_on_lock();  // fault-check: gave-up-stops
    return target;
}

CallTarget CallTarget::read_only(const char* name, const unsigned int* name_length, const char* entry) {
    const std::string name_text = charToString(name, name_length);
    bool locked_out = false;
    Hid file = own_opened_file(open_h5_file_read_only(name_text, &locked_out));
    if (!file.valid() && entry != nullptr) say_no_file(entry, name_text, locked_out);
    return for_call(std::move(file));
}

CallTarget CallTarget::existing(const char* name, const unsigned int* name_length, const char* entry) {
    const std::string name_text = charToString(name, name_length);
    if (!file_exists(name_text)) {  // fault-check: existing-file-not-created
        say(read_message(entry, "NONEXISTENT FILE", name_text));
        CallTarget none = for_call(Hid());
        none.missing_ = true;
        return none;
    }
    return by_name(name, name_length, false);
}

CallTarget CallTarget::held(int handle, const char* entry) {
    const hid_t id = lookup_handle(handle);
    if (id < 0 && entry != nullptr)
        say(std::string("INVALID HANDLE IN ") + entry + "( " + std::to_string(handle) + " )");
    return CallTarget(Hid(id, nullptr), handle, true);
}

int CallTarget::written() {
    if (!held_) return id_.valid() ? close_file(id_.release()) : -1;
    Schedule* schedule = table().schedule_of(handle_);
    if (schedule != nullptr) ++schedule->uncommitted;
    if (schedule == nullptr || schedule->due()) return commit_now(handle_);
    return 0;
}

}  // namespace videz5::detail
