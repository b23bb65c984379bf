#include "app/journal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/texts.h"
#include "common/little_endian.h"
#include "common/new_file.h"

namespace app {
namespace {

constexpr const char* kSuffix = ".partial";
// "<FileName>.partial", then "<FileName>.1.partial" .. "<FileName>.99.partial": a hundred
// journals left behind by killed runs is already more than anyone means to keep.
constexpr int32_t kNamesTried = 100;
constexpr int64_t kEntryBytes = 4;
// Runs encoded per write: 16 KiB on the stack, a few writes for a second of the densest signal.
constexpr size_t kChunkEntries = 4096;

std::string Numbered(const std::string& base, int32_t k) {
    return k == 0 ? base + kSuffix : base + "." + std::to_string(k) + kSuffix;
}

// The log's file name without its directory. Both separators count, and the drive colon: the
// result only names a file in the temporary directory, so a '\' or ':' in a POSIX name merely
// shortens that name.
std::string BaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\' || *p == ':') base = p + 1;
    }
    return *base != '\0' ? std::string(base) : std::string("vorlank");
}

// Creates the first free name of `base`'s series and returns its descriptor, with its name in
// `path`; -1 when none could be created. `firstError` is the reason the plain "<base>.partial"
// was not (0 when it was).
int CreateInSeries(const std::string& base, std::string& path, int& firstError) {
    firstError = 0;
    for (int32_t k = 0; k < kNamesTried; ++k) {
        path = Numbered(base, k);
        int error = 0;
        const int file = common::CreateNewFile(path.c_str(), error);
        if (file >= 0) return file;
        if (k == 0) firstError = error;
        // Only a taken name is worth trying the next number for; any other refusal (no such
        // directory, no permission, read-only) applies to the whole series.
        if (error != EEXIST) break;
    }
    path = Numbered(base, 0);
    return -1;
}

// Where a journal goes when the log's folder cannot take it: the temporary directory, under the
// log's base name.
std::string TemporaryBase(const common::RunLog& log) {
    return TemporaryDirectory() + BaseName(log.path);
}

void ReportFailure(Journal& journal, int error) {
    if (journal.failureReported) return;
    journal.failureReported = true;
    PrintText(journal.diagnostics, kAppTexts.journalNotWritten, journal.path.c_str(),
              std::strerror(error));
}

// Writes the entries of `log` from byte `bytes` of their encoding up to `wantedBytes` (whole
// entries) to `file`, then syncs it. `bytes` follows what the system took, even when a write
// stopped inside an entry (a full disk), so that the next call carries on from that very byte.
// Returns 0 or the error.
int WriteEntries(int file, const common::RunLog& log, int64_t& bytes, int64_t wantedBytes) {
    while (bytes < wantedBytes) {
        uint8_t chunk[kChunkEntries * kEntryBytes];
        const int64_t first = bytes / kEntryBytes;
        const int64_t entries = std::min<int64_t>(wantedBytes / kEntryBytes - first, kChunkEntries);
        for (int64_t k = 0; k < entries; ++k) {
            common::EncodeLe32(static_cast<uint32_t>(log.entries[first + k]),
                               &chunk[k * kEntryBytes]);
        }
        const int64_t skip = bytes % kEntryBytes;
        int error = 0;
        const int64_t written =
            WriteSome(file, chunk + skip, static_cast<size_t>(entries * kEntryBytes - skip), error);
        if (written < 0) return error;
        bytes += written;
    }
    return SyncFile(file);
}

void RemoveJournal(const std::string& path, FILE* diagnostics) {
    if (std::remove(path.c_str()) != 0) {
        PrintText(diagnostics, kAppTexts.journalNotRemoved, path.c_str(), std::strerror(errno));
    }
}

