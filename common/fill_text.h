// A line of a module's message table with its words filled in, shared by every tool that words
// its messages this way. Threads: a pure function.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace common {

// `text` with each %s replaced by the next of `words`; a %s beyond the words stays as it is.
inline std::string Fill(std::string_view text, std::initializer_list<std::string_view> words) {
    std::string filled;
    const auto* word = words.begin();
    for (size_t at = 0; at < text.size(); ++at) {
        if (text.compare(at, 2, "%s") == 0 && word != words.end()) {
            filled += *word++;
            ++at;
        } else {
            filled += text[at];
        }
    }
    return filled;
}

}  // namespace common
