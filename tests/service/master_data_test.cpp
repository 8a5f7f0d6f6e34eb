// The records of the master-data files and their fitting into a frame.
#include "service/master_data.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/common/test_support.h"

namespace qm::service {
namespace {

using test::Text;

MasterDataReader ReaderOf(const std::string& bytes) {
    FileHandle f(std::tmpfile());
    std::fwrite(bytes.data(), 1, bytes.size(), f.get());
    std::rewind(f.get());
    return MasterDataReader(std::move(f));
}

std::string TextOf(const MasterDataRecord& r) {
    return {r.text.begin(), r.text.begin() + static_cast<std::ptrdiff_t>(r.length)};
}

// "ab" and 149 two-byte characters: 300 bytes, of which 242 fit a frame.
std::string LongGbkLine() {
    std::string s = "ab";
    for (int i = 0; i < 149; ++i) s += "\xB2\xCB";
    return s;
}

TEST(MasterData, GbkFitEndsOnAWholeCharacter) {
    const struct {
        std::string text;
        size_t limit, fit;
    } cases[] = {
        {"abcdef", 4, 4},           {"abc", 8, 3},
        {"ab\xB2\xCB", 3, 2},        // a character across the limit
        {"a\x81\x41\xB2", 4, 3},     // a lead byte last; trail bytes may look like ASCII
        {"\x81\x81\x81\x81", 3, 2},  // a trail byte that could also lead
    };
    for (const auto& c : cases) EXPECT_EQ(GbkFit(Text(c.text), c.limit), c.fit) << c.text;
}

TEST(MasterDataReader, RecordsEndAtTheFirstEmptyLine) {
    const std::string gbk = LongGbkLine();
    const struct {
        std::string file;
        std::vector<std::string> records;
    } cases[] = {
        {"one\r\ntwo\r\n\r\nthree\r\n", {"one", "two"}},
        {"one\ntwo", {"one", "two"}},
        {"\r\nthree\r\n", {}},
        {std::string("a\0b\r\n\0c\r\n", 9), {"a"}},
        {"", {}},
        {"x\xFFy\r\n", {"x?y"}},
        {gbk + "\r\nnext\r\n", {gbk.substr(0, 242), "next"}},
    };
    for (const auto& c : cases) {
        MasterDataReader reader = ReaderOf(c.file);
        std::vector<std::string> got;
        while (auto r = reader.Next()) got.push_back(TextOf(*r));
        EXPECT_EQ(got, c.records) << c.file;
        EXPECT_FALSE(reader.Next());
    }
}

TEST(MasterDataReader, FlagsWhatItRepaired) {
    MasterDataReader reader = ReaderOf(LongGbkLine() + "\r\nx\xFFy\r\nplain\r\n");
    const auto cut = reader.Next(), replaced = reader.Next(), plain = reader.Next();
    ASSERT_TRUE(cut && replaced && plain);
    EXPECT_TRUE(cut->cut && !cut->replaced);
    EXPECT_TRUE(!replaced->cut && replaced->replaced);
    EXPECT_TRUE(!plain->cut && !plain->replaced);
}

TEST(MasterDataReader, MissingFileGivesAnUnopenedReader) {
    test::TempDir dir;
    MasterDataReader reader = OpenMasterData(dir.path(), 0);
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_FALSE(reader.Next());
}

}  // namespace
}  // namespace qm::service
