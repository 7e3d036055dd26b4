#include "tests/support/ChildProcess.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace korvane {
namespace {

// What a manual page promises about its program: the options named in its
// SYNOPSIS, COMMANDS and OPTIONS sections, the commands its COMMANDS section
// describes (the first word of each item), and the sections it has.
struct ManualPage {
    std::set<std::string> options;
    std::set<std::string> commands;
    std::set<std::string> sections;
};

// A roff line as a reader sees it, for the escapes the pages use: "\-" is a
// hyphen, "\(dq" a double quote, font changes and "\&", "\c" print nothing.
std::string plainText(const std::string& line) {
    std::string text;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '\\' || i + 1 == line.size()) {
            text += line[i];
            continue;
        }
        const char escape = line[++i];
        if (escape == '-' || escape == 'e') {
            text += escape == '-' ? '-' : '\\';
        } else if (escape == 'f') {
            ++i;  // \fB, \fI, \fR, \fP
        } else if (escape == '(') {
            if (line.compare(i + 1, 2, "dq") == 0) text += '"';
            i += 2;
        }
    }
    return text;
}

// Every "--word" token, wherever it stands in the text.
std::set<std::string> optionNames(const std::string& text) {
    static const std::regex option("(^|[^A-Za-z0-9_-])(--[a-z0-9][a-z0-9-]*)");
    std::set<std::string> names;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
        names.insert((*it)[2].str());
    return names;
}

// The first word of a macro line's arguments, quotes taken away: ".BI "load --model " X" gives "load".
std::string firstWord(const std::string& macroLine) {
    std::string arguments = macroLine.substr(std::min(macroLine.find(' '), macroLine.size()));
    std::erase(arguments, '"');
    std::istringstream words(arguments);
    std::string word;
    words >> word;
    return word;
}

ManualPage readManualPage(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << "cannot read " << path;
    ManualPage page;
    std::string section, line, promised;
    bool itemTag = false;
    while (std::getline(in, line)) {
        line = plainText(line);
        if (line.rfind(".SH ", 0) == 0) {
            section = line.substr(4);
            std::erase(section, '"');
            page.sections.insert(section);
            continue;
        }
        if (section != "SYNOPSIS" && section != "COMMANDS" && section != "OPTIONS") continue;
        promised += line + "\n";
        if (section == "COMMANDS" && itemTag) page.commands.insert(firstWord(line));
        itemTag = line.rfind(".TP", 0) == 0;
    }
    page.options = optionNames(promised);
    return page;
}

// The commands a help text lists as "  PROGRAM COMMAND ..." (or "Usage: PROGRAM COMMAND ...").
std::set<std::string> helpCommands(const std::string& help, const std::string& program) {
    const std::regex command("^(Usage:)? +" + program + " ([a-z][a-z0-9-]*)");
    std::set<std::string> names;
    std::istringstream lines(help);
    std::string line;
    std::smatch match;
    while (std::getline(lines, line))
        if (std::regex_search(line, match, command)) names.insert(match[2].str());
    return names;
}

// "a, b, c" for what `from` has and `other` lacks; empty when nothing.
std::string lacking(const std::set<std::string>& from, const std::set<std::string>& other) {
    std::string list;
    for (const std::string& name : from)
        if (other.count(name) == 0) list += (list.empty() ? "" : ", ") + name;
    return list;
}

struct ProgramPage {
    std::string program;
    std::string path;
};

std::vector<ProgramPage> programPages() {
    std::vector<ProgramPage> pages = {
        {"korvane-load", KORVANE_LOAD_PATH},
        {"korvane-load-server", KORVANE_LOAD_SERVER_PATH},
        {"korvane-pad-sim", KORVANE_PAD_SIM_PATH},
        {"korvane-bundle", KORVANE_BUNDLE_PATH},
    };
#ifdef KORVANE_FIELD_LOADER_PATH
    pages.push_back({"korvane-field-loader", KORVANE_FIELD_LOADER_PATH});
#endif
    return pages;
}

// Failures name the program, not the bytes of the case.
void PrintTo(const ProgramPage& page, std::ostream* out) { *out << page.program; }

class ManualPageTest : public ::testing::TestWithParam<ProgramPage> {};

// Options are added to the programs in parallel with the pages; this names
// exactly what a page must gain or lose to match its program's --help.
TEST_P(ManualPageTest, DocumentsWhatTheHelpLists) {
    const ProgramPage& program = GetParam();
    const std::string pagePath = std::string(KORVANE_MAN_DIR) + "/" + program.program + ".1";
    const ManualPage page = readManualPage(pagePath);

    test::ChildProcess::Options options;
    // The desktop program answers --help before it would need a display.
    options.env["QT_QPA_PLATFORM"] = std::nullopt;
    options.env["DISPLAY"] = std::nullopt;
    options.env["WAYLAND_DISPLAY"] = std::nullopt;
    test::ChildProcess child(program.path, {"--help"}, options);
    ASSERT_EQ(child.waitForExit(20000), 0) << program.program << " --help: " << child.standardError();
    const std::string help = child.standardOutput();
    std::set<std::string> helpOptions = optionNames(help);
    helpOptions.insert("--help");  // answered just now, listed or not

    EXPECT_EQ(lacking(helpOptions, page.options), "")
        << program.program << " --help lists options that " << pagePath
        << " does not document: add them to its OPTIONS section (and to SYNOPSIS or COMMANDS where they belong)";
    EXPECT_EQ(lacking(page.options, helpOptions), "")
        << pagePath << " documents options that " << program.program
        << " --help does not list: remove them from the page, or add them to the program's help";

    const std::set<std::string> helpCommandNames = helpCommands(help, program.program);
    EXPECT_EQ(lacking(helpCommandNames, page.commands), "")
        << program.program << " --help lists commands that " << pagePath
        << " does not describe: add an item for each to its COMMANDS section";
    EXPECT_EQ(lacking(page.commands, helpCommandNames), "")
        << pagePath << " describes commands that " << program.program << " --help does not list";

    const std::set<std::string> required = {"NAME",        "SYNOPSIS", "DESCRIPTION", "OPTIONS", "ENVIRONMENT",
                                            "FILES",       "EXIT STATUS", "EXAMPLES", "SEE ALSO"};
    EXPECT_EQ(lacking(required, page.sections), "") << pagePath << " lacks these sections";
}

INSTANTIATE_TEST_SUITE_P(Programs, ManualPageTest, ::testing::ValuesIn(programPages()),
                         [](const ::testing::TestParamInfo<ProgramPage>& param) {
                             std::string name = param.param.program;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
}  // namespace korvane
