#include <gtest/gtest.h>

#include "ui/auxiliary/RoundedText.h"

#include "tests/support/RowNames.h"

namespace tq::testing {
namespace {

struct TextCase {
    double value;
    int decimals;
    const char* text;
};
void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.value << " to " << c.decimals;
}

class RoundedTextTable : public ::testing::TestWithParam<TextCase> {};

TEST_P(RoundedTextTable, ShortestFormOfTheRoundedValue) {
    EXPECT_EQ(RoundedDecimalText(GetParam().value, GetParam().decimals), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RoundedTextTable,
    ::testing::Values(TextCase{10.0, 5, "10"}, TextCase{-10.2564, 5, "-10.2564"},
                      TextCase{3.14159265, 5, "3.14159"}, TextCase{3.14159, 4, "3.1416"},
                      TextCase{2.5, 4, "2.5"}, TextCase{0.0, 4, "0"}, TextCase{-0.00001, 4, "0"},
                      TextCase{0.00001, 5, "0.00001"}, TextCase{0.125, 2, "0.12"},
                      TextCase{0.375, 2, "0.38"},  // ties to even
                      TextCase{-9.99996, 4, "-10"}),
    (tq::testing::NamedBy<&TextCase::value, &TextCase::decimals>{}));

}  // namespace
}  // namespace tq::testing
