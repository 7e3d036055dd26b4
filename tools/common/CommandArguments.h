#pragma once

#include <cstdlib>
#include <string>
#include <vector>

namespace korvane::tools {

// One to nine decimal digits: a number the tools' options take, never past a long.
inline bool isDecimalNumber(const std::string& text) {
    if (text.empty() || text.size() > 9) return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// Walks a tool's command line, option by option. The value readers take the
// argument after the current one and, when it is missing or wrong, leave the
// reason (naming the option) in `error`.
class CommandArguments {
public:
    CommandArguments(const std::vector<std::string>& args, std::string& error) : args_(args), error_(error) {}

    // Moves to the next argument; false past the last.
    bool next() { return ++at_ < args_.size(); }
    const std::string& current() const { return args_[at_]; }

    bool value(std::string& into) {
        if (at_ + 1 >= args_.size()) {
            error_ = current() + " needs a value";
            return false;
        }
        into = args_[++at_];
        return true;
    }

    template <typename Number>
    bool number(long low, long high, Number& into) {
        const std::string option = current();
        std::string text;
        if (!value(text)) return false;
        const long parsed = isDecimalNumber(text) ? std::atol(text.c_str()) : -1;
        if (parsed < low || parsed > high) {
            error_ = option + " takes a number from " + std::to_string(low) + " to " + std::to_string(high);
            return false;
        }
        into = static_cast<Number>(parsed);
        return true;
    }

private:
    const std::vector<std::string>& args_;
    std::string& error_;
    std::size_t at_ = static_cast<std::size_t>(-1);
};

}  // namespace korvane::tools
