// Every saved reproducer and seed of the fuzz targets, through the same target functions that
// libFuzzer runs: a fault once found stays covered without clang. A target ends the process on
// a broken promise; under the sanitizer build the undefined behaviour the fuzzer found is caught
// here too.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <dirent.h>

#include "capture.h"
#include "fuzz_targets.h"

namespace {

std::vector<std::string> filesIn(const std::string &dir) {
    std::vector<std::string> files;
    if (DIR *d = opendir(dir.c_str())) {
        while (const dirent *e = readdir(d)) {
            if (e->d_name[0] != '.') {
                files.push_back(dir + "/" + e->d_name);
            }
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

TEST(FuzzReplay, EveryReproducerAndSeedPassesItsTarget) {
    struct Target {
        const char *name;
        int (*run)(const uint8_t *, std::size_t);
        std::size_t reproducers_at_least;
    };
    const Target targets[] = {{"settings_file", fuzzSettingsFile, 3},
                              {"input_reports", fuzzInputReports, 0},
                              {"firmware_image", fuzzFirmwareImage, 0}};
    for (const Target &t : targets) {
        const std::string base = std::string(EFIS_FUZZ_DIR) + "/" + t.name;
        const std::vector<std::string> reproducers = filesIn(base + "/reproducers");
        const std::vector<std::string> seeds = filesIn(base + "/corpus");
        EXPECT_GE(reproducers.size(), t.reproducers_at_least) << t.name;
        EXPECT_FALSE(seeds.empty()) << t.name;
        std::vector<std::string> inputs = reproducers;
        inputs.insert(inputs.end(), seeds.begin(), seeds.end());
        for (const std::string &path : inputs) {
            std::ifstream in(path, std::ios::binary);
            const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                             std::istreambuf_iterator<char>()};
            SCOPED_TRACE(path);
            captureStdout([&] { EXPECT_EQ(t.run(bytes.data(), bytes.size()), 0); });
        }
    }
}
