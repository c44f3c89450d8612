// Internal helpers of the text layer, for the layers above it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace videz5::detail {

// The texts of count fixed-length strings of length bytes each, laid out one
// after another: each up to its first NUL, without its trailing blanks (Fortran
// pads with blanks, HDF5 also with NULs; neither is part of the text).
std::vector<std::string> padded_texts(const char* chars, std::size_t count, std::size_t length);

// Copies text into a Fortran string of length bytes: cut to it, blank-padded.
void to_fortran_text(const std::string& text, char* chars, std::size_t length);

// Whether path names the group it starts from (empty, or "/"), rather than
// something below it.
inline bool names_own_group(const std::string& path) { return path.empty() || path == "/"; }

}  // namespace videz5::detail
