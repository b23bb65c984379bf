#include "synth/binary_stdout.h"

namespace synth {

bool SetStdoutBinary() {
    return true;
}

}  // namespace synth
