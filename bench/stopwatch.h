#pragma once
// Wall-clock and CPU time of one measured stretch. CPU time barely moves when
// other programs share the machine, so it shows the pipeline's own overhead
// where wall time is noisy; wall time also holds the waits for the disk.
#include <chrono>
#include <ctime>

namespace bench {

struct Sample {
    double wall = 0; // seconds
    double cpu = 0;  // seconds of this process, user and system
};

class Stopwatch {
  public:
    Stopwatch() : wall_(Clock::now()), cpu_(CpuNow()) {}
    Sample Elapsed() const {
        return {std::chrono::duration<double>(Clock::now() - wall_).count(), CpuNow() - cpu_};
    }

  private:
    using Clock = std::chrono::steady_clock;
    static double CpuNow() {
        struct timespec ts;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
    }
    Clock::time_point wall_;
    double cpu_;
};

} // namespace bench
