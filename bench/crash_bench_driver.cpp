// Drives bench/crash_dump_bench.sh: crashes the helper program RUNS times with THREADS threads
// and measures the dump's size and the time from the fault (stamped by the helper just before
// its null write) to the moment the parent sees the process end.
//
//   crash_bench_driver HELPER THREADS RUNS [--no-install]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

static long long NowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000ll + ts.tv_nsec;
}

static double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[i];
}

int main(int argc, char** argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: crash_bench_driver HELPER THREADS RUNS [--no-install]\n");
        return 2;
    }
    const std::string helper = argv[1];
    const int threads = atoi(argv[2]);
    const int runs = atoi(argv[3]);
    const bool install = !(argc > 4 && std::string(argv[4]) == "--no-install");
    const std::string dump = helper + ".dmp";
    const std::string workers = std::to_string(threads - 1);  // the main thread is one of them

    std::vector<double> millis;
    std::vector<double> sizes;
    for (int run = 0; run < runs; ++run) {
        unlink(dump.c_str());
        int pipeFds[2];
        if (pipe(pipeFds) != 0) return 1;
        pid_t pid = fork();
        if (pid == 0) {
            dup2(pipeFds[1], 1);
            close(pipeFds[0]);
            close(pipeFds[1]);
            execl(helper.c_str(), helper.c_str(), "main-null", "--threads", workers.c_str(), "--stamp",
                  install ? static_cast<char*>(nullptr) : "--no-install", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeFds[1]);
        std::string text;
        char buffer[256];
        ssize_t n;
        while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
        close(pipeFds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        const long long end = NowNs();
        const size_t at = text.find("T0 ");
        if (at == std::string::npos || !WIFSIGNALED(status)) {
            fprintf(stderr, "run %d: no stamp or not ended by a signal\n", run);
            return 1;
        }
        const long long start = atoll(text.c_str() + at + 3);
        millis.push_back(static_cast<double>(end - start) / 1e6);
        struct stat st {};
        sizes.push_back(stat(dump.c_str(), &st) == 0 ? static_cast<double>(st.st_size) : 0.0);
    }
    printf("threads=%d runs=%d handler=%s\n", threads, runs, install ? "installed" : "none");
    printf("fault-to-exit ms: median %.2f  p90 %.2f  min %.2f  max %.2f\n", Percentile(millis, 0.5),
           Percentile(millis, 0.9), *std::min_element(millis.begin(), millis.end()),
           *std::max_element(millis.begin(), millis.end()));
    printf("dump bytes: median %.0f  min %.0f  max %.0f\n", Percentile(sizes, 0.5),
           *std::min_element(sizes.begin(), sizes.end()), *std::max_element(sizes.begin(), sizes.end()));
    return 0;
}
