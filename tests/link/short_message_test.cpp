// Short-message files taken apart by delivery: senders of different
// terminals remove records from their own files at the same time.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "link/short_message.h"
#include "platform/files.h"
#include "tests/common/test_site.h"

namespace qm::test {
namespace {

TEST(ShortMessageFiles, ConcurrentRemovalsKeepEachTerminalsFileApart) {
    TestSite site(TestSite::Cwd::kProgramFolder, TestSite::Runtime::kInherited);
    const std::string swap = site / "Swap";
    constexpr int kTerminals = 8, kMessages = 60;
    std::vector<std::atomic<uint32_t>> pending(kTerminals + 1);
    for (uint8_t id = 1; id <= kTerminals; ++id) {
        for (int k = 1; k <= kMessages; ++k) {
            std::string text = "T" + std::to_string(id) + "#" + std::to_string(k);
            QueueShortMessage(nullptr, swap, static_cast<uint8_t>(k), id,
                              reinterpret_cast<const uint8_t*>(text.c_str()));
        }
        pending[id] = kMessages;
    }
    std::vector<std::vector<std::string>> seen(kTerminals + 1);
    std::vector<std::thread> senders;
    for (uint8_t id = 1; id <= kTerminals; ++id)
        senders.emplace_back([&, id] {
            while (auto record = FirstShortMessage(swap, id)) {
                seen[id].emplace_back(record->text.begin(), record->text.end());
                if (seen[id].size() > kMessages)
                    return;
                FinishShortMessage(swap, id, pending[id], record->recordBytes);
            }
        });
    for (auto& t : senders) t.join();
    for (uint8_t id = 1; id <= kTerminals; ++id) {
        std::vector<std::string> expected;
        for (int k = 1; k <= kMessages; ++k)
            expected.push_back("T" + std::to_string(id) + "#" + std::to_string(k));
        EXPECT_EQ(seen[id], expected) << "terminal " << int(id);
        EXPECT_FALSE(Exists(ShortMessagePath(swap, id)));
    }
}

TEST(ShortMessageFiles, ARecordThatCannotBeRemovedIsNotCountedAsDelivered) {
    TestSite site(TestSite::Cwd::kProgramFolder, TestSite::Runtime::kInherited);
    const std::string swap = site / "Swap";
    const std::string first(30, 'a'), second(30, 'b');
    for (const std::string* text : {&first, &second})
        QueueShortMessage(nullptr, swap, 1, 7, reinterpret_cast<const uint8_t*>(text->c_str()));
    std::atomic<uint32_t> pending{2};
    auto record = FirstShortMessage(swap, 7);
    ASSERT_TRUE(record);
    // The disk cannot take the rewritten file: the record stays first and
    // still counts.
    WithFileSizeLimit(20, [&] { FinishShortMessage(swap, 7, pending, record->recordBytes); });
    EXPECT_EQ(pending.load(), 2u);
    std::vector<std::string> seen;
    while ((record = FirstShortMessage(swap, 7)) && seen.size() < 4) {
        seen.emplace_back(record->text.begin(), record->text.end());
        FinishShortMessage(swap, 7, pending, record->recordBytes);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{first, second}));
}

// A message file past the size the sender loads (a back-end queueing for a
// terminal that is away all evening) is left whole: removing its first
// record never writes back a file cut to that size.
TEST(ShortMessageFiles, AFileTooLargeToLoadIsNeverCutShort) {
    TestSite site(TestSite::Cwd::kProgramFolder, TestSite::Runtime::kInherited);
    const std::string swap = site / "Swap";
    const std::string text(40, 'm');
    QueueShortMessage(nullptr, swap, 1, 9, reinterpret_cast<const uint8_t*>(text.c_str()));
    auto record = FirstShortMessage(swap, 9);
    ASSERT_TRUE(record);
    const std::string path = ShortMessagePath(swap, 9);
    const std::string tail((1 << 20) + 10, 'z');
    ASSERT_TRUE(AppendWhole(path, tail.data(), tail.size()));
    struct stat before {};
    ASSERT_EQ(0, stat(path.c_str(), &before));
    std::atomic<uint32_t> pending{2};
    FinishShortMessage(swap, 9, pending, record->recordBytes);
    struct stat after {};
    ASSERT_EQ(0, stat(path.c_str(), &after));
    EXPECT_EQ(before.st_size, after.st_size);
    EXPECT_EQ(pending.load(), 2u);
}

}  // namespace
}  // namespace qm::test
