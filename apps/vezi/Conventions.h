// The conventions every vezi command shares, kept in one place so that each command gets them alike:
//
// - Numbers: every numeric option and argument is read by one parser. It takes numbers as a person writes
//   them ("80", "55.5", "-3", "1e3" for real numbers; "12" for whole numbers) and refuses NaN, infinities,
//   hexadecimal, blanks and trailing text. CheckNumbers puts it on every numeric option of every command;
//   Range adds limits, and its message shows the numbers as they are written ("Value -3 not in range 0 to
//   1000").
// - Errors: every error goes to standard error as "vezi: <message>", each line of a message of several lines
//   so prefixed; usage errors (exit code 2) add a line pointing at the command's help. Commands throw:
//   vez::Exception for failures (exit code 1), UsageError for a wrong use of the command (exit code 2).
// - Commands: an unknown command is answered with the list of commands.
// - Interrupts: Ctrl-C (SIGINT) and SIGTERM set one flag while a command's InterruptScope lives; the command's
//   job asks it and stops after its current step (exit code 130).
#pragma once

#include <CLI/CLI.hpp>
#include <signal.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace vezi {

// The number in text, or nullopt when the text is not a finite number written in decimal.
std::optional<double> ParseNumber(std::string_view text);
// The whole number in text (optional sign and decimal digits only), or nullopt.
std::optional<long long> ParseWholeNumber(std::string_view text);

// The check of an option's value: a finite number from Min to Max.
CLI::Validator Range(double Min, double Max);

// Puts the number check on every option of every command whose value is a number.
void CheckNumbers(CLI::App& app);

// A wrong use of a command: exit code 2 with a pointer to its help.
inline CLI::ValidationError UsageError(const std::string& message) { return CLI::ValidationError(message); }

// While it lives, SIGINT and SIGTERM set the flag Interrupted() reads (cleared when the scope begins); the old
// handlers come back when it ends. The handler does not restart system calls (no SA_RESTART), so a signal also
// ends a wait for typed input.
class InterruptScope {
public:
  InterruptScope();
  ~InterruptScope();
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;
  static bool Interrupted();

private:
  struct sigaction oldInt_ {}, oldTerm_ {};
};

// The help of all commands (--help-all, which the manual page is made from) gives each command's closing text
// too (exit codes, tables, rules, formats), as its own --help does. Set before the commands are added.
void UseHelpFormatter(CLI::App& app);

// Writes a message to standard error as "vezi: <message>"; a message of several lines (the library's messages
// break their lines with CR LF, as a dialog shows them) as one such line for each.
void PrintError(std::string_view message);

// Writes a report file with `write`; empty when the file is whole, else the message saying why not
// ("cannot write the report PATH: No space left on device").
std::string WriteReportFile(const std::string& path, const std::function<void(std::ostream&)>& write);

// Parses the command line and runs the command; returns the exit code. All errors end here.
int Run(CLI::App& app, int argc, char** argv);

}  // namespace vezi
