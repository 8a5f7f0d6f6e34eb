// Transaction codes and the converters that turn a terminal's request record
// into the request file's text lines.
#include "service/code_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "service/request_files.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

// The request file's body for a record, "" when refused.
std::string Body(uint8_t code, const std::vector<uint8_t>& data) {
    std::string out;
    if (!qm::ConvertRequest(code, data, &out))
        return "<refused>";
    return out;
}

TEST(GenericConverter, FullRecordGivesEveryField) {
    EXPECT_EQ(Body(13, Bytes("01234567890123456789012345")), "0123 45 67890 1234567 89012345\r\n");
    EXPECT_EQ(Body(13, Bytes("01234567890123456789012345")).size(), 32u);
}

TEST(GenericConverter, ShortRecordEndsInsideAField) {
    EXPECT_EQ(Body(13, Bytes("0123456789")), "0123 45 6789\r\n");
}

TEST(GenericConverter, RecordEndingOnAFieldBoundaryHasNoTrailingBlank) {
    EXPECT_EQ(Body(13, Bytes("0123")), "0123\r\n");
    EXPECT_EQ(Body(13, Bytes("012345")), "0123 45\r\n");
    EXPECT_EQ(Body(13, {}), "\r\n");
}

TEST(GenericConverter, BytesBeyondTheRecordAreDropped) {
    EXPECT_EQ(Body(6, Bytes("ABCDEFGHI")), "ABCDEFG\r\n");
}

TEST(GenericConverter, ZeroOrFfAnywhereRefusesTheRecord) {
    std::vector<uint8_t> data = Bytes("0123456789012345678901");
    data[21] = 0xFF;
    EXPECT_EQ(Body(29, data), "<refused>");
    data[21] = '1';
    data[0] = 0x00;
    EXPECT_EQ(Body(29, data), "<refused>");
    // Even beyond the record's end.
    std::vector<uint8_t> longer = Bytes("ABCDEFG");
    longer.push_back(0xFF);
    EXPECT_EQ(Body(6, longer), "<refused>");
    // Other high bytes (GBK text) pass through.
    EXPECT_EQ(Body(6, {0xBE, 0xC6, 'a', 'b', 'c', 'd', 'e'}),
              "\xBE\xC6"
              "abcde\r\n");
}

TEST(GenericConverter, EveryCodeCutsItsOwnWidths) {
    // clang-format off
    const std::map<uint8_t, std::vector<size_t>> widths = {
        {6, {7}}, {7, {7}}, {8, {4, 7}}, {9, {7}}, {10, {4, 7}}, {12, {1, 7, 7, 8}},
        {13, {4, 2, 5, 7, 8}}, {14, {7, 7, 7, 8}}, {15, {7, 7, 7, 8}}, {16, {7, 7, 8}},
        {17, {7, 2, 5, 7, 8}}, {19, {7, 5, 7}}, {20, {7, 5, 4, 14, 4, 4, 1, 12, 7, 8}},
        {21, {7, 10, 8, 4, 10, 7, 8}}, {22, {7, 7}}, {24, {7, 5, 7}}, {26, {7, 7}},
        {28, {3, 20}}, {29, {10, 4, 8}}, {30, {8, 8, 7}}, {31, {7, 5, 10, 8, 7, 8}},
        {34, {7, 12}}, {36, {7, 7}}, {38, {7, 7}}, {39, {7, 10, 7}}, {40, {7}},
        {41, {1, 7, 7}}, {48, {7, 7}}};
    // clang-format on
    for (const auto& [code, w] : widths) {
        std::string record, expected;
        char next = 'A';
        for (size_t i = 0; i < w.size(); ++i) {
            const std::string field(w[i], next);
            next = next == 'Z' ? 'A' : static_cast<char>(next + 1);
            record += field;
            expected += field + (i + 1 < w.size() ? " " : "\r\n");
        }
        // Three more bytes than the record: they are dropped.
        EXPECT_EQ(Body(code, Bytes(record + "xyz")), expected) << "code " << int(code);
    }
}

TEST(CodeTable, NamesOfTheCodes) {
    const std::map<uint8_t, std::string> names = {
        {5, "KJ  "},  {6, "KXHZ"},  {7, "LBKX"},  {8, "THKX"},  {9, "YDHZ"},  {10, "THYD"},
        {12, "YDDD"}, {13, "KT  "}, {14, "HT  "}, {15, "BT  "}, {16, "CT  "}, {17, "XGTT"},
        {18, "DC  "}, {19, "GT  "}, {20, "LSC "}, {21, "TC  "}, {22, "ZZCC"}, {24, "CPCC"},
        {26, "ZDCX"}, {28, "DX  "}, {29, "DL  "}, {30, "XGMM"}, {31, "ZLQR"}, {34, "KHYQ"},
        {36, "DJZD"}, {38, "DXFD"}, {39, "CLCC"}, {40, "GQLB"}, {41, "SMZF"}, {48, "SMCX"}};
    for (int code = 0; code <= 255; ++code) {
        const uint8_t c = static_cast<uint8_t>(code);
        auto it = names.find(c);
        if (it == names.end()) {
            EXPECT_EQ(qm::CodeName(c), nullptr) << code;
            EXPECT_FALSE(qm::HasConverter(c)) << code;
            continue;
        }
        ASSERT_NE(qm::CodeName(c), nullptr) << code;
        EXPECT_EQ(std::string(qm::CodeName(c)), it->second) << code;
        EXPECT_EQ(qm::HasConverter(c), code != 5) << code;
    }
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

TEST(ShortMessageConverter, FourBytesAreAMessageReference) {
    EXPECT_EQ(Body(28, {0x31, 0x32, 0x33, 0x05}),
              std::string("\x31\x32\x33\x20\x30\x35\x0D\x0A", 8));
    // No byte check in this form.
    EXPECT_EQ(Body(28, {0x31, 0x32, 0x33, 0x00}), "123 00\r\n");
}

TEST(ShortMessageConverter, OtherLengthsAreThreeAndTwenty) {
    EXPECT_EQ(Body(28, Bytes("12345")), "123 45\r\n");
    EXPECT_EQ(Body(28, Bytes("123")), "123\r\n");
    EXPECT_EQ(Body(28, {0x31, 0x32, 0x33, 0x34, 0xFF}), "<refused>");
}

// Two 40-byte blocks of an order; the time bytes are raw numbers.
std::vector<uint8_t> TwoBlockOrder() {
    std::string b0 = "T001234ITEM10002NOTE-ABCDEFG01X" + std::string("\x17\x3B\x00", 3) + "WAITZ1";
    std::string b1 = "IGNOREDITEM20003NOTE-HIJKLMN02Y" + std::string("\x0C\x05\x09", 3) + "FASTZ2";
    EXPECT_EQ(b0.size(), 40u);
    EXPECT_EQ(b1.size(), 40u);
    return Bytes(b0 + b1);
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
    std::vector<uint8_t> data = Bytes("0123456789012345678901");
    data[5] = 0xFF;
    EXPECT_EQ(qm::FormatRequestFile(7, 29, data), "DL   007\r\n");
    EXPECT_EQ(qm::FormatRequestFile(255, 3, Bytes("anything")), "UNKN 255\r\n");
    EXPECT_EQ(qm::FormatRequestFile(0, 5, Bytes("anything")), "KJ   000\r\n");
}

}  // namespace
