#include "convert/internal/JobPool.h"

#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <exception>
#include <vector>

namespace vez::detail {

namespace {

constexpr char kMessage = 'm';
constexpr char kResult = 'r';
constexpr char kFailure = 'f';
constexpr std::size_t kHeader = 1 + sizeof(std::uint32_t);

// Writes all bytes; false when the parent is gone.
bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

struct Running {
  std::size_t job = 0;
  pid_t pid = -1;
  int fd = -1;
  std::string buffer;  // bytes read and not yet parsed
  std::string result;
  std::string failure;
  bool hasResult = false;
};

std::string DescribeStatus(int status) {
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    const char* name = strsignal(sig);
    return "killed by signal " + std::to_string(sig) + (name ? std::string(" (") + name + ")" : std::string());
  }
  if (WIFEXITED(status)) return "ended with exit code " + std::to_string(WEXITSTATUS(status));
  return "ended abnormally";
}

// Hands the complete frames of a job's buffer to the hooks.
void Parse(Running& r, const TJobHooks& hooks) {
  std::size_t at = 0;
  while (r.buffer.size() - at >= kHeader) {
    std::uint32_t length = 0;
    std::memcpy(&length, r.buffer.data() + at + 1, sizeof length);
    if (r.buffer.size() - at - kHeader < length) break;
    const char kind = r.buffer[at];
    const std::string_view payload(r.buffer.data() + at + kHeader, length);
    if (kind == kMessage) {
      if (hooks.Message) hooks.Message(r.job, payload);
    } else if (kind == kResult) {
      r.result.assign(payload);
      r.hasResult = true;
    } else if (kind == kFailure) {
      r.failure.assign(payload);
    }
    at += kHeader + length;
  }
  r.buffer.erase(0, at);
}

// Closes every descriptor the child inherited but its channel and the standard streams: the parent's pipes of
// other jobs, its folder locks (a lock lives as long as any descriptor of it), its open libraries.
void CloseInherited(int keep) {
  if (keep > 3) ::close_range(3, static_cast<unsigned>(keep - 1), 0);
  ::close_range(static_cast<unsigned>(keep + 1), ~0u, 0);
}

[[noreturn]] void RunChild(std::size_t job, int fd, pid_t parent,
                           const std::function<void(std::size_t, TJobChannel&)>& work) {
  // A job does not outlive its run: when the run's process ends, the job is told to stop (SIGTERM).
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != parent) ::_exit(1);
  CloseInherited(fd);
  TJobChannel channel(fd);
  int code = 0;
  try {
    work(job, channel);
  } catch (const std::exception& e) {
    const std::string text = e.what();
    std::string frame(1, kFailure);
    const auto length = static_cast<std::uint32_t>(text.size());
    frame.append(reinterpret_cast<const char*>(&length), sizeof length);
    frame += text;
    WriteAll(fd, frame.data(), frame.size());
    code = 1;
  } catch (...) {
    code = 1;
  }
  ::_exit(code);
}

}  // namespace

void TJobChannel::Send(char kind, std::string_view payload) {
  std::string frame(1, kind);
  const auto length = static_cast<std::uint32_t>(payload.size());
  frame.append(reinterpret_cast<const char*>(&length), sizeof length);
  frame.append(payload);
  if (!WriteAll(fd_, frame.data(), frame.size())) ::_exit(1);  // the parent is gone
}

namespace {

// Ends the jobs still running when the run leaves early (a hook raised): their pipes are closed, so a job that
// writes gets no further, they are told to stop and are waited for, so no process outlives the run.
class RunningJobs {
public:
  std::vector<Running> jobs;
  ~RunningJobs() { StopAll(); }
  void StopAll() {
    for (Running& r : jobs) {
      ::close(r.fd);
      ::kill(r.pid, SIGTERM);
    }
    for (Running& r : jobs) {
      int status = 0;
      while (::waitpid(r.pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
    jobs.clear();
  }
};

}  // namespace

void RunJobs(std::size_t count, int width, const std::function<void(std::size_t, TJobChannel&)>& work,
             const TJobHooks& hooks) {
  if (width < 1) width = 1;
  RunningJobs guard;
  std::vector<Running>& running = guard.jobs;
  std::size_t next = 0;
  bool cancelled = false;
  auto finish = [&](std::size_t job, TJobEnd end) {
    if (hooks.Finished) hooks.Finished(job, std::move(end));
  };
  while (next < count || !running.empty()) {
    if (!cancelled && hooks.Cancelled && hooks.Cancelled()) {
      cancelled = true;
      for (const Running& r : running) ::kill(r.pid, SIGTERM);
    }
    while (!cancelled && next < count && running.size() < static_cast<std::size_t>(width)) {
      const std::size_t job = next++;
      try {
        if (hooks.Starting) hooks.Starting(job);
      } catch (const std::exception& e) {
        finish(job, TJobEnd{false, {}, e.what(), 0});
        continue;
      }
      int fds[2];
      if (::pipe(fds) != 0) {
        finish(job, TJobEnd{false, {}, std::string("cannot start a process: ") + std::strerror(errno), 0});
        continue;
      }
      const pid_t parent = ::getpid();
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::close(fds[0]);
        RunChild(job, fds[1], parent, work);
      }
      ::close(fds[1]);
      if (pid < 0) {
        const int error = errno;
        ::close(fds[0]);
        finish(job, TJobEnd{false, {}, std::string("cannot start a process: ") + std::strerror(error), 0});
        continue;
      }
      Running r;
      r.job = job;
      r.pid = pid;
      r.fd = fds[0];
      running.push_back(std::move(r));
      if (hooks.Started) hooks.Started(job, pid);
    }
    if (cancelled && next < count) next = count;  // jobs not started stay unstarted
    if (running.empty()) continue;

    std::vector<pollfd> polls;
    for (const Running& r : running) polls.push_back(pollfd{r.fd, POLLIN, 0});
    const int ready = ::poll(polls.data(), polls.size(), 250);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    for (std::size_t i = polls.size(); i-- > 0;) {
      if (polls[i].revents == 0) continue;
      Running& r = running[i];
      char chunk[65536];
      const ssize_t n = ::read(r.fd, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n > 0) {
        r.buffer.append(chunk, static_cast<std::size_t>(n));
        Parse(r, hooks);
        continue;
      }
      // End of the pipe: the job's process has ended (or is about to).
      ::close(r.fd);
      int status = 0;
      rusage usage{};
      pid_t waited;
      do {
        waited = ::wait4(r.pid, &status, 0, &usage);
      } while (waited < 0 && errno == EINTR);
      TJobEnd end;
      end.PeakMemoryKB = usage.ru_maxrss;
      const bool normal = waited == r.pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
      end.Finished = normal && r.hasResult;
      if (end.Finished) {
        end.Result = std::move(r.result);
      } else if (!r.failure.empty()) {
        end.Failure = std::move(r.failure);
      } else if (waited != r.pid) {
        end.Failure = "its process was lost";
      } else if (normal) {
        end.Failure = "ended without a result";
      } else {
        end.Failure = DescribeStatus(status);
      }
      const std::size_t job = r.job;
      running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
      finish(job, std::move(end));
    }
  }
  // Only a failing poll leaves jobs here: they are stopped and reaped (by the guard), and reported.
  std::vector<std::size_t> lost;
  for (const Running& r : running) lost.push_back(r.job);
  guard.StopAll();
  for (std::size_t job : lost) finish(job, TJobEnd{false, {}, "stopped: the run could not wait for it", 0});
}

}  // namespace vez::detail
