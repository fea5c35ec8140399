// Runs the vezi executable as a separate program and collects its exit code and output.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "TestUtil.h"

namespace vez::test {

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline std::string ShellQuote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs `executable` with `args` (no shell interpretation of the arguments); standard input is empty.
inline RunResult RunProgram(const std::string& executable, const std::vector<std::string>& args) {
  TempDir scratch;
  const std::string errFile = scratch.File("stderr");
  std::string command = ShellQuote(executable);
  for (const auto& a : args) command += " " + ShellQuote(a);
  command += " </dev/null 2>" + ShellQuote(errFile);
  RunResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.err = ReadFile(errFile);
  return result;
}

// Runs `executable` on a terminal of its own (script(1) gives it a pseudo-terminal), typing `input`; answers what
// the terminal showed, standard output and error together, with the typed input echoed first.
inline std::string RunOnTerminal(const std::string& executable, const std::vector<std::string>& args,
                                 const std::string& input) {
  TempDir scratch;
  std::string command = ShellQuote(executable);
  for (const auto& a : args) command += " " + ShellQuote(a);
  std::ofstream(scratch.File("typed"), std::ios::binary) << input;
  return RunProgram("sh", {"-c", "script -qec \"$0\" /dev/null < \"$1\"", command, scratch.File("typed")}).out;
}

}  // namespace vez::test