// The disk under the journal is full (`cause`): a fresh copy in the temporary directory, which is
// often on another disk, takes every run stored so far and the appends from then on, and the
// journal that ran out of room goes, giving its room back to the log file that is still to be
// written there. Tried once; when the copy fails too, the journal stays where it was.
void MoveToTemporaryDirectory(Journal& journal, const common::RunLog& log, int64_t wantedBytes,
                              int cause) {
    journal.canMove = false;
    std::string path;
    int error = 0;
    const int file = CreateInSeries(TemporaryBase(log), path, error);
    int64_t bytes = 0;
    if (file >= 0) {
        error = WriteEntries(file, log, bytes, wantedBytes);
        if (error != 0) {
            // A copy cut short holds nothing the journal does not.
            CloseFile(file);
            std::remove(path.c_str());
        }
    }
    if (error != 0) {
        journal.failureReported = true;
        PrintText(journal.diagnostics, kAppTexts.journalNotMoved, journal.path.c_str(),
                  std::strerror(cause), path.c_str(), std::strerror(error));
        return;
    }
    CloseFile(journal.file);
    PrintText(journal.diagnostics, kAppTexts.journalMoved, journal.path.c_str(),
              std::strerror(cause), path.c_str());
    RemoveJournal(journal.path, journal.diagnostics);
    journal.file = file;
    journal.path = path;
    journal.bytesOnDisk = bytes;
}

}  // namespace

void OpenJournal(Journal& journal, const common::RunLog& log, FILE* diagnostics) {
    journal.diagnostics = diagnostics;
    // A log of capacity 0 never stores a run, so there is nothing to keep.
    if (log.capacity == 0) return;

    int besideError = 0;
    journal.file = CreateInSeries(log.path, journal.path, besideError);
    journal.canMove = journal.file >= 0;
    if (journal.file >= 0 && besideError == 0) return;

    const std::string wanted = Numbered(log.path, 0);
    int tempError = 0;
    if (journal.file < 0)
        journal.file = CreateInSeries(TemporaryBase(log), journal.path, tempError);
    if (journal.file >= 0) {
        PrintText(diagnostics, kAppTexts.journalElsewhere, wanted.c_str(),
                  std::strerror(besideError), journal.path.c_str());
    } else {
        PrintText(diagnostics, kAppTexts.journalNowhere, wanted.c_str(), std::strerror(besideError),
                  journal.path.c_str(), std::strerror(tempError));
        journal.path.clear();
    }
}

void AppendToJournal(Journal& journal, const common::RunLog& log) {
    if (journal.file < 0) return;
    // Acquire: every entry below this count has been stored completely.
    const int64_t wantedBytes = int64_t{common::ReadPublishedCount(log.count)} * kEntryBytes;
    if (journal.bytesOnDisk >= wantedBytes) return;

    const int error = WriteEntries(journal.file, log, journal.bytesOnDisk, wantedBytes);
    if (error == 0) return;
    if (journal.canMove && IsOutOfRoom(error)) {
        MoveToTemporaryDirectory(journal, log, wantedBytes, error);
    } else {
        ReportFailure(journal, error);
    }
}

void CloseJournal(Journal& journal, const common::RunLog& log, int32_t logExitCode) {
    if (journal.file < 0) return;
    CloseFile(journal.file);
    journal.file = -1;

    const int32_t runs = common::ReadWord(log.count);
    const int64_t journaled = journal.bytesOnDisk / kEntryBytes;
    if (logExitCode == 0) {
        // The journal goes only once the log is on the disk, or a power cut right after the end
        // would leave neither.
        const int error = SyncPath(log.path);
        if (error == 0) {
            RemoveJournal(journal.path, journal.diagnostics);
            return;
        }
        PrintText(journal.diagnostics, kAppTexts.logNotSynced, log.path, std::strerror(error),
                  journal.path.c_str());
    } else if (runs == 0) {
        RemoveJournal(journal.path, journal.diagnostics);
        return;
    } else if (journaled == runs) {
        PrintText(journal.diagnostics, kAppTexts.journalHoldsAll, log.path, static_cast<long>(runs),
                  journal.path.c_str());
    } else {
        PrintText(journal.diagnostics, kAppTexts.journalHoldsSome, log.path, journal.path.c_str(),
                  static_cast<long>(journaled), static_cast<long>(runs));
    }
}

}  // namespace app
