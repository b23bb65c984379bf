#include "analyze/output_file.h"

// fdopen and close: POSIX names, which MinGW's C runtime offers as well.
#include <unistd.h>

#include <filesystem>
#include <random>
#include <system_error>

#include "analyze/file_access.h"
#include "analyze/texts.h"
#include "common/new_file.h"

namespace analyze {

namespace {

namespace fs = std::filesystem;

// common::CreateNewFile as a binary stdio stream; null with errno set.
std::FILE* CreateNewStream(const char* path) {
    int error = 0;
    const int fd = common::CreateNewFile(path, error);
    std::FILE* file = fd < 0 ? nullptr : fdopen(fd, "wb");
    if (fd >= 0 && file == nullptr) close(fd);
    if (fd < 0) errno = error;
    return file;
}

// Names tried for a temporary file before giving up; a clash means another file of that name.
constexpr int kTempAttempts = 50;

// Lists `path` with the guard, or returns false when every place is taken. Only while held.
bool ListTemporaryFile(SignalGuard& guard, const char* path) {
    for (const char*& place : guard.files) {
        if (place == nullptr) {
            place = path;
            return true;
        }
    }
    return false;
}

// Takes the temporary file, gone or renamed, off the guard's list. Only while held.
void UnlistTemporary(OutputFile& output, SignalGuard& guard) {
    for (const char*& place : guard.files) {
        if (place == output.tempPath.c_str()) place = nullptr;
    }
    output.tempPath.clear();
}

// Closes the output, and removes its temporary file if it is staged. Only while held.
void CloseAndRemove(OutputFile& output, SignalGuard& guard) {
    if (output.file != nullptr) std::fclose(output.file);
    output.file = nullptr;
    if (output.tempPath.empty()) return;
    std::remove(output.tempPath.c_str());
    UnlistTemporary(output, guard);
}

// ".NAME.XXXXXXXX.tmp" beside the target: hidden, and plainly not a result. Created and listed in
// one held step, so a signal finds it listed as soon as it exists, and never another's file.
bool CreateTemporary(OutputFile& output, SignalGuard& guard, std::string& error) {
    const fs::path target(output.target);
    std::random_device entropy;
    int errorNumber = 0;
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "%08x", static_cast<unsigned>(entropy()));
        const std::string name = "." + target.filename().string() + "." + tag + ".tmp";
        HoldSignals(guard);
        output.file = CreateNewStream((target.parent_path() / name).string().c_str());
        errorNumber = errno;
        if (output.file != nullptr) {
            output.tempPath = (target.parent_path() / name).string();
            const bool listed = ListTemporaryFile(guard, output.tempPath.c_str());
            if (!listed) CloseAndRemove(output, guard);
            ReleaseSignals(guard);
            if (!listed) error = Fill(kOutputTexts.cannotCreate, {kOutputTexts.tooManyTemporary});
            return listed;
        }
        ReleaseSignals(guard);
        if (errorNumber != EEXIST) break;
    }
    error = Fill(kOutputTexts.cannotCreate, {Reason(errorNumber)});
    return false;
}

// Records the first failed write's errno, if `failed`.
void NoteFailure(OutputFile& output, bool failed) {
    if (failed && output.failure == 0) output.failure = errno != 0 ? errno : EIO;
}

}  // namespace

bool OpenOutput(OutputFile& output, std::FILE* standardOutput, SignalGuard& guard,
                std::string& error) {
    if (output.path == "-" || IsSameOpenFile(output.path.c_str(), standardOutput)) {
        output.shared = true;
        output.file = standardOutput;
        return true;
    }
    std::error_code ec;
    const fs::file_type standing = fs::symlink_status(output.path, ec).type();
    const bool linkToFile =
        standing == fs::file_type::symlink && fs::is_regular_file(fs::status(output.path, ec));
    if (standing == fs::file_type::not_found || standing == fs::file_type::regular || linkToFile) {
        output.target = linkToFile ? fs::canonical(output.path, ec).string() : output.path;
        if (!CreateTemporary(output, guard, error)) return false;
        if (standing != fs::file_type::not_found) {
            fs::permissions(output.tempPath, fs::status(output.target, ec).permissions(), ec);
        }
        return true;
    }
    errno = 0;
    output.file = std::fopen(output.path.c_str(), "wb");
    if (output.file == nullptr) {
        error = Fill(kOutputTexts.cannotOpen, {Reason(errno)});
        return false;
    }
    // Whoever reads a device or a FIFO sees each line as it is written.
    std::setvbuf(output.file, nullptr, _IOLBF, BUFSIZ);
    return true;
}

void Emit(OutputFile& output, const char* format, ...) {
    va_list args;
    va_start(args, format);
    EmitV(output, format, args);
    va_end(args);
}

void EmitV(OutputFile& output, const char* format, va_list args) {
    errno = 0;
    NoteFailure(output, std::vfprintf(output.file, format, args) < 0);
}

void EmitBytes(OutputFile& output, const char* bytes, size_t count) {
    errno = 0;
    NoteFailure(output, std::fwrite(bytes, 1, count, output.file) != count);
}

void EmitFlush(OutputFile& output) {
    errno = 0;
    NoteFailure(output, std::fflush(output.file) != 0);
}

bool FlushOutput(OutputFile& output, std::string& error) {
    if (output.file == nullptr) return true;
    EmitFlush(output);
    if (output.failure == 0 && std::ferror(output.file) == 0) return true;
    error = Fill(kOutputTexts.writeFailed, {Reason(output.failure)});
    return false;
}

bool CommitOutput(OutputFile& output, SignalGuard& guard, std::string& error) {
    if (output.file == nullptr) return true;
    if (!FlushOutput(output, error)) return false;
    if (output.shared) {
        output.file = nullptr;
        return true;
    }
    errno = 0;
    const bool closed = std::fclose(output.file) == 0;
    output.file = nullptr;
    if (!closed) {
        error = Fill(kOutputTexts.writeFailed, {Reason(errno)});
        return false;
    }
    if (output.tempPath.empty()) return true;
    std::error_code ec;
    HoldSignals(guard);
    fs::rename(output.tempPath, output.target, ec);
    if (!ec) UnlistTemporary(output, guard);
    ReleaseSignals(guard);
    if (ec) error = Fill(kOutputTexts.cannotReplace, {ec.message()});
    return !ec;
}

void AbandonOutput(OutputFile& output, SignalGuard& guard) {
    if (output.shared) {
        if (output.file != nullptr) std::fflush(output.file);
        output.file = nullptr;
        return;
    }
    HoldSignals(guard);
    CloseAndRemove(output, guard);
    ReleaseSignals(guard);
}

}  // namespace analyze
