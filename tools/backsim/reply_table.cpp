#include "tools/backsim/reply_table.h"

#include <cstdio>

#include "tools/backsim/text.h"

namespace qm::backsim {
namespace {

struct BuiltIn {
    const char* code;
    std::vector<const char*> lines;  // UTF-8 here, GBK once in the table
};

// What a restaurant's till says back. The meaning of the fields is between
// the terminals and the back-end; these answers only have to look like a
// till's and exercise the manager's slots: the bill runs over several lines,
// and its total line needs two 20-byte slots.
const std::vector<BuiltIn>& BuiltIns() {
    static const std::vector<BuiltIn> table = {
        {"KXHZ", {"空台 12 张 在用 8 张"}},
        {"LBKX", {"0001 0002 0005 0008", "0011 0012 0015"}},
        {"THKX", {"OK 空台 {2}"}},
        {"YDHZ", {"今日预订 3 桌"}},
        {"THYD", {"OK 预订 {2}"}},
        {"YDDD", {"OK 预订已登记"}},
        {"KT", {"OK 桌号 {1} 开台成功", "人数 {2}"}},
        {"HT", {"OK 换台 {1} -> {2}"}},
        {"BT", {"OK 并台 {1} + {2}"}},
        {"CT", {"OK 拆台 {1}"}},
        {"XGTT", {"OK 台头已修改 {1}"}},
        {"DC", {"OK 点菜已确认", "桌号 {1}"}},
        {"GT", {"OK 已催菜 {1}"}},
        {"LSC", {"OK 临时菜已加"}},
        {"TC", {"OK 退菜成功"}},
        {"ZZCC", {"OK 转菜成功"}},
        {"CPCC", {"OK 沽清 0 项"}},
        {"ZDCX",
         {"桌号 {1} 账单", "宫保鸡丁  1份  28.00", "水煮鱼    1份  58.00", "米饭      2碗   4.00",
          "合计: 4 项 共 90.00 元, 欢迎光临"}},
        {"XGMM", {"OK 密码已修改"}},
        {"ZLQR", {"OK 已确认"}},
        {"KHYQ", {"OK 要求已记下"}},
        {"DJZD", {"OK 账单已打印 {1}"}},
        {"DXFD", {"OK 已发送"}},
        {"CLCC", {"OK 菜量已查"}},
        {"GQLB", {"沽清: 无"}},
        {"SMZF", {"OK 支付成功"}},
        {"SMCX", {"已支付 90.00 元"}},
    };
    return table;
}

std::vector<std::string> ToGbkLines(const std::vector<const char*>& utf8) {
    std::vector<std::string> lines;
    for (const char* line : utf8) {
        lines.push_back(ToGbk(line));
    }
    return lines;
}

bool IsGbkLead(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

}  // namespace

ReplyTable::ReplyTable() : fallback_{"OK"} {
    for (const BuiltIn& entry : BuiltIns()) {
        entries_[NormaliseCodeName(entry.code)] = ToGbkLines(entry.lines);
    }
}

void ReplyTable::Merge(std::string_view fileText, std::vector<std::string>* problems) {
    const std::string gbk = ToGbk(fileText);
    int number = 0;
    for (const std::string& line : SplitLines(gbk)) {
        ++number;
        const std::string_view trimmed = TrimBlanks(line);
        if (trimmed.empty() || trimmed.front() == '#') {
            continue;
        }
        const size_t bar = FindInGbk(line, '|');
        const std::string_view name =
            TrimBlanks(std::string_view(line).substr(0, bar == std::string::npos ? 0 : bar));
        const std::string key = name == "*" ? "*" : NormaliseCodeName(name);
        if (bar == std::string::npos || key.empty()) {
            if (problems) {
                problems->push_back("line " + std::to_string(number) +
                                    ": expected NAME|line|line...");
            }
            continue;
        }
        std::vector<std::string> lines;
        std::string_view rest = std::string_view(line).substr(bar + 1);
        while (!rest.empty()) {
            const size_t next = FindInGbk(rest, '|');
            lines.emplace_back(rest.substr(0, next));
            if (next == std::string_view::npos) {
                break;
            }
            rest.remove_prefix(next + 1);
            if (rest.empty()) {
                lines.emplace_back();  // "A|x|": the last line is empty
            }
        }
        if (key == "*") {
            fallback_ = std::move(lines);
        } else {
            entries_[key] = std::move(lines);
        }
    }
}

std::vector<std::string> ReplyTable::Answer(const RequestFile& request) const {
    const auto it = entries_.find(NormaliseCodeName(request.code));
    const std::vector<std::string>& templates = it == entries_.end() ? fallback_ : it->second;
    std::vector<std::string> lines;
    for (const std::string& line : templates) {
        lines.push_back(ExpandPlaceholders(line, request));
    }
    return lines;
}

std::string ExpandPlaceholders(std::string_view gbkTemplate, const RequestFile& request) {
    const std::vector<std::string_view> words =
        request.lines.empty() ? std::vector<std::string_view>{} : SplitWords(request.lines.front());
    std::string out;
    size_t i = 0;
    while (i < gbkTemplate.size()) {
        const std::string_view rest = gbkTemplate.substr(i);
        if (IsGbkLead(static_cast<unsigned char>(rest[0])) && rest.size() >= 2) {
            out.append(rest.substr(0, 2));
            i += 2;
            continue;
        }
        if (rest.starts_with("{dcb}")) {
            char dcb[8];
            std::snprintf(dcb, sizeof dcb, "%03u", static_cast<unsigned>(request.dcbId));
            out += dcb;
            i += 5;
            continue;
        }
        if (rest.size() >= 3 && rest[0] == '{' && rest[1] >= '1' && rest[1] <= '9' &&
            rest[2] == '}') {
            const size_t index = static_cast<size_t>(rest[1] - '1');
            if (index < words.size()) {
                out.append(words[index]);
            }
            i += 3;
            continue;
        }
        out += rest[0];
        ++i;
    }
    return out;
}

}  // namespace qm::backsim
