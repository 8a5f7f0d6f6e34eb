// The eleven master-data files that the manager downloads to the terminals.
// A real back-end exports them from its database when the manager asks
// (notice 11); the simulator keeps whatever the files hold and only brings
// them up to date: each existing file is written anew from its content, a
// missing one is created empty (no records).
#pragma once

#include <array>
#include <string>

namespace qm::backsim {

// In the manager's download order; UTF-8 names on disk.
inline constexpr std::array<const char*, 11> kMasterDataFiles = {
    "菜品表.TXT",         "菜品类别表.TXT", "包房名称表.TXT",     "菜品套餐表.TXT",
    "菜品套餐内容表.TXT", "推荐菜品表.TXT", "推荐菜品内容表.TXT", "客户要求表.TXT",
    "退菜理由表.TXT",     "短信息表.TXT",   "新改菜品表.TXT",
};

struct RefreshResult {
    int rewritten = 0;
    int created = 0;
    int failed = 0;  // unreadable, too large, or not writable
};

// Brings the files in txtDir up to date. A file found under another letter
// case is rewritten under the name it has.
RefreshResult RefreshMasterData(const std::string& txtDir);

}  // namespace qm::backsim
