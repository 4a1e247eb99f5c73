#pragma once
// What users see of the command-line parser, shared by nvlogo and nvlogo-printer: help that shows the
// words of our own options and none of the parser's type labels, value checks that say what they expect,
// and one plain line for every way a command line can be wrong.

#include <CLI/CLI.hpp>

#include <string>
#include <utility>
#include <vector>

namespace tessera::cli {

// Help without type labels, defaults or REQUIRED marks: an option shows its option_text, or VALUE when it
// takes a value and has none; positionals show their name (written in capitals by convention).
class PlainHelp : public CLI::Formatter {
  public:
    std::string make_option_opts(const CLI::Option* opt) const override;
};

// PlainHelp for the app and every command added after this call.
void usePlainHelp(CLI::App& app);

// A transform taking one of the words, in any case, and handing on its number. Anything else fails with
// "TEXT is not one of a, b or c".
CLI::Validator oneOfWords(std::vector<std::pair<std::string, long long>> words);

// A check for a whole number lo..hi written in decimal digits (no sign, at most 18 digits): anything else
// fails with "TEXT is not a whole number from lo to hi".
CLI::Validator integerIn(long long lo, long long hi);

// One line for a parse failure, in the words of the command line: the option or argument at fault and what
// was expected. The parser's own messages pass only where they already read so.
std::string usageMessage(const CLI::ParseError& e, const CLI::App& app);

// The names of the app's commands, "a, b or c".
std::string commandList(const CLI::App& app);

} // namespace tessera::cli
