// bench-time: runs a command several times with its standard output and
// standard error going to /dev/null, and prints the median wall time in
// seconds, the largest peak resident set in KiB and the last exit status:
//
//   bench-time RUNS COMMAND [ARGUMENT...]   ->   "0.123456 10240 0"
//
// The peak comes from wait4's resource usage of each child alone, so the
// harness's own memory never counts.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: bench-time RUNS COMMAND [ARGUMENT...]\n", stderr);
    return 2;
  }
  const int runs = std::max(1, std::atoi(argv[1]));
  std::vector<double> seconds;
  long peak_kib = 0;
  int status = 0;
  for (int r = 0; r < runs; ++r) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
      std::perror("fork");
      return 2;
    }
    if (pid == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execvp(argv[2], argv + 2);
      _exit(127);
    }
    int wstatus = 0;
    struct rusage usage {};
    while (wait4(pid, &wstatus, 0, &usage) < 0)
      if (errno != EINTR) {
        std::perror("wait4");
        return 2;
      }
    const auto stop = std::chrono::steady_clock::now();
    seconds.push_back(std::chrono::duration<double>(stop - start).count());
    peak_kib = std::max(peak_kib, usage.ru_maxrss);
    status =
        WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  }
  std::sort(seconds.begin(), seconds.end());
  const std::size_t n = seconds.size();
  const double median =
      n % 2 == 1 ? seconds[n / 2] : (seconds[n / 2 - 1] + seconds[n / 2]) / 2;
  std::printf("%.6f %ld %d\n", median, peak_kib, status);
  return 0;
}
