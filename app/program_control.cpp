#include "app/program_control.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "app/console_stop.h"

namespace {

// The program name in the usage text is fixed; it does not follow argv[0].
constexpr const char* kUsage =
    "Usage:\n"
    " Vorlank T\n"
    "  Tests if PCM signal is present\n"
    " Vorlank L FileName NbSamples\n"
    "   Logs raw data to logfile\n";

// Lines between two appends to the journal.
constexpr int32_t kLinesPerJournal = JournalPeriodMs / StatusPeriodMs;
static_assert(JournalPeriodMs % StatusPeriodMs == 0, "the journal keeps to the lines' beat");

// Every line is flushed as it is written: a pipe is fully buffered, and Windows has no line
// buffering at all, so without this `vorlank T | tee` would show nothing for minutes. Returns 0,
// or the errno of the failed write (errno is cleared before the line is formatted). The stream's
// error indicator is what counts: Microsoft's C runtime writes a line to a pipe inside fprintf
// already, and its fflush then returns 0 with nothing left to write.
int FlushLine(const StatusLoop& loop) {
    const bool failed = std::fflush(loop.out) != 0 || std::ferror(loop.out) != 0;
    const int error = errno != 0 ? errno : EIO;
    // Cleared, so that the next line reports on its own write (a full disk may free up).
    std::clearerr(loop.out);
    return failed ? error : 0;
}

int PrintTestLine(StatusLoop& loop) {
    const common::SharedStatus& status = *loop.status;
    const int32_t frames = common::ReadWord(status.pcmFrames);
    // Unsigned difference: defined even if the frame counter has wrapped since the last line.
    const auto rate = static_cast<int32_t>(
        (static_cast<uint32_t>(frames) - static_cast<uint32_t>(loop.framesAtLastLine)) * 2u);
    std::fprintf(loop.out, "#PCMFrames = %6d (%3d/s)  #PCMErrors = %6d  Pos1 = %4d\n", frames, rate,
                 common::ReadWord(status.pcmErrors), common::ReadWord(status.pos1));
    const int error = FlushLine(loop);
    // Read again after printing: frames completed while the line was written count toward the
    // next line's rate, never toward none.
    loop.framesAtLastLine = common::ReadWord(status.pcmFrames);
    return error;
}

int PrintLogLine(const StatusLoop& loop) {
    std::fprintf(loop.out, "#Transitions %6ld \n",
                 static_cast<long>(common::ReadWord(loop.runLog->count)));
    return FlushLine(loop);
}

int PrintLine(StatusLoop& loop) {
    errno = 0;
    switch (loop.mode) {
        case common::Mode::Test:
            return PrintTestLine(loop);
        case common::Mode::Log:
            return PrintLogLine(loop);
    }
    return 0;
}

}  // namespace

CommandLine ParseCommandLine(int count, const char* const* words, FILE* out) {
    CommandLine result;
    if (count >= 1 && std::strcmp(words[0], "T") == 0) {
        result.mode = common::Mode::Test;
        return result;
    }
    if (count >= 3 && std::strcmp(words[0], "L") == 0) {
        result.mode = common::Mode::Log;
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
    int32_t linesSinceJournal = 0;
    while (common::ReadWord(loop.status->stopRequested) == 0) {
        const int error = PrintLine(loop);
        if (error != 0 && StandardOutputIsGone(error)) {
            // A stop request like Ctrl+C's, with the shutdown that follows it; only its notice
            // goes to stderr, since "Stopping..." would go where nobody reads.
            common::WriteWord(loop.status->stopRequested, 1);
            std::fprintf(loop.diagnostics, "vorlank: standard output is gone (%s); stopping\n",
                         std::strerror(error));
            std::fflush(loop.diagnostics);
            continue;
        }
        if (loop.journal != nullptr && ++linesSinceJournal == kLinesPerJournal) {
            AppendToJournal(*loop.journal, *loop.runLog);
            linesSinceJournal = 0;
        }
        if (loop.diagnosis != nullptr) app::TickDiagnosis(*loop.diagnosis);
        loop.sleep(loop.sleepContext, StatusPeriodMs);
    }
}
