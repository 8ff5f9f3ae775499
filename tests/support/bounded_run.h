#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

namespace lumet::testing {

// The outcome of an action run in a child process: whether it ended within the time
// allowed (a child still running then is killed) and its exit status.
struct BoundedOutcome {
  bool finished = false;
  int exitCode = -1;
};

// Runs action in a forked child and waits at most `seconds` for it, so that a read that
// blocks fails the test instead of hanging it. The child's exit status is action's
// result (255 when it throws).
inline BoundedOutcome RunBounded(const std::function<int()>& action, double seconds) {
  const pid_t pid = ::fork();
  if (pid < 0) return {};
  if (pid == 0) {
    int code = 255;
    try {
      code = action();
    } catch (...) {
    }
    ::_exit(code);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return {true, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
    if (done < 0 || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return {};
}

}  // namespace lumet::testing
