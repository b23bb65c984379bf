// audio_file_probe IN OUT [IN OUT]...: the Windows build's audio file libraries at work, for the
// wine tests in tests/wine. Each IN, any file libsndfile reads, has its first channel resampled
// by libsoxr to 44100 Hz when it has another rate and written to OUT as 16-bit mono WAV, the
// form the Linux analyzer reads. One line per file goes to standard output:
//   format=0x10006 channels=2 rate=48000 frames=13316
// (libsndfile's SF_FORMAT_* code; frames as read). Exit code 0, or 1 at the first file that
// cannot be read, resampled or written, with the libraries' message on standard error.
#include <sndfile.h>
#include <soxr.h>

#include <cstdio>
#include <vector>

namespace {

constexpr double output_rate = 44100.0;
// Frames read per block.
constexpr sf_count_t block_frames = 4096;

struct AudioFiles {
    SNDFILE* in = nullptr;
    SNDFILE* out = nullptr;
    soxr_t resampler = nullptr;
};

void close_all(AudioFiles& files) {
    if (files.resampler != nullptr) soxr_delete(files.resampler);
    if (files.out != nullptr) sf_close(files.out);
    if (files.in != nullptr) sf_close(files.in);
    files = AudioFiles{};
}

bool fail(const char* path, const char* what) {
    std::fprintf(stderr, "audio_file_probe: %s: %s\n", path, what);
    return false;
}

// Writes `count` samples (float, full scale 1.0) to OUT; libsndfile scales and clips them to
// 16 bits.
bool write_samples(AudioFiles& files, const float* samples, size_t count, const char* out_path) {
    const auto frames = static_cast<sf_count_t>(count);
    return sf_writef_float(files.out, samples, frames) == frames ||
           fail(out_path, sf_strerror(files.out));
}

// Resamples `count` samples and writes what comes out. Null samples tell the resampler that the
// input has ended: it then gives out what it still holds, over as many calls as that takes.
bool resample(AudioFiles& files, const float* samples, size_t count, std::vector<float>& out,
              const char* in_path, const char* out_path) {
    size_t used = 0;
    size_t made = 0;
    do {
        size_t taken = 0;
        const soxr_error_t error =
            soxr_process(files.resampler, samples == nullptr ? nullptr : samples + used,
                         count - used, &taken, out.data(), out.size(), &made);
        if (error != nullptr) return fail(in_path, error);
        if (!write_samples(files, out.data(), made, out_path)) return false;
        used += taken;
    } while (samples == nullptr ? made > 0 : used < count);
    return true;
}

bool convert(const char* in_path, const char* out_path) {
    AudioFiles files;
    SF_INFO in_info{};
    files.in = sf_open(in_path, SFM_READ, &in_info);
    if (files.in == nullptr) return fail(in_path, sf_strerror(nullptr));
    SF_INFO out_info{};
    out_info.samplerate = static_cast<int>(output_rate);
    out_info.channels = 1;
    out_info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    files.out = sf_open(out_path, SFM_WRITE, &out_info);
    if (files.out == nullptr) {
        close_all(files);
        return fail(out_path, sf_strerror(nullptr));
    }
    sf_command(files.out, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    if (in_info.samplerate != static_cast<int>(output_rate)) {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
        soxr_error_t error = nullptr;
        files.resampler =
            soxr_create(in_info.samplerate, output_rate, 1, &error, &io, &quality, nullptr);
        if (error != nullptr) {
            close_all(files);
            return fail(in_path, error);
        }
    }

    std::vector<float> block(static_cast<size_t>(block_frames * in_info.channels));
    std::vector<float> channel(static_cast<size_t>(block_frames));
    std::vector<float> resampled(static_cast<size_t>(block_frames));
    sf_count_t frames_read = 0;
    bool ok = true;
    while (ok) {
        const sf_count_t got = sf_readf_float(files.in, block.data(), block_frames);
        frames_read += got;
        for (sf_count_t i = 0; i < got; ++i) {
            channel[static_cast<size_t>(i)] = block[static_cast<size_t>(i * in_info.channels)];
        }
        if (files.resampler == nullptr) {
            ok = write_samples(files, channel.data(), static_cast<size_t>(got), out_path);
        } else {
            ok = resample(files, got == 0 ? nullptr : channel.data(), static_cast<size_t>(got),
                          resampled, in_path, out_path);
        }
        if (got == 0) break;
    }
    if (ok && sf_error(files.in) != SF_ERR_NO_ERROR) ok = fail(in_path, sf_strerror(files.in));
    if (ok) {
        std::printf("format=0x%x channels=%d rate=%d frames=%lld\n",
                    static_cast<unsigned>(in_info.format), in_info.channels, in_info.samplerate,
                    static_cast<long long>(frames_read));
        std::fflush(stdout);
    }
    close_all(files);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: audio_file_probe IN OUT [IN OUT]...\n");
        return 2;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!convert(argv[i], argv[i + 1])) return 1;
    }
    return 0;
}
