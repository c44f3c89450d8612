// Entry points that ask what a file holds and take something out of it, by
// file name and through a held handle. Asking opens a file by name read-only
// and never creates it; a delete goes through the same open and commit as a
// dump, and never creates its file either.
#include "videz5_c.h"
#include "bodies.hpp"
#include "guarded_entry.hpp"
#include "read_messages.hpp"
#include "../access/access.hpp"
#include "../text/text.hpp"
#include "../detail/say.hpp"

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

namespace {

using videz5::detail::CallTarget;
using videz5::detail::held;
using videz5::detail::OpenTarget;
using videz5::detail::read_message;
using videz5::detail::say;

void exists_entry(const OpenTarget& open_target, const char* path, const unsigned int* path_length, int* exists) {
    // The answer is all there is to say (a file system without locks goes
    // untold here too), whatever the file.
    const videz5::detail::Speaking silent(false);
    CallTarget file = open_target();
    *exists = file.valid() && videz5::detail::open_object_at(file.get(), charToString(path, path_length)).valid();
}

void list_entry(const char* entry, const OpenTarget& open_target, const char* path, const unsigned int* path_length,
                char* names, const unsigned int* names_count, const unsigned int* names_length, int* count,
                int* status) {
    using namespace videz5::detail;
    *count = -1;
    const std::string path_text = charToString(path, path_length);
    CallTarget file = open_target();
    if (!file.valid()) {
        *status = VIDEZ5_NO_FILE;
        return;
    }
    std::vector<std::string> found;
    *status = list_group(file.get(), path_text, found);
    if (*status == VIDEZ5_NO_DATASET) say(read_message(entry, "NO GROUP", path_text));
    if (*status == VIDEZ5_READ_FAILED) say(read_message(entry, "READ FAILED", path_text));
    if (*status != VIDEZ5_OK) return;
    *count = static_cast<int>(std::min<std::size_t>(found.size(), INT_MAX));
    // Every element is the listing's: those past the last name are blank.
    const std::size_t length = *names_length;
    const std::string none;
    std::size_t longest = 0;
    for (std::size_t i = 0; i < *names_count; ++i) {
        const std::string& name = i < found.size() ? found[i] : none;
        longest = std::max(longest, name.size());
        to_fortran_text(name, names + i * length, length);
    }
    if (longest > length) {
        say(read_message(entry, "NAMES CUT", path_text) + ": the longest name has " + std::to_string(longest) +
            " characters, names have " + std::to_string(length));
        *status = VIDEZ5_NAMES_CUT;
    }
}

void delete_entry(const char* entry, const OpenTarget& open_target, const char* path, const unsigned int* path_length,
                  int* status) {
    using namespace videz5::detail;
    const std::string path_text = charToString(path, path_length);
    const auto refuse_own_group = [&] {
        say(read_message(entry, "CANNOT DELETE", path_text) + ": the path names the group it starts from");
        *status = VIDEZ5_WRITE_REFUSED;
    };
    // Refused before any file is touched.
    if (names_own_group(path_text)) return refuse_own_group();
    CallTarget file = open_target();
    if (!file.valid()) {
        *status = VIDEZ5_NO_FILE;
        return;
    }
    const int unlinked = unlink_at(file.get(), path_text);
    if (unlinked == VIDEZ5_NO_DATASET) say(read_message(entry, "NOTHING TO DELETE", path_text));
    if (unlinked == VIDEZ5_WRITE_FAILED) say("ERROR: H5Ldelete(): Failed to delete " + path_text + "!");
    const int committed = file.written();
    *status = unlinked == VIDEZ5_NO_DATASET ? VIDEZ5_WRITE_REFUSED
              : unlinked != VIDEZ5_OK       ? unlinked
              : committed < 0               ? VIDEZ5_WRITE_FAILED
                                            : VIDEZ5_OK;
}

}  // namespace

extern "C" {

void ftoc_h5exists_(const char* name, const unsigned int* name_length, const char* path,
                    const unsigned int* path_length, int* exists) {
    *exists = 0;
    videz5::detail::guarded_entry("ftoc_h5exists_", [&] {
        exists_entry([=] { return CallTarget::read_only(name, name_length, nullptr); }, path, path_length, exists);
    });
}

void ftoc_h5exists_id_(const int* file_id, const char* path, const unsigned int* path_length, int* exists) {
    *exists = 0;
    videz5::detail::guarded_entry("ftoc_h5exists_id_",
                                  [&] { exists_entry(held(file_id, nullptr), path, path_length, exists); });
}

void ftoc_h5list_(const char* name, const unsigned int* name_length, const char* path,
                  const unsigned int* path_length, char* names, const unsigned int* names_count,
                  const unsigned int* names_length, int* count, int* status) {
    const char* entry = "ftoc_h5list_";
    *count = -1;
    *status = VIDEZ5_READ_FAILED;
    videz5::detail::guarded_entry(entry, [&] {
        list_entry(entry, [=] { return CallTarget::read_only(name, name_length, entry); }, path, path_length, names,
                   names_count, names_length, count, status);
    });
}

void ftoc_h5list_id_(const int* file_id, const char* path, const unsigned int* path_length, char* names,
                     const unsigned int* names_count, const unsigned int* names_length, int* count, int* status) {
    const char* entry = "ftoc_h5list_id_";
    *count = -1;
    *status = VIDEZ5_READ_FAILED;
    videz5::detail::guarded_entry(entry, [&] {
        list_entry(entry, held(file_id, entry), path, path_length, names, names_count, names_length, count, status);
    });
}

void ftoc_h5delete_(const char* name, const unsigned int* name_length, const char* path,
                    const unsigned int* path_length, int* status) {
    const char* entry = "ftoc_h5delete_";
    *status = VIDEZ5_WRITE_FAILED;
    videz5::detail::guarded_entry(entry, [&] {
        delete_entry(entry, [=] { return CallTarget::existing(name, name_length, entry); }, path, path_length,
                     status);
    });
}

void ftoc_h5delete_id_(const int* file_id, const char* path, const unsigned int* path_length, int* status) {
    const char* entry = "ftoc_h5delete_id_";
    *status = VIDEZ5_WRITE_FAILED;
    videz5::detail::guarded_entry(entry, [&] { delete_entry(entry, held(file_id, entry), path, path_length, status); });
}

}  // extern "C"
