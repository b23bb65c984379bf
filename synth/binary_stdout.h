// Puts standard output into binary mode, so raw samples reach a pipe byte for byte. On Windows a
// text-mode stdout would turn every 0x0A byte into 0x0D 0x0A; POSIX streams are always binary.
// One implementation file per platform, chosen by the build. Call before the first write.
#pragma once

namespace synth {

// Returns false if the mode could not be changed.
bool SetStdoutBinary();

}  // namespace synth
