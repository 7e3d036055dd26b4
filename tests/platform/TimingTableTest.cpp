#include "platform/TimingTable.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(TimingTable, ScaleIsTakenOnlyWhenAboveZeroAndAtMostOne) {
    struct Case {
        const char* value;
        double scale;
        bool noticed;
    };
    const Case cases[] = {
        {nullptr, 1.0, false}, {"1", 1.0, false},  {"0.01", 0.01, true}, {"0.5", 0.5, true},
        {"0", 1.0, true},      {"-0.5", 1.0, true}, {"1.5", 1.0, true},  {"abc", 1.0, true},
        {"0.5x", 1.0, true},   {"", 1.0, true},     {"nan", 1.0, true},
    };
    for (const Case& c : cases) {
        const TimingTable table = TimingTable::fromValue(c.value);
        EXPECT_DOUBLE_EQ(table.scale(), c.scale) << (c.value ? c.value : "(unset)");
        EXPECT_EQ(!table.notice().empty(), c.noticed) << (c.value ? c.value : "(unset)");
    }
}

TEST(TimingTable, ScalesProcedureWaitsFromTheirOriginalValues) {
    const TimingTable table = TimingTable::fromValue("0.01");
    EXPECT_EQ(table.scaled(procedure_waits::kApplicationRestartFirstMs), 1200u);
    EXPECT_EQ(table.scaled(procedure_waits::kApplicationRestartRetryMs), 300u);
    EXPECT_EQ(TimingTable::fromValue(nullptr).scaled(120000), 120000u);
    EXPECT_NE(table.notice().find("0.01"), std::string::npos);
}

}  // namespace
}  // namespace korvane
