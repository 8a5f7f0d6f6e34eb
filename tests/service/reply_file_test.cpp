// The reply file TXT/R<host>.txt: matched against the last request, read in
// 20-byte slots, or as a logon verdict for code 29.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "service/qmsdk.h"
#include "service/request_files.h"
#include "tests/service/service_test_fixture.h"

namespace {

using qm::test::WriteBytes;
using qmtest::ServiceTest;

constexpr uint8_t kUntouched = 0xEE;
constexpr size_t kBuffer = 5000;
constexpr size_t kGuard = 64;

class ReplyFileTest : public ServiceTest {
  protected:
    void SetUp() override {
        ServiceTest::SetUp();
        buffer_.assign(kBuffer + kGuard, kUntouched);
    }
    // A request from the terminal, so that a reply can match it.
    void Request(uint8_t host, uint8_t dcb, uint8_t code) {
        const std::vector<uint8_t> data = {'1'};
        ASSERT_TRUE(qm::WriteRequestFile(txt_, backEnd_, host, dcb, code, data));
        qm::WindowMessage m;
        ASSERT_TRUE(window_->GetMessage(&m, kWaitMs));
    }
    int Read(uint8_t host) {
        result_ = qm::ReplyResult{};
        result_.code = 0x77;
        result_.dcbId = 0x77;
        return qm::ReadReplyFile(txt_, host, buffer_.data(), kBuffer, &result_);
    }
    std::string Data(size_t from, size_t n) const {
        return std::string(buffer_.begin() + static_cast<long>(from),
                           buffer_.begin() + static_cast<long>(from + n));
    }
    bool UntouchedFrom(size_t from, size_t to) const {
        for (size_t i = from; i < to; ++i)
            if (buffer_[i] != kUntouched)
                return false;
        return true;
    }

