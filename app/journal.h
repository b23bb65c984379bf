// Journal: the runs of log mode kept on disk while capture runs, in the log file's format without
// its zero tail, so that a recording survives a killed process or a log file that cannot be
// written. "<FileName>.partial" beside the log, or the next free numbered name, or the temporary
// directory when the log's folder refuses it or fills up. Main thread only; it reads the run log's
// count with acquire order, then only the entries below it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/shared_types.h"

namespace app {

// The most a killed process may lose, against a write and a sync per append.
inline constexpr int32_t kJournalPeriodMs = 1000;

struct Journal {
    // Where the journal is; empty when there is none.
    std::string path;
    // Descriptor open for writing; -1 once closed or when there is none.
    int file = -1;
    // Bytes handed to the system so far, 4 per run.
    int64_t bytesOnDisk = 0;
    // A write or sync has failed and `diagnostics` has said so.
    bool failureReported = false;
    // Where the journal's lines of kAppTexts go (stderr in the tool).
    FILE* diagnostics = nullptr;
    // Beside the log and not yet moved: a full disk may still send it to the temporary directory.
    bool canMove = false;
};

// Creates the journal for `log` (after CreateRunLog, before capture starts); a log of capacity 0
// gets none. Failing to create one anywhere is not an error: the tool logs on without a journal.
void OpenJournal(Journal& journal, const common::RunLog& log, FILE* diagnostics);

// Appends the runs stored since the previous append, then syncs them to the disk. A lack of room
// moves the journal to the temporary directory (once); any other failure, or one after that, is
// reported once, and the next append tries again from where the journal ends.
void AppendToJournal(Journal& journal, const common::RunLog& log);

// After WriteLogFile returned `logExitCode`: removes the journal when the log was written whole
// (0) and has reached the disk; otherwise keeps it and names it on stderr, unless it holds no
// run at all (then there is nothing to keep).
void CloseJournal(Journal& journal, const common::RunLog& log, int32_t logExitCode);

// The system's side, one file per platform (journal_posix.cpp, journal_win.cpp). Errors are the
// C library's errno values; 0 is success.

// Writes up to `bytes` of `data`. Returns the bytes written (at least 1), or -1 with `error` set.
int64_t WriteSome(int file, const uint8_t* data, size_t bytes, int& error);
int SyncFile(int file);
void CloseFile(int file);
// Whether `error` means the file's disk has no room left for it (full, over a quota, over a size
// limit).
bool IsOutOfRoom(int error);
// Syncs the file at `path` to the disk; a file that holds nothing for a disk (a device, a pipe)
// counts as synced.
int SyncPath(const char* path);
// The temporary directory, ending in its separator.
std::string TemporaryDirectory();

}  // namespace app
