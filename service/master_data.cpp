#include "service/master_data.h"

#include <cstdio>

namespace qm::service {

const std::array<MasterDataFile, kDownloadFileCount> kMasterDataFiles = {{
    {"菜品表.TXT", 12000, 200},
    {"菜品类别表.TXT", 500, 130},
    {"包房名称表.TXT", 500, 130},
    {"菜品套餐表.TXT", 1500, 130},
    {"菜品套餐内容表.TXT", 500, 130},
    {"推荐菜品表.TXT", 500, 130},
    {"推荐菜品内容表.TXT", 500, 130},
    {"客户要求表.TXT", 500, 130},
    {"退菜理由表.TXT", 500, 130},
    {"短信息表.TXT", 500, 130},
    {"新改菜品表.TXT", 500, 400},
}};

size_t GbkFit(std::span<const uint8_t> text, size_t limit) {
    const size_t end = std::min(limit, text.size());
    size_t i = 0;
    while (i < end) {
        const size_t width = text[i] >= 0x81 && text[i] <= 0xFE ? 2 : 1;
        if (i + width > end)
            break;
        i += width;
    }
    return i;
}

std::optional<MasterDataRecord> MasterDataReader::Next() {
    if (!file_ || ended_)
        return std::nullopt;
    std::FILE* f = file_.get();
    int c = std::getc(f);
    if (c == EOF || c == '\r' || c == '\n' || c == '\0') {
        ended_ = true;
        return std::nullopt;
    }
    MasterDataRecord record;
    bool textEnded = false;
    for (; c != EOF && c != '\n'; c = std::getc(f)) {
        if (textEnded)
            continue;
        if (c == '\r' || c == '\0') {
            textEnded = true;
        } else if (record.length == record.text.size()) {
            record.cut = true;
        } else {
            record.text[record.length++] = static_cast<uint8_t>(c);
        }
    }
    if (record.cut)
        record.length = GbkFit(record.bytes(), record.text.size());
    for (size_t i = 0; i < record.length; ++i) {
        if (record.text[i] == kFrameEnd) {
            record.text[i] = '?';
            record.replaced = true;
        }
    }
    return record;
}

MasterDataReader OpenMasterData(const std::string& txtDir, size_t fileIndex) {
    if (fileIndex >= kMasterDataFiles.size())
        return MasterDataReader(nullptr);
    return MasterDataReader(OpenBackEndFile(txtDir, kMasterDataFiles[fileIndex].name));
}

}  // namespace qm::service
