// The readable trace of qm-backsim --trace: one line per exchange,
//
//   +1.234 request T1.txt  KT   007 | 0012 04 00001 0000009 00000001
//   +1.240 reply   R1.txt  KT   007 | OK 桌号 0012 开台成功 | 人数 04
//   +2.000 sms     DX.txt  001 012 欢迎光临
//
// seconds since the simulator started, what happened, and the file's content
// with GBK shown as UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::backsim {

// Receives one trace event: its kind ("request", "reply", ...) and details.
using TraceSink = std::function<void(std::string_view kind, std::string_view detail)>;

// "+1.234 request T1.txt ...": the time, the kind padded to 7 characters, the
// detail.
std::string FormatTraceLine(int64_t elapsedMs, std::string_view kind, std::string_view detail);

// "T1.txt  KT   007 | line | line": a request or reply file, GBK shown as
// UTF-8.
std::string DescribeExchange(std::string_view fileName, std::string_view header,
                             const std::vector<std::string>& lines);

}  // namespace qm::backsim
