#include "tools/backsim/line_reader.h"

namespace qm::backsim {

std::vector<std::string> LineReader::Feed(std::string_view bytes, size_t* dropped) {
    std::vector<std::string> lines;
    while (!bytes.empty()) {
        const size_t end = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, end);
        if (!skipping_) {
            if (partial_.size() + piece.size() > kMaxLine) {
                partial_.clear();
                skipping_ = true;
                if (dropped) {
                    ++*dropped;
                }
            } else {
                partial_.append(piece);
            }
        }
        if (end == std::string_view::npos) {
            break;
        }
        if (!skipping_) {
            if (!partial_.empty() && partial_.back() == '\r') {
                partial_.pop_back();
            }
            lines.push_back(std::move(partial_));
        }
        partial_.clear();
        skipping_ = false;
        bytes.remove_prefix(end + 1);
    }
    return lines;
}

std::vector<std::string> LineReader::Finish() {
    std::vector<std::string> lines;
    if (!skipping_ && !partial_.empty()) {
        if (partial_.back() == '\r') {
            partial_.pop_back();
        }
        lines.push_back(std::move(partial_));
    }
    partial_.clear();
    skipping_ = false;
    return lines;
}

}  // namespace qm::backsim
