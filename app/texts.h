// What vorlank itself prints: every line of the app in one table, so that the code and the tests
// name a line instead of spelling it out. printf formats; each line ends in "\n".
#pragma once

#include <cstdio>

namespace app {

inline constexpr struct AppTexts {
    // Standard output: the tool's own words, byte for byte those of its first version.
    const char* usage =
        "Usage:\n"
        " Vorlank T\n"
        "  Tests if PCM signal is present\n"
        " Vorlank L FileName NbSamples\n"
        "   Logs raw data to logfile\n";
    const char* countOutOfRange = "ERROR NbSamples out of range \"%s\"\n";
    const char* noMemory = "ERROR not enough memory for %ld entries\n";
    const char* stopping = "Stopping...\n";
    const char* writingLog = "Writing logfile...\n";
    const char* cannotOpenLog = "ERROR opening file \"%s\"\n";
    const char* cannotWriteLog = "ERROR writing to file \"%s\"\n";
    const char* testLine = "#PCMFrames = %6d (%3d/s)  #PCMErrors = %6d  Pos1 = %4d\n";
    const char* logLine = "#Transitions %6ld \n";

    // Standard error.
    const char* outputGone = "vorlank: standard output is gone (%s); stopping\n";
    const char* journalElsewhere =
        "vorlank: cannot create journal \"%s\" (%s); using \"%s\" instead\n";
    const char* journalNowhere =
        "vorlank: cannot create journal \"%s\" (%s) nor \"%s\" (%s); logging without a journal\n";
    const char* journalMoved = "vorlank: cannot write journal \"%s\" (%s); moved it to \"%s\"\n";
    const char* journalNotMoved =
        "vorlank: cannot write journal \"%s\" (%s) nor move it to \"%s\" (%s); the log file is "
        "still written at the end\n";
    const char* journalNotWritten =
        "vorlank: cannot write journal \"%s\" (%s); the log file is still written at the end\n";
    const char* journalHoldsAll =
        "vorlank: log file \"%s\" is missing or incomplete; its %ld runs are in journal \"%s\"\n";
    const char* journalHoldsSome =
        "vorlank: log file \"%s\" is missing or incomplete; journal \"%s\" holds %ld of its %ld "
        "runs\n";
    const char* logNotSynced =
        "vorlank: log file \"%s\" may not have reached the disk (%s); journal \"%s\" kept\n";
    const char* journalNotRemoved = "vorlank: cannot remove journal \"%s\" (%s)\n";
} kAppTexts;

// Prints a line of kAppTexts or kDiagnosisTexts with its figures and flushes it, so that it is out
// before whatever the tool does next, even on a pipe or a file. A text without figures is printed
// as it stands rather than read as a format.
template <typename... Figures>
void PrintText(FILE* out, const char* text, Figures... figures) {
    if constexpr (sizeof...(Figures) == 0) {
        std::fputs(text, out);
    } else {
        std::fprintf(out, text, figures...);
    }
    std::fflush(out);
}

}  // namespace app
