// Fortran character arguments and slash-separated paths.
#include "videz5_c.h"
#include "text.hpp"

#include <algorithm>
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

namespace videz5::detail {

std::vector<std::string> padded_texts(const char* chars, std::size_t count, std::size_t length) {
    std::vector<std::string> texts;
    texts.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const char* element = chars + i * length;
        const void* nul = std::memchr(element, '\0', length);
        std::size_t n = nul ? static_cast<const char*>(nul) - element : length;
        while (n > 0 && element[n - 1] == ' ') --n;
        texts.emplace_back(element, n);
    }
    return texts;
}

void to_fortran_text(const std::string& text, char* chars, std::size_t length) {
    const std::size_t n = std::min(text.size(), length);
    std::memcpy(chars, text.data(), n);
    std::memset(chars + n, ' ', length - n);
}

}  // namespace videz5::detail
