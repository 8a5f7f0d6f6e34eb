// The qm-post command line: what a back-end script sees.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/ipc/ipc_test_util.h"

namespace qm::test {
namespace {

class QmPostTest : public IpcTest {};

bool OneLine(const std::string& text) {
    return !text.empty() && text.back() == '\n' && std::count(text.begin(), text.end(), '\n') == 1;
}

TEST_F(QmPostTest, HelpPrintsUsageAndSucceeds) {
    std::string out;
    std::string err;
    EXPECT_EQ(qm::test::RunQmPost({"--help"}, &err, &out), 0);
    EXPECT_NE(out.find("qm-post HANDLE MESSAGE WPARAM LPARAM"), std::string::npos) << out;
    EXPECT_NE(out.find("--set-event NAME"), std::string::npos) << out;
    EXPECT_EQ(err, "");
}

TEST_F(QmPostTest, BadArgumentsFailWithOneLine) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"1", "2"},
        {"0", "1280", "0", "1"},                     // handle 0
        {"2147483648", "1280", "0", "1"},            // handle 2^31
        {"12x", "1280", "0", "1"},                   // trailing garbage
        {" 12", "1280", "0", "1"},                   // blanks
        {"12", "4294967296", "0", "1"},              // message beyond 32 bits
        {"12", "1280", "-1", "1"},                   // negative WPARAM
        {"12", "1280", "0x-1", "1"},                 // sign after 0x
        {"12", "1280", "0", "9223372036854775808"},  // LPARAM beyond int64
        {"12", "1280", "0", "-9223372036854775809"},
        {"12", "1280", "0", ""},
        {"--set-event", "a/b"},
        {"--bogus"},
    };
    for (const auto& args : cases) {
        std::string err;
        std::string joined;
        for (const auto& a : args) joined += "'" + a + "' ";
        EXPECT_EQ(qm::test::RunQmPost(args, &err), 1) << joined;
        EXPECT_TRUE(OneLine(err)) << joined << "-> " << err;
    }
}

TEST_F(QmPostTest, APostToNoWindowFailsWithOneLine) {
    std::string err;
    EXPECT_EQ(qm::test::RunQmPost({"4300", "1280", "0", "1"}, &err), 1);
    EXPECT_TRUE(OneLine(err)) << err;
    EXPECT_NE(err.find("no window 4300"), std::string::npos) << err;
}

}  // namespace
}  // namespace qm::test
