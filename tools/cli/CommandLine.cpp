#include "CommandLine.h"

#include <cerrno>
#include <cstdlib>

#include "Failure.h"

namespace nimbex_cli {

bool ParseNumber(const std::string& text, unsigned long& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoul(text.c_str(), &end, 0);
    return errno == 0 && end && *end == '\0';
}

CommandLine::CommandLine(const std::vector<std::string>& words, const std::set<std::string>& valued,
                         const std::set<std::string>& flags) {
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word.size() < 2 || word.compare(0, 2, "--") != 0) {
            positional_.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t equals = word.find('=');
        const std::string name =
            word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        if (valued.count(name)) {
            if (equals != std::string::npos) {
                given_[name] = word.substr(equals + 1);
            } else if (i + 1 < words.size()) {
                given_[name] = words[++i];
            } else {
                throw UsageError("option --" + name + " needs a value");
            }
        } else if (flags.count(name) && equals == std::string::npos) {
            given_[name] = "";
        } else {
            throw UsageError("unknown option " + word);
        }
    }
}

std::string CommandLine::Value(const std::string& option, const std::string& fallback) const {
    auto found = given_.find(option);
    return found == given_.end() ? fallback : found->second;
}

unsigned long CommandLine::Number(const std::string& option, unsigned long fallback) const {
    if (!Has(option)) return fallback;
    unsigned long value = 0;
    if (!ParseNumber(Value(option), value))
        throw UsageError("--" + option + " takes a number, not '" + Value(option) + "'");
    return value;
}

std::string CommandLine::Required(const std::string& option) const {
    if (!Has(option)) throw UsageError("option --" + option + " is required");
    return Value(option);
}

std::string CommandLine::Positional(size_t index, const char* what) const {
    if (index >= positional_.size()) throw UsageError(std::string("missing ") + what);
    return positional_[index];
}

void CommandLine::AtMost(size_t count) const {
    if (positional_.size() > count)
        throw UsageError("unexpected argument '" + positional_[count] + "'");
}

}  // namespace nimbex_cli
