// vorlank-analyze: studies a run log of `vorlank L` or a WAV recording offline. See analyze_cli.h.
#include <cstdio>
#include <string>
#include <vector>

#include "analyze/analyze_cli.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    analyze::SignalGuard guard;
    analyze::InstallSignalGuard(guard);
    const int code = analyze::RunAnalyze(args, stdout, stderr, guard);
    analyze::RemoveSignalGuard(guard);
    return code;
}
