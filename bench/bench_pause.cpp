// Measures the pause between the packets of a firmware image as the transfer makes it: the mean,
// median, 99th percentile and longest real length of a 100 us pause through platform::ExactPauses,
// beside a plain std::this_thread::sleep_for of the same length, and what the pauses of a full
// 4 MiB image add up to with each. Prints figures; asserts nothing.
//   bench_pause [samples]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "pause.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto PAUSE = std::chrono::microseconds(100);
// Payload packets of a 4 MiB image, 64 bytes each.
constexpr double IMAGE_PACKETS = 4.0 * 1024 * 1024 / 64;

template <typename Pause> std::vector<double> measure(int samples, Pause pause) {
    std::vector<double> lengths;
    lengths.reserve(static_cast<std::size_t>(samples));
    for (int i = 0; i < samples; ++i) {
        const auto start = Clock::now();
        pause();
        lengths.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(lengths.begin(), lengths.end());
    return lengths;
}

void report(const char *what, const std::vector<double> &lengths) {
    double sum = 0;
    for (const double length : lengths) {
        sum += length;
    }
    const double mean = sum / static_cast<double>(lengths.size());
    const auto at = [&lengths](double share) {
        return lengths[static_cast<std::size_t>(share * static_cast<double>(lengths.size() - 1))];
    };
    std::printf("%-28s mean %8.1f us  median %8.1f us  p99 %8.1f us  max %8.1f us  "
                "4 MiB image: %6.1f s of pauses\n",
                what, mean, at(0.5), at(0.99), lengths.back(), mean * IMAGE_PACKETS / 1e6);
}

} // namespace

int main(int argc, char **argv) {
    const int samples = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
    std::printf("pause of %lld us, %d samples\n", static_cast<long long>(PAUSE.count()), samples);
    {
        platform::ExactPauses pauses;
        report("platform::ExactPauses", measure(samples, [&pauses] { pauses.pause(PAUSE); }));
    }
    report("std::this_thread::sleep_for",
           measure(samples, [] { std::this_thread::sleep_for(PAUSE); }));
    return 0;
}
