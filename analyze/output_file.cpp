#include "analyze/output_file.h"

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include "analyze/file_access.h"

namespace {

namespace fs = std::filesystem;

// Names tried for a temporary file before giving up; a clash means another file of that name.
constexpr int kTempAttempts = 50;

std::string Reason(int errorNumber) {
    return std::strerror(errorNumber != 0 ? errorNumber : EIO);
}

// Closes and removes a staged output's temporary file and takes it off the guard's list. Only
// while held.
void RemoveTemporary(OutputFile& output, SignalGuard& guard) {
    if (output.file != nullptr) std::fclose(output.file);
    output.file = nullptr;
    std::remove(output.tempPath.c_str());
    UnlistTemporaryFile(guard, output.tempPath.c_str());
    output.tempPath.clear();
}

// ".NAME.XXXXXXXX.tmp" in the directory of `path`: hidden, and plainly not a result. Created and
// listed with the guard in one held step, so that a signal finds it listed as soon as it exists,
// and never finds listed a name that turned out to be another's file.
bool CreateTemporary(OutputFile& output, SignalGuard& guard, std::string& error) {
    const fs::path target(output.path);
    std::random_device entropy;
    int errorNumber = 0;
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "%08x", static_cast<unsigned>(entropy()));
        const std::string temp =
            (target.parent_path() / ("." + target.filename().string() + "." + tag + ".tmp"))
                .string();
        HoldSignals(guard);
        errno = 0;
        output.file = CreateNewFile(temp.c_str());
        errorNumber = errno;
        if (output.file != nullptr) {
            output.tempPath = temp;
            const bool listed = ListTemporaryFile(guard, output.tempPath.c_str());
            if (!listed) RemoveTemporary(output, guard);
            ReleaseSignals(guard);
            if (!listed) error = "cannot create the file: too many temporary files at once";
            return listed;
        }
        ReleaseSignals(guard);
        if (errorNumber != EEXIST) break;
    }
    error = "cannot create the file: " + Reason(errorNumber);
    return false;
}

// Copies the finished temporary file through the link at `output.path`.
bool CopyThroughLink(const OutputFile& output, std::string& error) {
    std::FILE* from = std::fopen(output.tempPath.c_str(), "rb");
    if (from == nullptr) {
        error = "cannot read back its temporary file: " + Reason(errno);
        return false;
    }
    errno = 0;
    std::FILE* to = std::fopen(output.path.c_str(), "wb");
    if (to == nullptr) {
        error = "cannot open it for writing: " + Reason(errno);
        std::fclose(from);
        return false;
    }
    std::array<char, 65536> block{};
    bool ok = true;
    size_t got = 0;
    errno = 0;
    while (ok && (got = std::fread(block.data(), 1, block.size(), from)) > 0)
        ok = std::fwrite(block.data(), 1, got, to) == got;
    ok = ok && std::ferror(from) == 0;
    const int writeErrno = errno;
    ok = std::fclose(to) == 0 && ok;
    std::fclose(from);
    if (!ok) error = "writing failed: " + Reason(errno != 0 ? errno : writeErrno);
    return ok;
}

}  // namespace

bool OpenOutput(OutputFile& output, std::FILE* standardOutput, SignalGuard& guard,
                std::string& error) {
    if (output.path == "-" || IsSameOpenFile(output.path.c_str(), standardOutput)) {
        output.way = OutputWay::Shared;
        output.file = standardOutput;
        return true;
    }
    std::error_code ec;
    const fs::file_type standing = fs::symlink_status(output.path, ec).type();
    const bool linkToFile =
        standing == fs::file_type::symlink && fs::is_regular_file(fs::status(output.path, ec));
    if (standing == fs::file_type::not_found || standing == fs::file_type::regular || linkToFile) {
        output.way = linkToFile ? OutputWay::StagedThroughLink : OutputWay::Staged;
        if (!CreateTemporary(output, guard, error)) return false;
        if (standing == fs::file_type::regular) {
            fs::permissions(output.tempPath, fs::status(output.path, ec).permissions(), ec);
        }
        return true;
    }
    output.way = OutputWay::Through;
    errno = 0;
    output.file = std::fopen(output.path.c_str(), "wb");
    if (output.file == nullptr) {
        error = "cannot open it for writing: " + Reason(errno);
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
    if (std::vfprintf(output.file, format, args) < 0 && output.failure == 0)
        output.failure = errno != 0 ? errno : EIO;
}

void EmitBytes(OutputFile& output, const char* bytes, size_t count) {
    errno = 0;
    if (std::fwrite(bytes, 1, count, output.file) != count && output.failure == 0)
        output.failure = errno != 0 ? errno : EIO;
}

void EmitFlush(OutputFile& output) {
    errno = 0;
    if (std::fflush(output.file) != 0 && output.failure == 0)
        output.failure = errno != 0 ? errno : EIO;
}

bool FlushOutput(OutputFile& output, std::string& error) {
    if (output.file == nullptr) return true;
    EmitFlush(output);
    if (output.failure == 0 && std::ferror(output.file) == 0) return true;
    error = "writing failed: " + Reason(output.failure);
    return false;
}

bool CommitOutput(OutputFile& output, SignalGuard& guard, std::string& error) {
    if (output.file == nullptr) return true;
    if (!FlushOutput(output, error)) return false;
    if (output.way == OutputWay::Shared) {
        output.file = nullptr;
        return true;
    }
    errno = 0;
    const bool closed = std::fclose(output.file) == 0;
    output.file = nullptr;
    if (!closed) {
        error = "writing failed: " + Reason(errno);
        return false;
    }
    if (output.way == OutputWay::Staged) {
        std::error_code ec;
        HoldSignals(guard);
        fs::rename(output.tempPath, output.path, ec);
        if (!ec) {
            UnlistTemporaryFile(guard, output.tempPath.c_str());
            output.tempPath.clear();
        }
        ReleaseSignals(guard);
        if (ec) error = "cannot replace it: " + ec.message();
        return !ec;
    }
    if (output.way == OutputWay::StagedThroughLink) {
        const bool copied = CopyThroughLink(output, error);
        HoldSignals(guard);
        RemoveTemporary(output, guard);
        ReleaseSignals(guard);
        return copied;
    }
    return true;
}

void AbandonOutput(OutputFile& output, SignalGuard& guard) {
    if (output.way == OutputWay::Shared) {
        if (output.file != nullptr) std::fflush(output.file);
        output.file = nullptr;
        return;
    }
    HoldSignals(guard);
    if (!output.tempPath.empty()) {
        RemoveTemporary(output, guard);
    } else if (output.file != nullptr) {
        std::fclose(output.file);
        output.file = nullptr;
    }
    ReleaseSignals(guard);
}
