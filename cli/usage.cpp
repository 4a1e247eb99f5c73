#include "cli/usage.h"

#include <algorithm>
#include <cctype>

namespace tessera::cli {

namespace {

std::string listed(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    return text;
}

bool startsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

} // namespace

std::string PlainHelp::make_option_opts(const CLI::Option* opt) const {
    if (!opt->get_option_text().empty()) return " " + opt->get_option_text();
    if (opt->get_positional()) return opt->get_expected_max() > 1 ? " ..." : "";
    return opt->get_type_name().empty() ? "" : " VALUE"; // flags have no type
}

void usePlainHelp(CLI::App& app) {
    app.formatter(std::make_shared<PlainHelp>()); // commands added later take the parent's formatter
}

CLI::Validator oneOfWords(std::vector<std::pair<std::string, long long>> words) {
    return CLI::Validator(
        [words = std::move(words)](std::string& text) -> std::string {
            std::string lower = text;
            std::transform(lower.begin(), lower.end(), lower.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            for (const auto& [word, number] : words)
                if (word == lower) {
                    text = std::to_string(number);
                    return {};
                }
            std::vector<std::string> names;
            for (const auto& w : words)
                names.push_back(w.first);
            return text + " is not one of " + listed(names);
        },
        "");
}

CLI::Validator integerIn(long long lo, long long hi) {
    return CLI::Validator(
        [lo, hi](std::string& text) -> std::string {
            const bool digits = !text.empty() && text.size() <= 18 &&
                                std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
            if (digits) {
                const long long v = std::stoll(text);
                if (v >= lo && v <= hi) return {};
            }
            return text + " is not a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
        },
        "");
}

std::string commandList(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
        names.push_back(sub->get_name());
    return listed(names);
}

std::string usageMessage(const CLI::ParseError& e, const CLI::App& app) {
    const std::string what = e.what();
    // By type: the parser names some errors after the command instead.
    auto is = [&e](auto* type) { return dynamic_cast<decltype(type)>(&e) != nullptr; };
    const bool extra = is(static_cast<const CLI::ExtrasError*>(nullptr));
    if (extra || is(static_cast<const CLI::RequiredError*>(nullptr))) {
        // An unknown option is set aside until the end, so a file named "-x" shows up as a missing file.
        for (const std::string& arg : app.remaining(true))
            if (arg.size() > 1 && arg[0] == '-')
                return "unknown option " + arg +
                       "; -- ends the options, so a file name that begins with - goes after it";
        if (extra && !app.remaining(true).empty()) return "unexpected argument " + app.remaining(true).front();
    }
    if (is(static_cast<const CLI::ArgumentMismatch*>(nullptr))) {
        const std::string name = what.substr(0, what.find(':'));
        if (what.find(" missing") != std::string::npos) return name + " needs a value";
        if (what.find("At Most") != std::string::npos) return name + " is given more than once";
    }
    if (is(static_cast<const CLI::RequiredError*>(nullptr)) && startsWith(what, "A subcommand"))
        return "no command given; the commands are " + commandList(app);
    if (is(static_cast<const CLI::ConversionError*>(nullptr))) return "a value cannot be read: " + what;
    // The rest reads as it is: "--output is required", and the checks above, "--halftone: x is not one of …".
    std::string line = what;
    std::replace(line.begin(), line.end(), '\n', ' ');
    return line;
}

} // namespace tessera::cli
