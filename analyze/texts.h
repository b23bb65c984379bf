// How vorlank-analyze puts its messages and figures together: a text of a module's table with its
// words filled in, and times in seconds. Threads: pure functions.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "common/signal_format.h"

namespace analyze {

// `text` with each %s replaced by the next of `words`.
inline std::string Fill(const char* text, std::initializer_list<std::string> words) {
    std::string filled;
    auto word = words.begin();
    for (; *text != '\0'; ++text) {
        if (text[0] == '%' && text[1] == 's' && word != words.end()) {
            filled += *word++;
            ++text;
        } else {
            filled += *text;
        }
    }
    return filled;
}

// A time in sample frames at `rate` per second (by default the decoder's), in seconds.
inline double Seconds(int64_t frames, double rate = common::kSampleRateHz) {
    return static_cast<double>(frames) / rate;
}

}  // namespace analyze
