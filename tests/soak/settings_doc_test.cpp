// docs/soak-settings.md and the soak's parser describe the same keys, with
// the same defaults and ranges, so the document never drifts from the code.
#include <gtest/gtest.h>

#include <charconv>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tools/soak/settings.h"

namespace qm::soak {
namespace {

struct Row {
    int64_t defaultValue = 0;
    int64_t min = 0;
    int64_t max = 0;
};

bool Number(std::string_view text, int64_t* out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
    return ec == std::errc() && end == text.data() + text.size();
}

std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    std::stringstream in(line.substr(1));
    std::string cell;
    while (std::getline(in, cell, '|')) {
        const size_t first = cell.find_first_not_of(' ');
        const size_t last = cell.find_last_not_of(' ');
        cells.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
    }
    return cells;
}

// The rows "| `key` | default | min–max | ..." of every table of the document.
std::map<std::string, Row> DocumentedKeys(const std::string& path, std::string* problems) {
    std::ifstream in(path);
    std::map<std::string, Row> rows;
    const std::string dash = "\u2013";
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with("| `"))
            continue;
        const std::vector<std::string> cells = Cells(line);
        Row row;
        const size_t at = cells.size() >= 3 ? cells[2].find(dash) : std::string::npos;
        if (at == std::string::npos || cells[0].size() < 3 ||
            !Number(cells[1], &row.defaultValue) ||
            !Number(std::string_view(cells[2]).substr(0, at), &row.min) ||
            !Number(std::string_view(cells[2]).substr(at + dash.size()), &row.max)) {
            *problems += "unreadable row: " + line + "\n";
            continue;
        }
        rows[cells[0].substr(1, cells[0].size() - 2)] = row;
    }
    return rows;
}

TEST(SoakSettingsDocument, NamesEveryKeyWithItsDefaultAndRange) {
    std::string problems;
    std::map<std::string, Row> documented =
        DocumentedKeys(std::string(QM_SOURCE_DIR) + "/docs/soak-settings.md", &problems);
    EXPECT_EQ(problems, "");
    for (const SettingKey& key : DescribeKeys()) {
        const auto it = documented.find(key.name);
        if (it == documented.end()) {
            ADD_FAILURE() << key.name << " is not documented";
            continue;
        }
        EXPECT_EQ(it->second.defaultValue, key.defaultValue) << key.name;
        EXPECT_EQ(it->second.min, key.min) << key.name;
        EXPECT_EQ(it->second.max, key.max) << key.name;
        documented.erase(it);
    }
    for (const auto& [name, row] : documented) ADD_FAILURE() << name << " is documented, not a key";
}

}  // namespace
}  // namespace qm::soak
