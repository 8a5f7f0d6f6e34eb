// The venue title: BT.txt, else 酒店名称.txt, first line, at most 20 bytes,
// centred in the service's 20-byte field.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/site_files.h"
#include "link/link_params.h"
#include "tests/common/site_test.h"

namespace qm::test {
namespace {

using VenueTitleTest = SiteTest;

// How the title file is chosen and its first line cut; the centring itself
// is the service's (settings_api_test).
TEST_F(VenueTitleTest, FirstLineOfTheTitleFile) {
    const std::string hotel = "酒店名称.txt";
    const struct {
        std::vector<std::pair<std::string, std::string>> files;
        std::string title;  // empty: no title file, the title is left alone
    } cases[] = {
        {{{"BT.txt", "ABC\r\nsecond line\r\n"}}, std::string(8, ' ') + "ABC" + std::string(9, ' ')},
        {{{"BT.txt", "ABCDEFGHIJKLMNOPQRSTUVWXY\r\n"}}, "ABCDEFGHIJKLMNOPQRST"},
        // The line end goes only when it lies inside the first 20 bytes.
        {{{"BT.txt", "ABCDEFGHIJKLMNOPQRS\r\n"}}, "ABCDEFGHIJKLMNOPQRS "},
        {{{"BT.txt", "ABCDEFGHIJKLMNOPQRST\r\n"}}, "ABCDEFGHIJKLMNOPQRST"},
        {{{"BT.txt", " \xBE\xC6\t\n"}}, std::string(8, ' ') + " \xBE\xC6\t" + std::string(8, ' ')},
        {{{"BT.txt", "BT\r\n"}, {hotel, "HOTEL\r\n"}},
         std::string(9, ' ') + "BT" + std::string(9, ' ')},
        {{{hotel, "HOTEL\r\n"}}, std::string(7, ' ') + "HOTEL" + std::string(8, ' ')},
        {{{"BT.TXT", "UP\r\n"}, {hotel, "HOTEL\r\n"}},
         std::string(9, ' ') + "UP" + std::string(9, ' ')},
        {{{"BT.txt", ""}}, std::string(20, ' ')},
        {{}, ""},
    };
    for (const auto& c : cases) {
        for (const char* name : {"BT.txt", "BT.TXT", "酒店名称.txt"})
            std::filesystem::remove(Txt(name));
        for (const auto& [name, content] : c.files) ASSERT_TRUE(WriteBytes(Txt(name), content));
        std::string before = "previous-title-xxxxx";
        SDKSetHotelTitle(reinterpret_cast<uint8_t*>(before.data()), 20);
        EXPECT_EQ(qm::LoadVenueTitle(site_), c.title.empty() ? 0 : 1) << c.title;
        const auto t = qm::VenueTitle();
        EXPECT_EQ(std::string(t.begin(), t.end()), c.title.empty() ? before : c.title);
    }
}

}  // namespace
}  // namespace qm::test
