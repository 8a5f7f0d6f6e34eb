// The request file TXT/T<host>.txt and the notice that announces it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "service/qmsdk.h"
#include "service/request_files.h"
#include "tests/common/site_test.h"

namespace qm::test {
namespace {

class RequestFileTest : public SiteTest {
  protected:
    bool Write(uint8_t host, uint8_t dcb, uint8_t code, const std::string& data) {
        return qm::WriteRequestFile(txt_, backEnd_, host, dcb, code, Text(data));
    }
    long FilesInTxt() const {
        const std::filesystem::directory_iterator all(txt_);
        return std::distance(begin(all), end(all));
    }
    // Nothing may be queued: posts within the process land at once.
    void ExpectNoNotice() {
        qm::WindowMessage m;
        EXPECT_FALSE(window_->PeekMessage(&m)) << "unexpected message " << m.message;
    }
};

TEST_F(RequestFileTest, HeaderThenBodyThenNotice) {
    ASSERT_TRUE(Write(2, 7, 13, "01234567890123456789012345"));
    EXPECT_EQ(ReadBytes(Txt("T2.txt")), "KT   007\r\n0123 45 67890 1234567 89012345\r\n");

    qm::WindowMessage m;
    ASSERT_TRUE(window_->GetMessage(&m, kWaitMs));
    EXPECT_EQ(m.message, static_cast<uint32_t>(WM_POS_NOTICE));
    EXPECT_EQ(m.wParam, 0u);
    EXPECT_EQ(m.lParam, 2);
    ExpectNoNotice();

    EXPECT_EQ(qm::LastRequestCode(2, 7), 13);
    EXPECT_EQ(qm::LastRequester(2), 7);
}

TEST_F(RequestFileTest, RefusedRecordIsStillAnnounced) {
    ASSERT_TRUE(Write(8, 123, 29, std::string("ABCDEFGHIJ\xFF", 11)));
    EXPECT_EQ(ReadBytes(Txt("T8.txt")), "DL   123\r\n");
    qm::WindowMessage m;
    ASSERT_TRUE(window_->GetMessage(&m, kWaitMs));
    EXPECT_EQ(m.lParam, 8);
}

TEST_F(RequestFileTest, NewRequestReplacesTheFileOfItsStationOnly) {
    ASSERT_TRUE(Write(1, 5, 20, std::string(66, 'L')));
    ASSERT_TRUE(Write(2, 6, 6, "ABCDEFG"));
    ASSERT_TRUE(Write(1, 9, 40, "ZZ"));
    EXPECT_EQ(ReadBytes(Txt("T1.txt")), "GQLB 009\r\nZZ\r\n");
    EXPECT_EQ(ReadBytes(Txt("T2.txt")), "KXHZ 006\r\nABCDEFG\r\n");
    EXPECT_EQ(FilesInTxt(), 2) << "replaced files are gone";
}

TEST_F(RequestFileTest, LongOrderIsWrittenWhole) {
    // 125 blocks: far more text than the record's own length.
    std::string order;
    for (int i = 0; i < 125; ++i)
        order += "T000001" + std::string(33, static_cast<char>('a' + i % 26));
    ASSERT_TRUE(Write(3, 4, 18, order));
    auto file = ReadBytes(Txt("T3.txt"));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), 10u + 125u * 55u);
}

TEST_F(RequestFileTest, UnwritableFilePostsNothingAndKeepsTheMemory) {
    ASSERT_TRUE(Write(2, 7, 13, "0123"));
    qm::WindowMessage m;
    ASSERT_TRUE(window_->GetMessage(&m, kWaitMs));

    // A folder where the file should be: it cannot be opened, not even by root.
    ASSERT_EQ(mkdir(Txt("T4.txt").c_str(), 0755), 0);
    EXPECT_FALSE(Write(4, 9, 29, "X"));
    ExpectNoNotice();
    EXPECT_EQ(FilesInTxt(), 2) << "the unfinished file is removed";
    EXPECT_EQ(qm::LastRequestCode(4, 9), std::nullopt);
    EXPECT_EQ(qm::LastRequester(4), std::nullopt);
}

TEST_F(RequestFileTest, FileCutShortPostsNothingAndKeepsTheOldFile) {
    ASSERT_TRUE(Write(2, 7, 13, "0123"));
    qm::WindowMessage m;
    ASSERT_TRUE(window_->GetMessage(&m, kWaitMs));

    ASSERT_TRUE(WriteBytes(Txt("T5.txt"), "earlier request"));
    bool written = true;
    WithFileSizeLimit(5, [&] { written = Write(5, 9, 13, "0123"); });
    EXPECT_FALSE(written);
    ExpectNoNotice();
    EXPECT_EQ(ReadBytes(Txt("T5.txt")), "earlier request");
    EXPECT_EQ(FilesInTxt(), 2) << "the unfinished file is removed";
    EXPECT_EQ(qm::LastRequestCode(5, 9), std::nullopt);
    EXPECT_EQ(qm::LastRequester(5), std::nullopt);
}

// A short message that does not fit leaves no piece behind for the next one
// to merge into.
TEST_F(RequestFileTest, ShortMessageCutShortLeavesTheFileAsItWas) {
    uint8_t first[] = "first", second[] = "second message", third[] = "third";
    SDKSetSMS(1, 12, first);
    WithFileSizeLimit(13, [&] { SDKSetSMS(2, 12, second); });
    SDKSetSMS(3, 12, third);
    EXPECT_EQ(ReadBytes(Txt("Swap/DX_12")), std::string("\x01"
                                                        "first\r\n\x03"
                                                        "third\r\n"));
}

TEST_F(RequestFileTest, ExportedWriterUsesTheProgramFolder) {
    uint8_t data[] = {'A', 'B', 'C', 'D', 'E', 'F', 'G'};
    SDKSaveTxFile(reinterpret_cast<void*>(static_cast<uintptr_t>(backEnd_)), 6, 42, 7, sizeof data,
                  data);
    EXPECT_EQ(ReadBytes(Txt("T6.txt")), "LBKX 042\r\nABCDEFG\r\n");
    qm::WindowMessage m;
    ASSERT_TRUE(window_->GetMessage(&m, kWaitMs));
    EXPECT_EQ(m.message, static_cast<uint32_t>(WM_POS_NOTICE));
    EXPECT_EQ(m.lParam, 6);
}

}  // namespace
}  // namespace qm::test
