// vorlank: listens to the sound input for a pulse-code-modulated serial signal and either decodes
// it live (`T`) or records its raw run lengths to a file (`L FileName NbSamples`).
//
// This file is the wiring: it owns the one instance of every record and runs the main sequence
// in its fixed order on the main thread.
#include <cstdio>

#include "app/console_stop.h"
#include "app/journal.h"
#include "app/program_control.h"
#include "app/run_log.h"
#include "capture/sound_input.h"
#include "common/shared_types.h"
#include "decode/frame_decoder.h"
#include "decode/run_slicer.h"

namespace {

// The sound input's sink: every filled block goes to the slicer, on the input's thread.
void SliceSamples(void* slicer, const void* samples, uint32_t bytes) {
    SliceBuffer(*static_cast<RunSlicer*>(slicer), samples, bytes);
}

}  // namespace

int main(int argc, char** argv) {
    PrepareStandardStreams();
    const CommandLine commandLine = ParseCommandLine(argc - 1, argv + 1, stdout);
    if (commandLine.exitCode != 0) return commandLine.exitCode;

    // Static storage: a console event may still be delivered on its own thread while the process
    // is exiting, after main's frame is gone; the records it touches must outlive main.
    static SharedStatus status;
    static RunLog runLog;
    static FrameDecoder decoder;
    static RunSlicer slicer;
    static ConsoleStop consoleStop;
    static SoundInput soundInput;
    static Journal journal;
    const Mode mode = commandLine.mode;

    if (mode == Mode::Log) {
        const int32_t created = Create(runLog, commandLine.fileName, commandLine.nbSamples, stdout);
        if (created != 0) return created;
        OpenJournal(journal, runLog, stderr);
    }
    slicer.out = RunConsumers{mode, &decoder, &runLog, &status};

    InstallConsoleStop(consoleStop, status, stdout);

    // From here the audio thread feeds `slicer` with every filled block.
    soundInput.sink = SampleSink{&SliceSamples, &slicer};
    soundInput.capturing = &status.capturing;
    StartSoundInput(soundInput);

    StatusLoop statusLoop;
    statusLoop.mode = mode;
    statusLoop.status = &status;
    statusLoop.runLog = &runLog;
    statusLoop.journal = mode == Mode::Log ? &journal : nullptr;
    statusLoop.out = stdout;
    statusLoop.diagnostics = stderr;
    RunStatusLoop(statusLoop);

    // After this no audio thread touches `runLog`.
    StopSoundInput(soundInput);

    int32_t exitCode = 0;
    if (mode == Mode::Log) {
        // The journal is made complete before the log file is tried: WriteLogFile releases the
        // entries, and if the file fails the journal is what remains.
        AppendToJournal(journal, runLog);
        exitCode = WriteLogFile(runLog, stdout);
        CloseJournal(journal, runLog, exitCode);
    }
    MarkMainSequenceDone(consoleStop);
    return exitCode;
}
