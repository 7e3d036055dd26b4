#include "platform/InstallationConfig.h"

#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>

namespace korvane {
namespace {

std::string exampleText() {
    std::ifstream in(KORVANE_EXAMPLE_CONFIG);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The installed example is refused until the site puts its secret in, and
// then names no key the loader does not know.
TEST(ExampleInstallationConfig, NeedsOnlyTheSiteSecret) {
    const std::string example = exampleText();
    ASSERT_FALSE(example.empty()) << "cannot read " << KORVANE_EXAMPLE_CONFIG;

    const InstallationConfigResult asShipped = parseInstallationConfig(example, "loader.conf");
    EXPECT_FALSE(asShipped.ok);
    EXPECT_NE(asShipped.error.find("\"challenge-secret\""), std::string::npos) << asShipped.error;

    const std::regex secretLine("^challenge-secret *=.*$", std::regex::multiline);
    const std::string filled =
        std::regex_replace(example, secretLine, "challenge-secret = ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456");
    const InstallationConfigResult withSecret = parseInstallationConfig(filled, "loader.conf");
    EXPECT_TRUE(withSecret.ok) << withSecret.error;
    EXPECT_TRUE(withSecret.warnings.empty()) << withSecret.warnings.front();
}

}  // namespace
}  // namespace korvane
