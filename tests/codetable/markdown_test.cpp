// The README's transaction-code table: rows made from the code table, and
// the README block found, compared and replaced between its markers.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tools/codetable/markdown.h"

namespace qm::test {
namespace {

using codetable::CodeTableMarkdown;
using codetable::FindBlock;
using codetable::FirstDifferentLine;
using codetable::ReplaceBlock;

TEST(CodeTableMarkdown, RowsFollowTheCodeTable) {
    const std::string table = CodeTableMarkdown();
    const char* const rows[] = {
        "| Code | Name | Request fields (bytes, in order) | Record bytes |\n|---|---|---|---|\n| 5 "
        "|",
        "\n| 13 | `KT  ` | 4, 2, 5, 7, 8 | 26 |\n| 14 | `HT  ` |",
        "\n| 29 | `DL  ` | 10, 4, 8 | 22 |\n",
        "\n| 5 | `KJ  ` | none: the manager answers a terminal's clock request itself | |\n",
        "\n| 28 | `DX  ` | 3, 20; or 4 bytes",
        "\n| 48 | `SMCX` | 7, 7 | 14 |\n",
    };
    for (const char* row : rows) EXPECT_NE(table.find(row), std::string::npos) << row;
    EXPECT_TRUE(table.ends_with("| 48 | `SMCX` | 7, 7 | 14 |\n"));
    EXPECT_EQ(table.find("\n| 11 |"), std::string::npos) << "11 has no name";
}

TEST(CodeTableMarkdown, BlockBetweenTheMarkers) {
    const struct {
        const char* readme;
        std::optional<std::string> block;
    } cases[] = {
        {"a\n<!-- codes begin -->\nX\nY\n<!-- codes end -->\nb\n", "X\nY\n"},
        {"<!-- codes begin -->\n<!-- codes end -->\n", ""},
        {"say <!-- codes begin -->\n<!-- codes begin -->\nX\n<!-- codes end -->\n", "X\n"},
        {"<!-- codes begin -->\nX\nsay <!-- codes end -->\n<!-- codes end -->\n",
         "X\nsay <!-- codes end -->\n"},
        {"<!-- codes end -->\n<!-- codes begin -->\nX\n", std::nullopt},
        {"<!-- codes begin -->\nX\n", std::nullopt},
        {"no markers\n", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto block = FindBlock(c.readme);
        EXPECT_EQ(block ? std::optional<std::string>(std::string(*block)) : std::nullopt, c.block)
            << c.readme;
    }
}

TEST(CodeTableMarkdown, ReplaceKeepsTheRestAndComparisonNamesTheLine) {
    const std::string readme = "a\n<!-- codes begin -->\nold\n<!-- codes end -->\nb\n";
    EXPECT_EQ(ReplaceBlock(readme, "N1\nN2\n"),
              "a\n<!-- codes begin -->\nN1\nN2\n<!-- codes end -->\nb\n");
    EXPECT_EQ(ReplaceBlock("none\n", "N\n"), std::nullopt);

    EXPECT_EQ(FirstDifferentLine("x\ny\n", "x\ny\n"), 0u);
    EXPECT_EQ(FirstDifferentLine("x\ny\n", "x\nz\n"), 2u);
    EXPECT_EQ(FirstDifferentLine("x\n", "x\ny\n"), 2u);
    EXPECT_EQ(FirstDifferentLine("x\ny\r\n", "x\ny\n"), 2u);
}

}  // namespace
}  // namespace qm::test
