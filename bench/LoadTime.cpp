// kestrel-bench-load-time FILE [RUNS]: the median wall time of kestrel::Load on FILE, in seconds,
// the C++ side of bench/python_load.py's comparison.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "kestrel/load/Content.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kestrel-bench-load-time FILE [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        const auto started = std::chrono::steady_clock::now();
        kestrel::LoadResult loaded = kestrel::Load(argv[1]);
        seconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        if (!loaded) {
            std::fprintf(stderr, "%s\n", loaded.error.description().c_str());
            return 1;
        }
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("%.6f\n", seconds[seconds.size() / 2]);
    return 0;
}
