// Worker processes for the conversion: jobs run in child processes, at most `width` at a time.
//
// Why processes and not threads: a job owns everything it touches (its reader, its library connection, its
// share of the process-wide format and date settings), so nothing is shared that could race; a job that crashes
// on a damaged file or is killed takes only its own table with it; and the memory of each job is its own and is
// measured by the system (peak resident size per job).
//
// A job is forked from the calling process and runs `work` there; it reports through its TJobChannel: any number
// of messages while it runs (progress) and one result at the end. The parent reads the channels of all running
// jobs, hands each message to the hooks as it arrives and, when a job's process has ended, reports how it ended.
// The child never returns into the caller's code: it ends with _exit, so no destructor, atexit handler or stdio
// buffer of the parent runs twice.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace vez::detail {

// The child's end of a job's pipe.
class TJobChannel {
public:
  explicit TJobChannel(int fd) : fd_(fd) {}
  // A message to the parent while the job runs.
  void Message(std::string_view payload) { Send('m', payload); }
  // The job's result; a job that ends without one counts as failed.
  void Result(std::string_view payload) { Send('r', payload); }

private:
  void Send(char kind, std::string_view payload);
  int fd_;
};

// How a job's process ended.
struct TJobEnd {
  bool Finished = false;     // it sent its result and exited normally
  std::string Result;        // the result it sent
  std::string Failure;       // why it did not finish: "killed by signal 9 (Killed)", "ended with exit code 3", ...
  long PeakMemoryKB = 0;     // the largest resident size of the job's process
};

struct TJobHooks {
  // In the parent, before job `job` is forked (for locks the job needs while it runs).
  std::function<void(std::size_t job)> Starting;
  // In the parent, once the job's process runs.
  std::function<void(std::size_t job, pid_t pid)> Started;
  // A message the job sent.
  std::function<void(std::size_t job, std::string_view message)> Message;
  // The job's process has ended.
  std::function<void(std::size_t job, TJobEnd end)> Finished;
  // Asked between events: when it gives true no further job starts, and the running ones are stopped (SIGTERM).
  std::function<bool()> Cancelled;
};

// Runs jobs 0 .. count-1, started in that order, at most `width` at a time (width >= 1), each in a child process
// that calls work(job, channel). Returns when every started job has ended. A job that cannot be forked ends with
// its failure like any other. Hooks are called on the calling thread.
void RunJobs(std::size_t count, int width, const std::function<void(std::size_t job, TJobChannel& channel)>& work,
             const TJobHooks& hooks);

}  // namespace vez::detail