    std::vector<uint8_t> buffer_;
    qm::ReplyResult result_;
};

TEST_F(ReplyFileTest, RepliesOnlyToTheCodeAskedFor) {
    Request(2, 7, 3);
    ASSERT_TRUE(WriteBytes(Txt("R2.txt"), "kt   007\r\nanswer\r\n"));
    EXPECT_EQ(Read(2), 0);
    EXPECT_EQ(result_.length, 0u);
    EXPECT_EQ(result_.code, 0x77);
    EXPECT_TRUE(UntouchedFrom(0, buffer_.size()));

    Request(2, 7, 13);
    ASSERT_EQ(Read(2), 1);
    EXPECT_EQ(result_.code, 13);
    EXPECT_EQ(result_.dcbId, 7);
    EXPECT_EQ(result_.length, 20u);
    EXPECT_EQ(Data(0, 6), "answer");
}

TEST_F(ReplyFileTest, OtherTerminalIsRefusedAfterTheCodeIsSet) {
    Request(2, 7, 13);
    ASSERT_TRUE(WriteBytes(Txt("R2.txt"), "KT   008\r\nanswer\r\n"));
    EXPECT_EQ(Read(2), 0);
    EXPECT_EQ(result_.length, 0u);
    EXPECT_EQ(result_.code, 13);
    EXPECT_EQ(result_.dcbId, 0x77);
    EXPECT_TRUE(UntouchedFrom(0, buffer_.size()));
}

TEST_F(ReplyFileTest, FileNameLetterCaseDoesNotMatter) {
    Request(4, 7, 13);
    ASSERT_TRUE(WriteBytes(Txt("r4.TXT"), "KT   007\r\nanswer\r\n"));
    ASSERT_EQ(Read(4), 1);
    EXPECT_EQ(Data(0, 6), "answer");
}

TEST_F(ReplyFileTest, MissingFileIsRefused) {
    Request(2, 7, 13);
    EXPECT_EQ(Read(3), 0);
    EXPECT_EQ(result_.length, 0u);
}

TEST_F(ReplyFileTest, LinesTakeWhole20ByteSlots) {
    Request(2, 7, 13);
    const std::string longLine = "ABCDEFGHIJKLMNOPQRSTUVWXY";  // 25 bytes: two slots
    ASSERT_TRUE(WriteBytes(Txt("R2.txt"), "KT   007\r\nabc\r\n\r\n" + longLine + "\n"));
    ASSERT_EQ(Read(2), 1);
    EXPECT_EQ(result_.length, 60u);
    EXPECT_EQ(Data(0, 3), "abc");
    EXPECT_TRUE(UntouchedFrom(3, 20));
    EXPECT_EQ(Data(20, 25), longLine);
    EXPECT_TRUE(UntouchedFrom(45, buffer_.size()));
}

TEST_F(ReplyFileTest, LineOfExactly20BytesTakesOneSlot) {
    Request(2, 7, 13);
    ASSERT_TRUE(WriteBytes(Txt("R2.txt"), "KT   007\r\n" + std::string(20, 'a') + "\r\nb\r\n"));
    ASSERT_EQ(Read(2), 1);
    EXPECT_EQ(result_.length, 40u);
    EXPECT_EQ(Data(0, 21), std::string(20, 'a') + "b");
}

TEST_F(ReplyFileTest, LongBodyLineIsReadIn259ByteParts) {
    Request(2, 7, 13);
    ASSERT_TRUE(WriteBytes(Txt("R2.txt"), "KT   007\r\n" + std::string(300, 'w') + "\r\n"));
    ASSERT_EQ(Read(2), 1);
    EXPECT_EQ(result_.length, 260u + 60u);  // 259 bytes, then 41
    EXPECT_EQ(Data(0, 259), std::string(259, 'w'));
    EXPECT_EQ(buffer_[259], kUntouched);
    EXPECT_EQ(Data(260, 41), std::string(41, 'w'));
    EXPECT_TRUE(UntouchedFrom(301, buffer_.size()));
}

TEST_F(ReplyFileTest, HeaderBeyond49CharactersGoesOnAsTheFirstLine) {
    Request(2, 7, 13);
    const std::string header = "KT   007" + std::string(41, '-');  // 49 characters
    ASSERT_TRUE(WriteBytes(Txt("R2.txt"), header + "rest\r\nbody\r\n"));
    ASSERT_EQ(Read(2), 1);
    EXPECT_EQ(result_.length, 40u);
    EXPECT_EQ(Data(0, 4), "rest");
    EXPECT_EQ(Data(20, 4), "body");
}

TEST_F(ReplyFileTest, LogonVerdictAccepted) {
    Request(2, 7, 29);
    ASSERT_TRUE(WriteBytes(Txt("R2.txt"), "DL   007\r\n1 Alice\r\n"));
    ASSERT_EQ(Read(2), 1);
    EXPECT_EQ(result_.code, 29);
    EXPECT_EQ(result_.length, 11u);
    EXPECT_EQ(Data(0, 6),
              "\x01"
              "Alice");
    EXPECT_TRUE(UntouchedFrom(6, buffer_.size()));
}

TEST_F(ReplyFileTest, LogonVerdictRefused) {
    Request(2, 7, 29);
    ASSERT_TRUE(WriteBytes(Txt("R2.txt"), "dl   007\r\n0 \twrong\r\nmore\r\n"));
    ASSERT_EQ(Read(2), 1);
    EXPECT_EQ(result_.length, 11u);
    EXPECT_EQ(Data(0, 5), "wrong");
    EXPECT_TRUE(UntouchedFrom(5, buffer_.size()));
}

TEST_F(ReplyFileTest, ShortMessageCodeIsNeverAnswered) {
    Request(2, 7, 28);
    ASSERT_TRUE(WriteBytes(Txt("R2.txt"), "DX   007\r\nanswer\r\n"));
    EXPECT_EQ(Read(2), 0);
    EXPECT_EQ(result_.code, 0x77);
    EXPECT_TRUE(UntouchedFrom(0, buffer_.size()));
}

TEST_F(ReplyFileTest, OnlyTheLatestRequestCanBeAnswered) {
    Request(1, 7, 13);
    Request(2, 9, 13);
    ASSERT_TRUE(WriteBytes(Txt("R1.txt"), "KT   007\r\nfirst\r\n"));
    ASSERT_TRUE(WriteBytes(Txt("R2.txt"), "KT   009\r\nsecond\r\n"));
    EXPECT_EQ(Read(1), 0);
    ASSERT_EQ(Read(2), 1);
    EXPECT_EQ(result_.dcbId, 9);
    EXPECT_EQ(Data(0, 6), "second");
}

TEST_F(ReplyFileTest, ReplyStopsAtTheBufferEnd) {
    Request(2, 7, 13);
    std::string body;
    for (int i = 0; i < 300; ++i) body += std::string(45, static_cast<char>('a' + i % 26)) + "\r\n";
    ASSERT_TRUE(WriteBytes(Txt("R2.txt"), "KT   007\r\n" + body));
    ASSERT_EQ(Read(2), 1);
    // 83 lines of three slots fill 4980 bytes; the 84th would not fit.
    EXPECT_EQ(result_.length, 4980u);
    EXPECT_TRUE(UntouchedFrom(kBuffer, buffer_.size()));
}

TEST_F(ReplyFileTest, ExportedReaderFillsExactly5000Bytes) {
    Request(2, 7, 13);
    std::string body;
    for (int i = 0; i < 300; ++i) body += std::string(20, static_cast<char>('a' + i % 26)) + "\r\n";
    ASSERT_TRUE(WriteBytes(Txt("R2.txt"), "KT   007\r\n" + body));
    uint8_t code = 0, dcb = 0;
    uint32_t length = 0;
    ASSERT_EQ(SDKGetRxFile(2, buffer_.data(), &code, &dcb, &length), 1);
    EXPECT_EQ(code, 13);
    EXPECT_EQ(dcb, 7);
    EXPECT_EQ(length, 5000u);
    EXPECT_EQ(buffer_[kBuffer - 1], 'a' + 249 % 26);
    EXPECT_TRUE(UntouchedFrom(kBuffer, buffer_.size()));
}

}  // namespace
