// vorlank: listens to the sound input for a pulse-code-modulated serial signal and either decodes
// it live (`T`) or records its raw run lengths to a file (`L FileName NbSamples`).
// This file is the wiring: it owns the one instance of every record, sends the sound input's
// blocks down the pipeline of the mode (app/pipeline.h), and runs the main sequence in order.
#include <cstdio>

#include "app/command_line.h"
#include "app/console_stop.h"
#include "app/journal.h"
#include "app/pipeline.h"
#include "app/run_log.h"
#include "app/status_loop.h"
#include "capture/sound_input.h"
#include "common/shared_types.h"

int main(int argc, char** argv) {
    app::PrepareStandardStreams();
    const app::CommandLine commandLine = app::ParseCommandLine(argc - 1, argv + 1, stdout);
    if (commandLine.exitCode != 0) return commandLine.exitCode;

    // Static storage: a console event may still be delivered on its own thread while the process
    // is exiting, after main's frame is gone; the records it touches must outlive main.
    static app::Pipeline pipeline;
    static app::ConsoleStop consoleStop;
    static capture::SoundInput soundInput;
    static app::Journal journal;
    const common::Mode mode = commandLine.mode;
    common::SharedStatus& status = pipeline.status;
    common::RunLog& runLog = pipeline.runLog;

    if (mode == common::Mode::Log) {
        const int32_t created =
            app::CreateRunLog(runLog, commandLine.fileName, commandLine.runCount, stdout);
        if (created != 0) return created;
        app::OpenJournal(journal, runLog, stderr);
    }

    app::InstallConsoleStop(consoleStop, status, stdout);

    // From here the sound input's thread sends every filled block down the pipeline of the mode.
    soundInput.sink = capture::SampleSink{
        mode == common::Mode::Test ? &app::DecodeBlock : &app::LogBlock, &pipeline};
    soundInput.capturing = &status.capturing;
    capture::StartSoundInput(soundInput);

    // On stderr, what the input carries while nothing decodes.
    app::Diagnosis diagnosis{mode, &status, &pipeline.hearing, stderr, app::kStatusPeriodMs};
    app::StatusLoop statusLoop{.mode = mode,
                               .status = &status,
                               .runLog = &runLog,
                               .journal = mode == common::Mode::Log ? &journal : nullptr,
                               .out = stdout,
                               .diagnostics = stderr,
                               .sleep = app::SleepUntilStopRequest,
                               .sleepContext = &consoleStop,
                               .diagnosis = &diagnosis};
    app::RunStatusLoop(statusLoop);
    app::AnnounceStopRequests(consoleStop);

    // After this no audio thread touches `runLog`.
    capture::StopSoundInput(soundInput);
    app::AnnounceStopRequests(consoleStop);

    int32_t exitCode = 0;
    if (mode == common::Mode::Log) {
        // The journal is made complete before the log file is tried: WriteLogFile releases the
        // entries, and if the file fails the journal is what remains.
        app::AppendToJournal(journal, runLog);
        exitCode = app::WriteLogFile(runLog, stdout);
        app::CloseJournal(journal, runLog, exitCode);
    }
    app::MarkMainSequenceDone(consoleStop);
    return exitCode;
}
