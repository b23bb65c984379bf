// How vorlank-analyze puts its messages and figures together: a text of a module's table with its
// words filled in (one Fill for every tool), and times in seconds. Threads: pure functions.
#pragma once

#include <cstdint>

#include "common/fill_text.h"
#include "common/signal_format.h"

namespace analyze {

using common::Fill;

// A time in sample frames at `rate` per second (by default the decoder's), in seconds.
inline double Seconds(int64_t frames, double rate = common::kSampleRateHz) {
    return static_cast<double>(frames) / rate;
}

}  // namespace analyze
