// The benchmarks' encoder: does no encoding, only records when it ran.
//
//   bench_stamp_encoder [--sleep MS] INPUT OUTPUT
//
// Writes to OUTPUT "start N" and "end N", the system's monotonic clock in
// nanoseconds as main begins and just before the program ends; with --sleep
// it waits MS milliseconds in between. INPUT is not read.
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

long long Now() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

}  // namespace

int main(int argc, char **argv) {
    const long long start = Now();
    int next = 1;
    long sleepMs = 0;
    if (argc > 2 && std::strcmp(argv[1], "--sleep") == 0) {
        sleepMs = std::atol(argv[2]);
        next = 3;
    }
    if (argc - next != 2) return 2;
    if (sleepMs > 0) {
        timespec left{static_cast<time_t>(sleepMs / 1000), (sleepMs % 1000) * 1000000L};
        while (nanosleep(&left, &left) != 0) {
        }
    }
    std::FILE *output = std::fopen(argv[next + 1], "wb");
    if (output == nullptr) return 2;
    std::fprintf(output, "start %lld\n", start);
    std::fprintf(output, "end %lld\n", Now());
    return std::fclose(output) == 0 ? 0 : 2;
}
