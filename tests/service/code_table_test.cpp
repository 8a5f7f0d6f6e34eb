// Transaction codes and the converters that turn a terminal's request record
// into the request file's text lines.
#include "service/code_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "service/request_files.h"
#include "tests/common/test_support.h"

namespace qm::test {
namespace {

// The request file's body for a record, "" when refused.
std::string Body(uint8_t code, const std::vector<uint8_t>& data) {
    std::string out;
    if (!qm::ConvertRequest(code, data, &out))
        return "<refused>";
    return out;
}

TEST(GenericConverter, FieldsEndWithTheRecordAndBytesBeyondItAreDropped) {
    const struct {
        uint8_t code;
        std::string record, line;
    } cases[] = {
        {13, "01234567890123456789012345", "0123 45 67890 1234567 89012345\r\n"},
        {13, "0123456789", "0123 45 6789\r\n"},  // ends inside a field
        {13, "0123", "0123\r\n"},                // on a boundary: no trailing blank
        {13, "012345", "0123 45\r\n"},
        {13, "", "\r\n"},
        {6, "ABCDEFGHI", "ABCDEFG\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(Body(c.code, Text(c.record)), c.line) << c.record;
}

TEST(GenericConverter, ZeroOrFfAnywhereRefusesTheRecord) {
    std::vector<uint8_t> data = Text("0123456789012345678901");
    data[21] = 0xFF;
    EXPECT_EQ(Body(29, data), "<refused>");
    data[21] = '1';
    data[0] = 0x00;
    EXPECT_EQ(Body(29, data), "<refused>");
    // Even beyond the record's end.
    std::vector<uint8_t> longer = Text("ABCDEFG");
    longer.push_back(0xFF);
    EXPECT_EQ(Body(6, longer), "<refused>");
    // Other high bytes (GBK text) pass through.
    EXPECT_EQ(Body(6, {0xBE, 0xC6, 'a', 'b', 'c', 'd', 'e'}),
              "\xBE\xC6"
              "abcde\r\n");
}

// Codes sharing their field widths, with the line each makes of the same
// 70-byte record (the longest record is 66 bytes).
TEST(GenericConverter, EveryCodeCutsItsOwnWidths) {
    const std::string record =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789!#$%&()*";
    const struct {
        std::vector<uint8_t> codes;
        std::string line;
    } cases[] = {
        {{6, 7, 9, 40}, "ABCDEFG"},
        {{8, 10}, "ABCD EFGHIJK"},
        {{12}, "A BCDEFGH IJKLMNO PQRSTUVW"},
        {{13}, "ABCD EF GHIJK LMNOPQR STUVWXYZ"},
        {{14, 15}, "ABCDEFG HIJKLMN OPQRSTU VWXYZabc"},
        {{16}, "ABCDEFG HIJKLMN OPQRSTUV"},
        {{17}, "ABCDEFG HI JKLMN OPQRSTU VWXYZabc"},
        {{19, 24}, "ABCDEFG HIJKL MNOPQRS"},
        {{20}, "ABCDEFG HIJKL MNOP QRSTUVWXYZabcd efgh ijkl m nopqrstuvwxy z012345 6789!#$%"},
        {{21}, "ABCDEFG HIJKLMNOPQ RSTUVWXY Zabc defghijklm nopqrst uvwxyz01"},
        {{22, 26, 36, 38, 48}, "ABCDEFG HIJKLMN"},
        {{29}, "ABCDEFGHIJ KLMN OPQRSTUV"},
        {{30}, "ABCDEFGH IJKLMNOP QRSTUVW"},
        {{31}, "ABCDEFG HIJKL MNOPQRSTUV WXYZabcd efghijk lmnopqrs"},
        {{34}, "ABCDEFG HIJKLMNOPQRS"},
        {{39}, "ABCDEFG HIJKLMNOPQ RSTUVWX"},
        {{41}, "A BCDEFGH IJKLMNO"},
    };
    for (const auto& c : cases) {
        for (uint8_t code : c.codes)
            EXPECT_EQ(Body(code, Text(record)), c.line + "\r\n") << int{code};
    }
}

// Names of a few codes; a number without a name has no converter.
TEST(CodeTable, NamesOfTheCodes) {
    int named = 0;
    for (int code = 0; code <= 255; ++code) {
        const char* name = qm::CodeName(static_cast<uint8_t>(code));
        named += name ? 1 : 0;
        if (!name) {
            EXPECT_FALSE(qm::HasConverter(static_cast<uint8_t>(code))) << code;
        }
    }
    EXPECT_EQ(named, 30);
    EXPECT_STREQ(qm::CodeName(5), "KJ  ");
    EXPECT_FALSE(qm::HasConverter(5));
    EXPECT_STREQ(qm::CodeName(13), "KT  ");
    EXPECT_STREQ(qm::CodeName(20), "LSC ");
    EXPECT_STREQ(qm::CodeName(48), "SMCX");
    EXPECT_EQ(qm::CodeName(11), nullptr);
    EXPECT_EQ(qm::CodeName(255), nullptr);
}

TEST(CodeTable, FindCodeByNameIgnoresCase) {
    EXPECT_EQ(qm::FindCodeByName("kt  "), 13);
    EXPECT_EQ(qm::FindCodeByName("KT  "), 13);
    EXPECT_EQ(qm::FindCodeByName("Dl  "), 29);
    EXPECT_EQ(qm::FindCodeByName("lsc "), 20);
    EXPECT_EQ(qm::FindCodeByName("smcx"), 48);
    EXPECT_EQ(qm::FindCodeByName("KJ  "), 5);
    EXPECT_EQ(qm::FindCodeByName("UNKN"), 255);
    EXPECT_EQ(qm::FindCodeByName("KT\r\n"), 255);    // the blanks belong to the name
    EXPECT_EQ(qm::FindCodeByName("\0\0\0\0"), 255);  // empty entries match nothing
}

// Four bytes are a message reference, with no byte check; other lengths are
// three and twenty.
TEST(ShortMessageConverter, FourBytesAreAMessageReference) {
    EXPECT_EQ(Body(28, {0x31, 0x32, 0x33, 0x05}),
              std::string("\x31\x32\x33\x20\x30\x35\x0D\x0A", 8));
    EXPECT_EQ(Body(28, {0x31, 0x32, 0x33, 0x00}), "123 00\r\n");
    EXPECT_EQ(Body(28, Text("12345")), "123 45\r\n");
    EXPECT_EQ(Body(28, Text("123")), "123\r\n");
    EXPECT_EQ(Body(28, {0x31, 0x32, 0x33, 0x34, 0xFF}), "<refused>");
}

// Two 40-byte blocks of an order; the time bytes are raw numbers.
std::vector<uint8_t> TwoBlockOrder() {
    std::string b0 = "T001234ITEM10002NOTE-ABCDEFG01X" + std::string("\x17\x3B\x00", 3) + "WAITZ1";
    std::string b1 = "IGNOREDITEM20003NOTE-HIJKLMN02Y" + std::string("\x0C\x05\x09", 3) + "FASTZ2";
    EXPECT_EQ(b0.size(), 40u);
    EXPECT_EQ(b1.size(), 40u);
    return Text(b0 + b1);
}

TEST(RecordBlockConverter, OneLinePerBlockWithTheOrdersTable) {
    const std::string line0 = "T001234 ITEM1 0002 NOTE-ABCDEFG 01 X 23:59:00 WAIT Z1\r\n";
    const std::string line1 = "T001234 ITEM2 0003 NOTE-HIJKLMN 02 Y 12:05:09 FAST Z2\r\n";
    ASSERT_EQ(line0.size(), 55u);
    std::vector<uint8_t> order = TwoBlockOrder();
    EXPECT_EQ(Body(18, order), line0 + line1);
    // A partial block at the end is ignored.
    order.insert(order.end(), {'a', 'b', 'c', 'd', 'e'});
    EXPECT_EQ(Body(18, order), line0 + line1);
}

TEST(RecordBlockConverter, NoByteCheck) {
    std::vector<uint8_t> order = TwoBlockOrder();
    order.resize(40);
    order[30] = 0xFF;
    order[34] = 0x00;
    EXPECT_EQ(Body(18, order),
              std::string("T001234 ITEM1 0002 NOTE-ABCDEFG 01 \xFF 23:59:00 \0AIT Z1\r\n", 55));
}

TEST(RecordBlockConverter, LessThanOneBlockGivesHeaderOnly) {
    std::vector<uint8_t> order = TwoBlockOrder();
    order.resize(39);
    EXPECT_EQ(Body(18, order), "");
    EXPECT_EQ(qm::FormatRequestFile(7, 18, order), "DC   007\r\n");
}

TEST(RequestFileText, RefusedRecordLeavesTheHeaderAlone) {
    std::vector<uint8_t> data = Text("0123456789012345678901");
    data[5] = 0xFF;
    EXPECT_EQ(qm::FormatRequestFile(7, 29, data), "DL   007\r\n");
    EXPECT_EQ(qm::FormatRequestFile(255, 3, Text("anything")), "UNKN 255\r\n");
    EXPECT_EQ(qm::FormatRequestFile(0, 5, Text("anything")), "KJ   000\r\n");
}

}  // namespace
}  // namespace qm::test
