#include "app/program_control.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace {

// The program name in the usage text is fixed; it does not follow argv[0].
constexpr const char* kUsage =
    "Usage:\n"
    " Vorlank T\n"
    "  Tests if PCM signal is present\n"
    " Vorlank L FileName NbSamples\n"
    "   Logs raw data to logfile\n";

void PrintTestLine(StatusLoop& loop) {
    const SharedStatus& status = *loop.status;
    const int32_t frames = Load(status.pcmFrames);
    // Unsigned difference: defined even if the frame counter has wrapped since the last line.
    const auto rate = static_cast<int32_t>(
        (static_cast<uint32_t>(frames) - static_cast<uint32_t>(loop.framesAtLastLine)) * 2u);
    std::fprintf(loop.out, "#PCMFrames = %6d (%3d/s)  #PCMErrors = %6d  Pos1 = %4d\n", frames, rate,
                 Load(status.pcmErrors), Load(status.pos1));
    // Every line is flushed as it is written: a pipe is fully buffered, and Windows has no line
    // buffering at all, so without this `vorlank T | tee` would show nothing for minutes.
    std::fflush(loop.out);
    // Read again after printing: frames completed while the line was written count toward the
    // next line's rate, never toward none.
    loop.framesAtLastLine = Load(status.pcmFrames);
}

void PrintLogLine(const StatusLoop& loop) {
    std::fprintf(loop.out, "#Transitions %6ld \n", static_cast<long>(Load(loop.runLog->count)));
    std::fflush(loop.out);
}

}  // namespace

CommandLine ParseCommandLine(int count, const char* const* words, FILE* out) {
    CommandLine result;
    if (count >= 1 && std::strcmp(words[0], "T") == 0) {
        result.mode = Mode::Test;
        return result;
    }
    if (count >= 3 && std::strcmp(words[0], "L") == 0) {
        result.mode = Mode::Log;
        result.fileName = words[1];
        result.nbSamples = words[2];
        return result;
    }
    std::fputs(kUsage, out);
    std::fflush(out);
    result.exitCode = 1;
    return result;
}

void SleepMilliseconds(void*, int32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void RunStatusLoop(StatusLoop& loop) {
    while (Load(loop.status->stopRequested) == 0) {
        switch (loop.mode) {
            case Mode::Test:
                PrintTestLine(loop);
                break;
            case Mode::Log:
                PrintLogLine(loop);
                break;
        }
        loop.sleep(loop.sleepContext, StatusPeriodMs);
    }
}
