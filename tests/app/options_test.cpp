// The options table and the manual page written from it.

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "app/ManPageText.h"
#include "app/Options.h"

namespace tq {
namespace {

TEST(OptionsTable, NamesAreUniqueAndWellFormed) {
    std::set<std::string_view> names;
    std::set<std::string_view> shortNames;
    for (const OptionRow& row : CommandLineOptions()) {
        SCOPED_TRACE(std::string(row.name));
        EXPECT_TRUE(names.insert(row.name).second) << "listed twice";
        if (!row.shortName.empty()) {
            EXPECT_TRUE(shortNames.insert(row.shortName).second) << "short name listed twice";
        }
        EXPECT_LE(row.shortName.size(), 1u);
        EXPECT_GE(row.name.size(), 2u);
        // Lower-case words joined by '-'; a word may hold digits (--no-vxi11), the name starts
        // with a letter.
        EXPECT_TRUE(std::islower(static_cast<unsigned char>(row.name.front())));
        for (char c : row.name)
            EXPECT_TRUE(std::islower(static_cast<unsigned char>(c)) ||
                        std::isdigit(static_cast<unsigned char>(c)) || c == '-')
                << c;
        for (char c : row.valueName)
            EXPECT_TRUE(std::isupper(static_cast<unsigned char>(c))) << "value names in capitals";
        ASSERT_FALSE(row.help.empty());
        EXPECT_EQ(row.help.back(), '.') << "help texts are sentences";
    }
    EXPECT_TRUE(names.contains("help"));
    EXPECT_TRUE(names.contains("version"));
}

TEST(OptionsTable, EachGroupIsOneRunInTheManualPagesOrder) {
    // The manual page opens a subsection where the group changes: a group split in two, or out
    // of order, would print its heading twice or in the wrong place.
    int last = -1;
    for (const OptionRow& row : CommandLineOptions()) {
        const int group = static_cast<int>(row.group);
        EXPECT_GE(group, last) << row.name << " is out of its group's run";
        last = group;
        EXPECT_FALSE(GroupTitle(row.group).empty());
    }
}

struct RoffRow {
    std::string text;
    std::string roff;
};

TEST(ManPage, RoffTextPrintsWhatItIsGiven) {
    const std::vector<RoffRow> rows{
        {"plain words", "plain words"},
        {"--simulate", "\\-\\-simulate"},
        {"a back\\slash", "a back\\eslash"},
        {".starts with a full stop", "\\&.starts with a full stop"},
        {"'quoted' at the start", "\\&'quoted' at the start"},
        {"inner . and ' stay", "inner . and ' stay"},
        {"*IDN?", "*IDN?"},
        {"", ""},
    };
    for (const RoffRow& row : rows)
        EXPECT_EQ(RoffText(row.text), row.roff) << row.text;
}

TEST(ManPage, EveryOptionHasATaggedParagraphAndEveryGroupOneHeading) {
    const std::string roff = RoffOptions();
    for (const OptionRow& row : CommandLineOptions()) {
        std::string names = "\\fB" + RoffText("--" + std::string(row.name)) + "\\fR";
        if (!row.shortName.empty())
            names = "\\fB\\-" + std::string(row.shortName) + "\\fR, " + names;
        if (!row.valueName.empty())
            names += " \\fI" + std::string(row.valueName) + "\\fR";
        EXPECT_NE(roff.find(".TP\n" + names + "\n" + RoffText(row.help) + "\n"), std::string::npos)
            << row.name;
    }
    for (OptionGroup group : {OptionGroup::Board, OptionGroup::Windows, OptionGroup::Remote,
                              OptionGroup::Information}) {
        const std::string heading = ".SS " + RoffText(GroupTitle(group)) + "\n";
        const size_t at = roff.find(heading);
        EXPECT_NE(at, std::string::npos) << heading;
        EXPECT_EQ(roff.find(heading, at + 1), std::string::npos) << "twice: " << heading;
    }
}

TEST(ManPage, TheMarkerLineBecomesTheOptions) {
    const std::string marker(kManPageOptionsMarker);
    std::string page;
    ASSERT_TRUE(FillManPage(".TH X 1\n.SH OPTIONS\n" + marker + "\n.SH EXIT STATUS\n", page));
    EXPECT_EQ(page, ".TH X 1\n.SH OPTIONS\n" + RoffOptions() + ".SH EXIT STATUS\n");
    // The last line without its newline, too.
    ASSERT_TRUE(FillManPage(".SH OPTIONS\n" + marker, page));
    EXPECT_EQ(page, ".SH OPTIONS\n" + RoffOptions());
    // The marker only as a whole line.
    EXPECT_FALSE(FillManPage(".SH OPTIONS\n" + marker + " and more\n", page));
    EXPECT_FALSE(FillManPage("", page));
}

}  // namespace
}  // namespace tq
