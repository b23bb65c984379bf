// vorlank: listens to the sound input for a pulse-code-modulated serial signal and either decodes
// it live (`T`) or records its raw run lengths to a file (`L FileName NbSamples`).
// This file is the wiring: it owns the one instance of every record, sends the sound input's
// blocks down the pipeline of the mode (app/pipeline.h), and runs the main sequence in order.
#include <cstdio>

#include "app/console_stop.h"
#include "app/journal.h"
#include "app/pipeline.h"
#include "app/program_control.h"
#include "app/run_log.h"
#include "capture/sound_input.h"
#include "common/shared_types.h"

int main(int argc, char** argv) {
    PrepareStandardStreams();
    const CommandLine commandLine = ParseCommandLine(argc - 1, argv + 1, stdout);
    if (commandLine.exitCode != 0) return commandLine.exitCode;

    // Static storage: a console event may still be delivered on its own thread while the process
    // is exiting, after main's frame is gone; the records it touches must outlive main.
    static Pipeline pipeline;
    static ConsoleStop consoleStop;
    static SoundInput soundInput;
    static Journal journal;
    const common::Mode mode = commandLine.mode;
    common::SharedStatus& status = pipeline.status;
    common::RunLog& runLog = pipeline.runLog;

    if (mode == common::Mode::Log) {
        const int32_t created = Create(runLog, commandLine.fileName, commandLine.nbSamples, stdout);
        if (created != 0) return created;
        OpenJournal(journal, runLog, stderr);
    }

    InstallConsoleStop(consoleStop, status, stdout);

    // From here the sound input's thread sends every filled block down the pipeline of the mode:
    // to the frame decoder and the status words in test mode, to the run log in log mode.
    soundInput.sink = SampleSink{mode == common::Mode::Test ? &DecodeBlock : &LogBlock, &pipeline};
    soundInput.capturing = &status.capturing;
    StartSoundInput(soundInput);

    StatusLoop statusLoop;
    statusLoop.mode = mode;
    statusLoop.status = &status;
    statusLoop.runLog = &runLog;
    statusLoop.journal = mode == common::Mode::Log ? &journal : nullptr;
    statusLoop.out = stdout;
    statusLoop.diagnostics = stderr;
    // On stderr, what the input carries while nothing decodes.
    app::Diagnosis diagnosis{mode, &status, &pipeline.hearing, stderr, StatusPeriodMs};
    statusLoop.diagnosis = &diagnosis;
    RunStatusLoop(statusLoop);

    // After this no audio thread touches `runLog`.
    StopSoundInput(soundInput);

    int32_t exitCode = 0;
    if (mode == common::Mode::Log) {
        // The journal is made complete before the log file is tried: WriteLogFile releases the
        // entries, and if the file fails the journal is what remains.
        AppendToJournal(journal, runLog);
        exitCode = WriteLogFile(runLog, stdout);
        CloseJournal(journal, runLog, exitCode);
    }
    MarkMainSequenceDone(consoleStop);
    return exitCode;
}
