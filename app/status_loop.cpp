#include "app/status_loop.h"

#include <cerrno>
#include <cstring>

#include "app/console_stop.h"
#include "app/texts.h"

namespace app {
namespace {

constexpr int32_t kLinesPerJournal = kJournalPeriodMs / kStatusPeriodMs;
static_assert(kJournalPeriodMs % kStatusPeriodMs == 0, "the journal keeps to the lines' beat");

// Every line is flushed: a pipe is fully buffered, and Windows has no line buffering at all, so
// `vorlank T | tee` would otherwise show nothing for minutes. Returns 0 or the errno of the failed
// write. The error indicator is what counts: Microsoft's C runtime writes a line to a pipe inside
// fprintf already, and its fflush then returns 0 with nothing left to write.
int FlushLine(const StatusLoop& loop) {
    const bool failed = std::fflush(loop.out) != 0 || std::ferror(loop.out) != 0;
    const int error = errno != 0 ? errno : EIO;
    // So that the next line reports on its own write (a full disk may free up).
    std::clearerr(loop.out);
    return failed ? error : 0;
}

int PrintLine(StatusLoop& loop) {
    errno = 0;
    const common::SharedStatus& status = *loop.status;
    if (loop.mode == common::Mode::Log) {
        std::fprintf(loop.out, kAppTexts.logLine,
                     static_cast<long>(common::ReadWord(loop.runLog->count)));
        return FlushLine(loop);
    }
    const int32_t frames = common::ReadWord(status.pcmFrames);
    // Unsigned difference: defined even if the frame counter has wrapped since the last line.
    const auto rate = static_cast<int32_t>(
        (static_cast<uint32_t>(frames) - static_cast<uint32_t>(loop.framesAtLastLine)) * 2u);
    std::fprintf(loop.out, kAppTexts.testLine, frames, rate, common::ReadWord(status.pcmErrors),
                 common::ReadWord(status.pos1));
    const int error = FlushLine(loop);
    // Read after printing: frames completed while the line was written count toward the next
    // line's rate, never toward none.
    loop.framesAtLastLine = common::ReadWord(status.pcmFrames);
    return error;
}

}  // namespace

void RunStatusLoop(StatusLoop& loop) {
    int32_t linesSinceJournal = 0;
    while (common::ReadWord(loop.status->stopRequested) == 0) {
        const int error = PrintLine(loop);
        if (error != 0 && StandardOutputIsGone(error)) {
            // A stop request like Ctrl+C's, said on stderr, since nobody reads "Stopping...".
            common::WriteWord(loop.status->stopRequested, 1);
            PrintText(loop.diagnostics, kAppTexts.outputGone, std::strerror(error));
            continue;
        }
        if (loop.journal != nullptr && ++linesSinceJournal == kLinesPerJournal) {
            AppendToJournal(*loop.journal, *loop.runLog);
            linesSinceJournal = 0;
        }
        if (loop.diagnosis != nullptr) TickDiagnosis(*loop.diagnosis);
        loop.sleep(loop.sleepContext, kStatusPeriodMs);
    }
}

}  // namespace app
