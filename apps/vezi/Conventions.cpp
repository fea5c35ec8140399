#include "Conventions.h"

#include <charconv>
#include <cerrno>
#include <csignal>
#include <cmath>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>

#include "Commands.h"
#include "core/Exceptions.h"
#include "output/ValueText.h"

namespace vezi {

std::optional<double> ParseNumber(std::string_view text) {
  if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value, std::chars_format::general);
  if (text.empty() || ec != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<long long> ParseWholeNumber(std::string_view text) {
  if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
  long long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || stop != end) return std::nullopt;
  return value;
}

CLI::Validator Range(double Min, double Max) {
  const std::string description =
      "NUMBER in " + vez::NumberText(Min) + " to " + vez::NumberText(Max);
  return CLI::Validator(
      [Min, Max](std::string& input) -> std::string {
        const std::optional<double> v = ParseNumber(input);
        if (!v) return "'" + input + "' is not a number";
        if (*v < Min || *v > Max)
          return "Value " + input + " not in range " + vez::NumberText(Min) + " to " + vez::NumberText(Max);
        return {};
      },
      description);
}

namespace {

CLI::Validator NumberCheck(bool whole) {
  return CLI::Validator(
      [whole](std::string& input) -> std::string {
        if (whole ? ParseWholeNumber(input).has_value() : ParseNumber(input).has_value()) return {};
        return "'" + input + (whole ? "' is not a whole number" : "' is not a number");
      },
      "");
}

void CheckNumbersOf(CLI::App& app) {
  for (CLI::Option* opt : app.get_options()) {
    const std::string type = opt->get_type_name();
    if (type == "INT" || type == "UINT") opt->check(NumberCheck(true));
    else if (type == "FLOAT" || type == "NUMBER") opt->check(NumberCheck(false));
  }
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) CheckNumbersOf(*sub);
}

std::string CommandList(CLI::App& app) {
  std::string list;
  for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
    list += (list.empty() ? "" : ", ") + sub->get_name();
  return list;
}

int UsageFailure(const std::string& message, const std::string& help) {
  std::cerr << "vezi: " << message << '\n' << "Run '" << help << " --help' for more information.\n";
  return kExitUsage;
}

}  // namespace

void CheckNumbers(CLI::App& app) { CheckNumbersOf(app); }

int Run(CLI::App& app, int argc, char** argv) {
  // The command comes first; anything else there is a global option (--help, --version).
  if (argc < 2) return UsageFailure("a command is required; the commands are: " + CommandList(app), "vezi");
  const std::string first = argv[1];
  if (first.empty() || first.front() != '-') {
    bool known = false;
    for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
      known = known || sub->check_name(first);
    if (!known) return UsageFailure("unknown command '" + first + "'; the commands are: " + CommandList(app), "vezi");
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e) == 0 ? kExitOk : kExitUsage;  // --help, --version
    const std::vector<CLI::App*> parsed = app.get_subcommands();
    return UsageFailure(e.what(), parsed.empty() ? "vezi" : "vezi " + parsed.front()->get_name());
  } catch (const vez::EParameterError& e) {
    // A parameter out of its range: the library's message, as every front end shows it, and a usage error.
    const std::vector<CLI::App*> parsed = app.get_subcommands();
    return UsageFailure(e.what(), parsed.empty() ? "vezi" : "vezi " + parsed.front()->get_name());
  } catch (const std::bad_alloc&) {
    std::cerr << "vezi: not enough memory\n";
    return kExitError;
  } catch (const std::exception& e) {
    std::cerr << "vezi: " << e.what() << '\n';
    return kExitError;
  }
  // Output to a full disk or a closed stream fails only here for its last bytes: a command whose output was lost
  // has not done its work.
  errno = 0;
  if (!std::cout.flush()) {
    std::cerr << "vezi: cannot write the output" << (errno != 0 ? std::string(": ") + std::strerror(errno) : "") << '\n';
    return kExitError;
  }
  return ExitCodeValue();
}

namespace {
volatile std::sig_atomic_t gInterrupted = 0;
extern "C" void OnInterrupt(int) { gInterrupted = 1; }
}  // namespace

InterruptScope::InterruptScope() {
  gInterrupted = 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART
  sigaction(SIGINT, &action, &oldInt_);
  sigaction(SIGTERM, &action, &oldTerm_);
}

InterruptScope::~InterruptScope() {
  sigaction(SIGINT, &oldInt_, nullptr);
  sigaction(SIGTERM, &oldTerm_, nullptr);
}

bool InterruptScope::Interrupted() { return gInterrupted != 0; }

}  // namespace vezi
