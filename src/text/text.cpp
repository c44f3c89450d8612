// Fortran character arguments and slash-separated paths.
#include "videz5_c.h"

#include <cstring>

std::string charToString(const char* chars, const unsigned int* length) {
    if (chars == nullptr || length == nullptr) return std::string();
    // A Fortran buffer is not terminated: look no further than the given length.
    const void* nul = std::memchr(chars, '\0', *length);  // fault-check: text-nul
    const std::size_t n = nul ? static_cast<const char*>(nul) - chars : *length;
    return std::string(chars, n);
}

void split_string(const std::string& text, std::vector<std::string>& pieces, char delimiter) {
    std::size_t start = 0;
    std::size_t p = text.find(delimiter);
    // An absolute path names the same groups as a relative one: skip one leading delimiter.
    if (p == 0) {  // fault-check: path-leading-slash
        start = 1;
        p = text.find(delimiter, start);
    }
    while (p != std::string::npos) {
        pieces.emplace_back(text, start, p - start);
        start = p + 1;
        p = text.find(delimiter, start);
    }
    pieces.emplace_back(text, start);
}
