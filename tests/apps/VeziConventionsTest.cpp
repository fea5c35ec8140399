// The conventions every vezi command shares: --version, unknown commands and the number parser, the bands named for a person, and an interrupt while the name question waits.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "VeziRunner.h"
#include "core/FormatSettings.h"
#include "core/Version.h"

namespace vez {
namespace {

using ::testing::ContainsRegex;
using test::RunResult;
using test::TempDir;

RunResult Vezi(const std::vector<std::string>& args) { return test::RunProgram(VEZI_EXECUTABLE, args); }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(VeziConventions, VersionAndUnknownCommand) {
  const RunResult version = Vezi({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, std::string("vezi (VEZiru0) ") + VEZ_PROJECT_VERSION + "\n");  // the project's version
  EXPECT_EQ(kVersionString, Format("%d.%d.%d", kVersionMajor, kVersionMinor, kVersionPatch));
  // (The usage errors, an unknown command among them, are among the calls of VeziLibraryTest.)
}

// The bands a person maps: the band of every Values<n> field in `vezi info`.
TEST(VeziConventions, BandsAreNamed) {
  // (The grid itself is pinned with the help texts.)
  TempDir dir;
  ASSERT_EQ(Vezi({"create", "ltAbsor", dir.Path().string()}).exitCode, 0);
  const RunResult info = Vezi({"info", dir.File("Absor.abs")});
  EXPECT_THAT(info.out, ContainsRegex(" Values2 +double +0 +no +31.5 Hz, octave 1\n"));
  EXPECT_THAT(info.out, ContainsRegex(" Values3 +double +0 +no +40 Hz\n"));
  EXPECT_THAT(info.out, ContainsRegex(" Values0 +double +0 +no +single value\n"));
}

// Runs vezi on a terminal; returns its exit code and what it wrote. `act` is called with the output so far until
// it returns true: it may act on the program (write to the terminal, send a signal).
int RunOnTerminal(const std::vector<std::string>& args, const std::function<bool(pid_t, int, const std::string&)>& act,
                  std::string& output) {
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    std::vector<char*> argv{const_cast<char*>(VEZI_EXECUTABLE)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VEZI_EXECUTABLE, argv.data());
    _exit(127);
  }
  bool acted = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 100) > 0) {
      char buffer[512];
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) break;  // the program ended
      output.append(buffer, static_cast<std::size_t>(n));
    }
    if (!acted) acted = act(pid, master, output);
  }
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Nothing to convert, on a terminal: no progress line is drawn, nor cleared.
TEST(VeziConventions, NoProgressLineWithoutTables) {
  TempDir dir;
  std::string output;
  const auto atOnce = [](pid_t, int, const std::string&) { return true; };
  EXPECT_EQ(0, RunOnTerminal({"convert", dir.Path().string()}, atOnce, output));
  EXPECT_TRUE(output.starts_with("Tables converted: 0 of 0\r\n") && !Contains(output, "\033[K")) << output;
}

// Ctrl-C or SIGTERM while the name question waits ends the run at once, stores nothing and says so.
TEST(VeziConventions, InterruptAtTheNameQuestion) {
  TempDir dir;
  const std::string in = dir.File("in.txt"), lib = dir.File("emis.abs");
  std::ofstream(in) << "ElementName\tValues1\nFan\t50\n";
  ASSERT_EQ(Vezi({"import", in, "--into", lib, "--auto-link"}).exitCode, 0);
  std::ofstream(in) << "ElementName\tValues1\nFan\t70\nPump\t60\n";
  for (const int signal : {SIGINT, SIGTERM}) {
    std::string output;
    const int code = RunOnTerminal({"import", in, "--into", lib, "--auto-link"},
                                   [signal](pid_t pid, int terminal, const std::string& out) {
                                     if (!Contains(out, "[c]ancel? ")) return false;
                                     if (signal == SIGINT) return write(terminal, "\x03", 1) == 1;  // Ctrl-C
                                     return kill(pid, signal) == 0;
                                   },
                                   output);
    EXPECT_EQ(code, 130) << output;  // as an interrupted conversion
    EXPECT_TRUE(Contains(output, "Added:       0 (interrupted: nothing stored)")) << output;
  }
  EXPECT_TRUE(Contains(Vezi({"dump", lib}).out, "\n1,Fan,50,")) << "the library is unchanged";
  EXPECT_EQ(Vezi({"dump", lib, "--format", "json"}).out.find("Pump"), std::string::npos);
}

}  // namespace
}  // namespace vez
