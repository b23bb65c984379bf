// Journal: the runs of log mode kept on disk while capture runs, so that a recording survives
// what the in-memory log does not: the process killed outright (kill -9, a crash, power lost,
// a Windows console closed past its grace time), and a log file that cannot be written at the end.
//
// Format: the log file's, without the zero tail: entry k at bytes 4k..4k+3, a 32-bit signed
// little-endian run length in samples at 44 100 Hz, entry 0 a Low run. A journal of n runs is n x 4
// bytes, so it reads like a log that was stopped after n runs (vorlank-analyze takes it as is).
//
// Where: "<FileName>.partial" beside the log. The journal is created only where no file of its
// name exists, so a journal left by an earlier run that was killed is never overwritten: the
// next free name of "<FileName>.1.partial" .. "<FileName>.99.partial" is taken instead. When the
// log's directory refuses it (missing, read-only), the journal goes to the temporary directory
// ($TMPDIR or /tmp; GetTempPath on Windows) under the log's base name, and stderr says so at once.
// When the disk beside the log fills up later (no space, a quota, a file-size limit), the journal
// moves there once: every run stored so far is written to a fresh file in the temporary directory
// (a free name of the same series), the appends go on there, and the journal beside the log is
// removed, which gives its room back to the log file.
//
// When: AppendToJournal every JournalPeriodMs from the status loop, and once more after capture
// has stopped. Each append is handed to the system and then synced to the disk, so the journal
// holds every run stored before the previous append (about a second) even across a power cut.
// At the end: the log file written whole -> the log is synced and the journal removed; the log
// not written -> the journal stays and stderr names it. A log of capacity 0 gets no journal.
//
// stderr lines (standard output is never touched):
//   vorlank: cannot create journal "<wanted>" (<reason>); using "<path>" instead
//   vorlank: cannot create journal "<wanted>" (<reason>) nor "<other>" (<reason>); logging
//            without a journal                                            (one line)
//   vorlank: cannot write journal "<path>" (<reason>); moved it to "<new path>"
//   vorlank: cannot write journal "<path>" (<reason>) nor move it to "<new path>" (<reason>); the
//            log file is still written at the end                         (one line)
//   vorlank: cannot write journal "<path>" (<reason>); the log file is still written at the end
//            (once; later appends keep trying)                            (one line)
//   vorlank: log file "<FileName>" is missing or incomplete; its <n> runs are in journal "<path>"
//   vorlank: log file "<FileName>" is missing or incomplete; journal "<path>" holds <k> of its <n>
//            runs                                                         (one line)
//   vorlank: log file "<FileName>" may not have reached the disk (<reason>); journal "<path>" kept
//   vorlank: cannot remove journal "<path>" (<reason>)
//
// Threads: everything here runs on the main thread; the audio thread is never made to wait and
// never touches a file. AppendToJournal reads the run log's count with acquire order (the slicer
// publishes it with release order after storing the entry), then only the entries below it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/shared_types.h"

// About once a second: the most a killed process may lose, against a write and a sync per append.
inline constexpr int32_t JournalPeriodMs = 1000;

struct Journal {
    std::string path;              // where the journal is; empty when there is none
    int file = -1;                 // descriptor open for writing; -1 once closed or when none
    int64_t bytesOnDisk = 0;       // bytes handed to the system so far, 4 per run
    bool failureReported = false;  // a write or sync has failed and stderr has said so
    FILE* diagnostics = nullptr;   // where the lines above go (stderr in the tool)
    // Beside the log and not yet moved: a full disk may still send it to the temporary directory.
    bool canMove = false;
};

// Creates the journal for `log` (after Create, before capture starts). Failing to create one
// anywhere is not an error of the tool: it logs on as before, without a journal.
void OpenJournal(Journal& journal, const common::RunLog& log, FILE* diagnostics);

// Appends the runs stored since the previous append, then syncs them to the disk. A lack of room
// moves the journal to the temporary directory (once, see above); any other failure, or one after
// that, is reported once, and the next append tries again from where the journal ends.
void AppendToJournal(Journal& journal, const common::RunLog& log);

// After WriteLogFile returned `logExitCode`: removes the journal when the log was written whole
// (0) and has reached the disk; otherwise keeps it and names it on stderr, unless it holds no
// run at all (then there is nothing to keep).
void CloseJournal(Journal& journal, const common::RunLog& log, int32_t logExitCode);

// The system's side, one file per platform (journal_posix.cpp, journal_win.cpp). Errors are the
// C library's errno values; 0 is success.

// Creates `path` for writing only if nothing of that name exists (never follows a link or
// replaces a file). Returns the descriptor, or -1 with `error` set.
int CreateNewFile(const std::string& path, int& error);
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
