// The reply file TXT/R<host>.txt: matched against the last request of the
// terminal it names, read in 20-byte slots, or as a logon verdict for code 29.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "service/qmsdk.h"
#include "service/request_files.h"
#include "tests/common/site_test.h"

namespace qm::test {
namespace {

constexpr uint8_t kUntouched = 0xEE;
constexpr size_t kBuffer = 5000;
constexpr size_t kGuard = 64;

class ReplyFileTest : public SiteTest {
  protected:
    void SetUp() override {
        SiteTest::SetUp();
        buffer_.assign(kBuffer + kGuard, kUntouched);
    }
    // A request from the terminal, so that a reply can match it.
    void Request(uint8_t host, uint8_t dcb, uint8_t code) {
        const std::vector<uint8_t> data = {'1'};
        ASSERT_TRUE(qm::WriteRequestFile(txt_, backEnd_, host, dcb, code, data));
        qm::WindowMessage m;
        ASSERT_TRUE(window_->GetMessage(&m, kWaitMs));
    }
    int Read(uint8_t host, size_t capacity = kBuffer) {
        result_ = qm::ReplyResult{};
        result_.code = 0x77;
        result_.dcbId = 0x77;
        return qm::ReadReplyFile(txt_, host, buffer_.data(), capacity, &result_);
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

TEST_F(ReplyFileTest, RefusalsLeaveTheBufferAloneAndSayWhy) {
    struct Asked {
        uint8_t host, dcb, code;
    };
    const struct {
        std::vector<Asked> requests;
        std::string file, content;
        ReplyRefusal refusal;
        uint8_t resultCode, resultDcb;  // 0x77: not set
        std::string logLine;
    } cases[] = {
        {{{2, 7, 3}},
         "R2.txt",
         "kt   007\r\nanswer\r\n",
         ReplyRefusal::kOtherCode,
         13,
         7,
         "(HostID 002  DCBID 007)Reply refused (KT  ): another code was asked last (UNKN)"},
        {{{2, 7, 13}},
         "R2.txt",
         "KT   008\r\nanswer\r\n",
         ReplyRefusal::kNoRequest,
         13,
         8,
         "(HostID 002  DCBID 008)Reply refused (KT  ): no request from that terminal"},
        // The same DCB id asked on another station: this station's file
        // answers nobody.
        {{{1, 7, 13}},
         "R2.txt",
         "KT   007\r\nanswer\r\n",
         ReplyRefusal::kNoRequest,
         13,
         7,
         "(HostID 002  DCBID 007)Reply refused (KT  ): no request from that terminal"},
        {{{2, 7, 28}},
         "R2.txt",
         "DX   007\r\nanswer\r\n",
         ReplyRefusal::kShortMessage,
         28,
         7,
         "(HostID 002  DCBID 007)Reply refused (DX  ): short messages go through DX.txt"},
        {{{2, 7, 13}},
         "R3.txt",
         "KT   007\r\nanswer\r\n",
         ReplyRefusal::kFileMissing,
         0x77,
         0x77,
         "(HostID 002  DCBID 255)Reply refused: file missing"},
        {{{2, 7, 13}},
         "R2.txt",
         "ZZZZ 007\r\nanswer\r\n",
         ReplyRefusal::kUnreadableHeader,
         0x77,
         0x77,
         "(HostID 002  DCBID 255)Reply refused: unreadable header"},
        {{{2, 7, 13}},
         "R2.txt",
         "",
         ReplyRefusal::kUnreadableHeader,
         0x77,
         0x77,
         "(HostID 002  DCBID 255)Reply refused: unreadable header"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(Txt(""));
        std::filesystem::create_directory(Txt(""));
        std::filesystem::remove(Cwd("QMLog.txt"));
        ResetLastRequests();
        for (const Asked& a : c.requests) Request(a.host, a.dcb, a.code);
        ASSERT_TRUE(WriteBytes(Txt(c.file), c.content));
        EXPECT_EQ(Read(2), 0) << c.content;
        EXPECT_EQ(result_.length, 0u);
        EXPECT_EQ(result_.refusal, c.refusal) << c.content;
        EXPECT_EQ(result_.code, c.resultCode) << c.content;
        EXPECT_EQ(result_.dcbId, c.resultDcb) << c.content;
        EXPECT_TRUE(UntouchedFrom(0, buffer_.size())) << c.content;
        EXPECT_EQ(CountLogLines(c.logLine), 1) << c.logLine;
    }
}

// Every terminal of every station is answered on its own: a reply matches
// the most recent request of the terminal it names, whoever asked since.
TEST_F(ReplyFileTest, EachTerminalsReplyMatchesItsOwnLastRequest) {
    Request(1, 7, 13);
    Request(2, 12, 6);
    Request(1, 8, 29);
    ASSERT_TRUE(WriteBytes(Txt("R1.txt"), "KT   007\r\nTABLE 12 OPEN\r\n"));
    ASSERT_EQ(Read(1), 1);
    EXPECT_EQ(result_.code, 13);
    EXPECT_EQ(result_.dcbId, 7);
    EXPECT_EQ(result_.refusal, ReplyRefusal::kNone);
    ASSERT_TRUE(WriteBytes(Txt("R2.txt"), "KXHZ 012\r\nOK\r\n"));
    ASSERT_EQ(Read(2), 1);
    EXPECT_EQ(result_.dcbId, 12);
    ASSERT_TRUE(WriteBytes(Txt("R1.txt"), "DL   008\r\n1 Bob\r\n"));
    ASSERT_EQ(Read(1), 1);
    EXPECT_EQ(result_.code, 29);
    EXPECT_EQ(result_.dcbId, 8);

    // Terminal 7's next request replaces its own memory only.
    Request(1, 7, 18);
    ASSERT_TRUE(WriteBytes(Txt("R1.txt"), "KT   007\r\nlate\r\n"));
    EXPECT_EQ(Read(1), 0);
    EXPECT_EQ(result_.refusal, ReplyRefusal::kOtherCode);
    EXPECT_EQ(qm::LastRequester(1), 7);
    EXPECT_EQ(qm::LastRequestCode(1, 8), 29);

    // The service's start forgets every request.
    ResetLastRequests();
    ASSERT_TRUE(WriteBytes(Txt("R1.txt"), "DL   008\r\n1 Bob\r\n"));
    EXPECT_EQ(Read(1), 0);
    EXPECT_EQ(result_.refusal, ReplyRefusal::kNoRequest);
}

// '~' in an image stands for a byte left untouched.
TEST_F(ReplyFileTest, BodyLinesFillWhole20ByteSlots) {
    const std::string t17(17, '~'), a20(20, 'a'), w259(259, 'w'), w41(41, 'w');
    const struct {
        uint8_t code;
        std::string content;
        uint32_t length;
        std::string image;
    } cases[] = {
        {13, "kt   007\r\nanswer\r\n", 20, "answer"},
        // An empty line takes no slot, a 25-byte line two.
        {13, "KT   007\r\nabc\r\n\r\nABCDEFGHIJKLMNOPQRSTUVWXY\n", 60,
         "abc" + t17 + "ABCDEFGHIJKLMNOPQRSTUVWXY"},
        {13, "KT   007\r\n" + a20 + "\r\nb\r\n", 40, a20 + "b"},
        // A long line is read in parts of 259 bytes.
        {13, "KT   007\r\n" + std::string(300, 'w') + "\r\n", 320, w259 + "~" + w41},
        // A header of 49 characters or more goes on as the first line.
        {13, "KT   007" + std::string(41, '-') + "rest\r\nbody\r\n", 40,
         "rest" + std::string(16, '~') + "body"},
        // A logon verdict: 0x01 and the name, or the reason, in 11 bytes.
        {29, "DL   007\r\n1 Alice\r\n", 11,
         "\x01"
         "Alice"},
        {29, "dl   007\r\n0 \twrong\r\nmore\r\n", 11, "wrong"},
    };
    for (const auto& c : cases) {
        buffer_.assign(kBuffer + kGuard, kUntouched);
        Request(2, 7, c.code);
        ASSERT_TRUE(WriteBytes(Txt("r2.TXT"), c.content));
        ASSERT_EQ(Read(2), 1) << c.content;
        EXPECT_EQ(result_.code, c.code);
        EXPECT_EQ(result_.dcbId, 7);
        EXPECT_EQ(result_.length, c.length) << c.content;
        std::string image(buffer_.begin(), buffer_.begin() + static_cast<long>(c.image.size()));
        for (size_t i = 0; i < image.size(); ++i)
            if (buffer_[i] == kUntouched)
                image[i] = '~';
        EXPECT_EQ(image, c.image) << c.content;
        EXPECT_TRUE(UntouchedFrom(c.image.size(), buffer_.size())) << c.content;
    }
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

    // A logon verdict in a buffer shorter than its 11 bytes reports only
    // what the buffer holds.
    Request(2, 7, 29);
    ASSERT_TRUE(WriteBytes(Txt("R2.txt"), "DL   007\r\n1 Alice\r\n"));
    ASSERT_EQ(Read(2, 4), 1);
    EXPECT_EQ(result_.length, 4u);
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
}  // namespace qm::test
