#include "synth/binary_stdout.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

namespace synth {

bool SetStdoutBinary() {
    return _setmode(_fileno(stdout), _O_BINARY) != -1;
}

}  // namespace synth
