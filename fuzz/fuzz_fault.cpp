#include "fuzz_targets.h"

#include <cstdio>
#include <cstdlib>

void fuzzFault(const char *what) {
    std::fprintf(stderr, "fuzz target: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

#ifdef EFIS_FUZZ_TARGET
// The device layer's lines on standard output would cost more than the inputs themselves;
// libFuzzer reports on standard error.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        fuzzFault("standard output could not be silenced");
    }
    return 0;
}
#endif
