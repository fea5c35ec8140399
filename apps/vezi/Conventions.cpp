#include "Conventions.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <csignal>
#include <cmath>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <new>
#include <vector>

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

// The candidate closest to a mistyped word (at most a third of its letters changed, added, dropped or swapped
// with a neighbour), or "" when none is close.
std::string Closest(const std::string& word, const std::vector<std::string>& candidates) {
  const auto distance = [](const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
      for (std::size_t j = 1; j <= b.size(); ++j) {
        d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
        if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    return d[a.size()][b.size()];
  };
  std::string best;
  std::size_t bestDistance = std::max<std::size_t>(1, word.size() / 3) + 1;
  for (const std::string& c : candidates) {
    const std::size_t d = distance(word, c);
    if (d < bestDistance) best = c, bestDistance = d;
  }
  return best;
}

std::vector<std::string> CommandNames(CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) names.push_back(sub->get_name());
  return names;
}

// "; did you mean '--limit'?" for the first word of the command line that is no option of the command but close
// to one of them.
std::string OptionHint(CLI::App& command, const std::vector<std::string>& extras) {
  std::vector<std::string> names;
  for (const CLI::Option* opt : command.get_options())
    for (const std::string& n : opt->get_lnames()) names.push_back("--" + n);
  for (const std::string& extra : extras) {
    const std::string word = extra.substr(0, extra.find('='));
    if (word.rfind("--", 0) != 0 || std::find(names.begin(), names.end(), word) != names.end()) continue;
    const std::string closest = Closest(word, names);
    if (!closest.empty()) return "; did you mean '" + closest + "'?";
  }
  return {};
}

int UsageFailure(const std::string& message, const std::string& help) {
  PrintError(message);
  std::cerr << "Run '" << help << " --help' for more information.\n";
  return kExitUsage;
}

}  // namespace

void CheckNumbers(CLI::App& app) { CheckNumbersOf(app); }

namespace {
class HelpFormatter : public CLI::Formatter {
public:
  std::string make_expanded(const CLI::App* sub) const override {
    const std::string text = CLI::Formatter::make_expanded(sub);
    const std::string footer = sub->get_footer();
    if (footer.empty()) return text;
    std::string indented;
    for (std::size_t start = 0; start < footer.size();) {
      const std::size_t end = std::min(footer.find('\n', start), footer.size());
      indented += end > start ? "  " + footer.substr(start, end - start) + "\n" : "\n";
      start = end + 1;
    }
    return text + "\n" + indented;
  }
};
}  // namespace

void UseHelpFormatter(CLI::App& app) { app.formatter(std::make_shared<HelpFormatter>()); }

void PrintError(std::string_view message) {
  std::string text;
  for (std::size_t begin = 0;;) {
    const std::size_t end = message.find_first_of("\r\n", begin);
    text.append("vezi: ").append(message.substr(begin, end - begin)).push_back('\n');
    if (end == std::string_view::npos) break;
    begin = end + (message.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  std::cerr << text;
}

std::string WriteReportFile(const std::string& path, const std::function<void(std::ostream&)>& write) {
  errno = 0;
  std::ofstream out(path);
  if (out) write(out);
  out.close();  // the last bytes reach the file only here, so its state tells only now whether they did
  if (out) return {};
  return "cannot write the report " + path + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
}

int Run(CLI::App& app, int argc, char** argv) {
  // The command comes first; anything else there is a global option (--help, --version).
  if (argc < 2) return UsageFailure("a command is required; the commands are: " + CommandList(app), "vezi");
  const std::string first = argv[1];
  if (first.empty() || first.front() != '-') {
    bool known = false;
    for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
      known = known || sub->check_name(first);
    if (!known) {
      const std::string closest = Closest(first, CommandNames(app));
      return UsageFailure("unknown command '" + first + "'" +
                              (closest.empty() ? "; the commands are: " + CommandList(app)
                                               : "; did you mean '" + closest + "'?"),
                          "vezi");
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e) == 0 ? kExitOk : kExitUsage;  // --help, --version
    const std::vector<CLI::App*> parsed = app.get_subcommands();
    std::string hint;
    if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
      CLI::App& command = parsed.empty() ? app : *parsed.front();
      hint = OptionHint(command, std::vector<std::string>(argv + 1, argv + argc));
    }
    return UsageFailure(e.what() + hint, parsed.empty() ? "vezi" : "vezi " + parsed.front()->get_name());
  } catch (const vez::EParameterError& e) {
    // A parameter out of its range: the library's message, as every front end shows it, and a usage error.
    const std::vector<CLI::App*> parsed = app.get_subcommands();
    return UsageFailure(e.what(), parsed.empty() ? "vezi" : "vezi " + parsed.front()->get_name());
  } catch (const std::bad_alloc&) {
    std::cerr << "vezi: not enough memory\n";
    return kExitError;
  } catch (const std::exception& e) {
    PrintError(e.what());
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
