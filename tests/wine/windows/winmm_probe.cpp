// winmm_probe SECONDS: what winmm itself sees of the sound input, with nothing of vorlank in
// between. Once a second it prints the number of wave-input devices and the result of opening
// the default one for vorlank's format (which it closes again at once):
//   devices=1 open=0
// The wine tests run it beside vorlank.exe to tell what the tool does from what winmm lets it do.
#include <windows.h>

#include <mmsystem.h>  // needs <windows.h> before it

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 1;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 44100;
    format.nAvgBytesPerSec = 88200;
    format.nBlockAlign = 2;
    format.wBitsPerSample = 16;
    for (int i = 0; i < seconds; ++i) {
        if (i > 0) Sleep(1000);
        HWAVEIN device{};
        const MMRESULT opened = waveInOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
        if (opened == MMSYSERR_NOERROR) waveInClose(device);
        std::printf("devices=%u open=%u\n", waveInGetNumDevs(), opened);
        std::fflush(stdout);
    }
    return 0;
}
