#ifndef FUZZ_TARGETS_H
#define FUZZ_TARGETS_H

// The inputs from outside that the tool reads, each behind one function that takes any bytes:
// a settings file, the unit's input reports, a firmware image file. libFuzzer calls them through
// LLVMFuzzerTestOneInput (built with clang, see fuzz/run.sh); the test suite calls them with the
// saved reproducers and the seeds, so that a fault once found stays covered without clang.
// Each returns 0; a broken promise (a round trip that changes a value, a refused file that
// changed the record) ends the process at once, as a sanitizer's finding does.

#include <cstddef>
#include <cstdint>

// Reads the bytes as a settings file; an accepted file, written back and read again, must give
// the same record and unit header.
int fuzzSettingsFile(const uint8_t *data, std::size_t size);
// Connects to the simulated unit, loads its settings and runs the flash queries, with the
// unit's replies replaced by reports cut from the bytes (a length byte, then the report).
int fuzzInputReports(const uint8_t *data, std::size_t size);
// Writes the bytes as a firmware image file into the simulated unit; a transfer reported as
// complete must have put the file's header and payload into the partition unchanged.
int fuzzFirmwareImage(const uint8_t *data, std::size_t size);

// Ends the process with a line naming the broken promise.
[[noreturn]] void fuzzFault(const char *what);

#ifdef EFIS_FUZZ_TARGET
#define EFIS_FUZZ_ENTRY(function)                                                                  \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {                 \
        return function(data, size);                                                               \
    }
#else
#define EFIS_FUZZ_ENTRY(function)
#endif

#endif // FUZZ_TARGETS_H
