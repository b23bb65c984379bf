#include "app/command_line.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "app/texts.h"

namespace app {

int64_t ReadCount(const char* word) {
    // strtoll saturates where atol would overflow; the clamp keeps the result in 32 bits.
    const long long value = std::strtoll(word, nullptr, 10);
    return std::clamp<long long>(value, -(1LL << 31), (1LL << 31) - 1);
}

CommandLine ParseCommandLine(int count, const char* const* words, FILE* out) {
    CommandLine result;
    if (count >= 1 && std::strcmp(words[0], "T") == 0) {
        result.mode = common::Mode::Test;
        return result;
    }
    if (count >= 3 && std::strcmp(words[0], "L") == 0) {
        const int64_t runCount = ReadCount(words[2]);
        if (runCount >= 0 && runCount < kMaxLogEntries) {
            result.mode = common::Mode::Log;
            result.fileName = words[1];
            result.runCount = static_cast<int32_t>(runCount);
            return result;
        }
        PrintText(out, kAppTexts.countOutOfRange, words[2]);
    } else {
        // The program name in the usage text is fixed; it does not follow argv[0].
        PrintText(out, kAppTexts.usage);
    }
    result.exitCode = 1;
    return result;
}

}  // namespace app
