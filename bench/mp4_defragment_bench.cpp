// The time to make a finished fragmented recording an ordinary MP4: each file given is
// copied, rewritten RUNS times from a fresh copy, and the median and slowest printed.
//
//   mp4_defragment_bench RUNS FILE...
#include "castorn/Mp4Defragmenter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RUNS FILE...\n", argv[0]);
        return 2;
    }
    const int runs = std::max(1, std::atoi(argv[1]));
    for (int i = 2; i < argc; ++i) {
        const fs::path original = argv[i];
        const fs::path copy = original.parent_path() / ("bench " + original.filename().string());
        std::vector<double> seconds;
        for (int run = 0; run < runs; ++run) {
            fs::copy_file(original, copy, fs::copy_options::overwrite_existing);
            std::string why;
            const auto start = std::chrono::steady_clock::now();
            if (!castorn::DefragmentMp4(copy, why)) {
                std::fprintf(stderr, "%s: %s\n", original.c_str(), why.c_str());
                return 1;
            }
            seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        fs::remove(copy);
        std::sort(seconds.begin(), seconds.end());
        std::printf("%s: %.1f MB, median %.3f s, slowest %.3f s over %d runs\n", original.filename().c_str(),
                    static_cast<double>(fs::file_size(original)) / 1e6, seconds[seconds.size() / 2], seconds.back(),
                    runs);
    }
    return 0;
}
