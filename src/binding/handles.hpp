// The handles that Fortran callers hold, and where each call goes: a file
// opened by name for that call alone, or a file (or group) held through a handle.
#pragma once

#include "../detail/hid.hpp"

#include <string>
#include <utility>

namespace videz5::detail {

// A new positive handle for id, opened through the handle `through` (0 for a
// file opened by name): a group shares its file's commit schedule. -1 when id
// is negative (a failure) or handles ran out.
int register_handle(hid_t id, int through);
// The identifier behind handle; an invalid identifier when the handle is unknown.
hid_t lookup_handle(int handle);
void forget_handle(int handle);

// Commits every call through a handle before it returns, unless its file
// defers commits: then every `calls` calls or once `seconds` have passed since
// the last commit (whichever comes first; 0 = not that way), at a flush, and
// at close. calls <= 1 and seconds <= 0 go back to committing every call.
// Unknown handles are ignored.
void defer_commits(int handle, int calls, double seconds);
// Commits what calls through handle have changed so far; negative on failure.
int commit_now(int handle);

// The file of one entry point's call.
class CallTarget {
public:
    // Opened by name for this call and closed when it ends, which commits it;
    // a failure to open has been told (see open_named_file).
    static CallTarget by_name(const char* name, const unsigned int* name_length, bool reading);
    // Opened read-only by name for this call and closed when it ends, never
    // created; a failure is told in one line naming entry (none when entry is null).
    static CallTarget read_only(const char* name, const unsigned int* name_length, const char* entry);
    // Opened read-write by name as by_name, for a call that changes what a
    // file holds, not whether there is one: a missing file is never created,
    // but told in one line naming entry.
    static CallTarget existing(const char* name, const unsigned int* name_length, const char* entry);
    // Opened by the caller for this call alone.
    static CallTarget for_call(Hid file) { return CallTarget(std::move(file), 0, false); }
    // Held by the caller: an unknown handle is told in one line naming entry
    // (none when entry is null).
    static CallTarget held(int handle, const char* entry);

    hid_t get() const { return id_.get(); }
    bool valid() const { return id_.valid(); }
    // An unknown handle, a file that had to exist and did not, or a file given
    // up on after waiting for another process's lock: told already, nothing to do. (A file that failed to open
    // by name for another reason goes on to the routines beneath, which say
    // what failed.)
    bool refused() const { return (held_ && !valid()) || gave_up_ || missing_; }
    // After the call changed the file: a held file is committed as its
    // schedule says, a file opened by name is closed now, which commits it.
    // Negative when that commit failed: the call's changes may be lost.
    int written();

private:
    CallTarget(Hid id, int handle, bool held) : id_(std::move(id)), handle_(handle), held_(held) {}
    Hid id_;
    int handle_ = 0;
    bool held_ = false;
    bool gave_up_ = false;
    bool missing_ = false;  // a file that had to exist did not
};

}  // namespace videz5::detail
