#include "service/code_table.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace qm {
namespace {

struct CodeEntry {
    const char* name = nullptr;
    std::vector<uint8_t> widths;  // of the generic converter; empty: none
};

struct Table {
    std::array<CodeEntry, kCodeCount> entries;

    void Add(uint8_t code, const char* name, std::initializer_list<uint8_t> widths) {
        entries[code].name = name;
        entries[code].widths = widths;
    }

    Table() {
        Add(5, "KJ  ", {});
        Add(6, "KXHZ", {7});
        Add(7, "LBKX", {7});
        Add(8, "THKX", {4, 7});
        Add(9, "YDHZ", {7});
        Add(10, "THYD", {4, 7});
        Add(12, "YDDD", {1, 7, 7, 8});
        Add(13, "KT  ", {4, 2, 5, 7, 8});
        Add(14, "HT  ", {7, 7, 7, 8});
        Add(15, "BT  ", {7, 7, 7, 8});
        Add(16, "CT  ", {7, 7, 8});
        Add(17, "XGTT", {7, 2, 5, 7, 8});
        Add(18, "DC  ", {});
        Add(19, "GT  ", {7, 5, 7});
        Add(20, "LSC ", {7, 5, 4, 14, 4, 4, 1, 12, 7, 8});
        Add(21, "TC  ", {7, 10, 8, 4, 10, 7, 8});
        Add(22, "ZZCC", {7, 7});
        Add(24, "CPCC", {7, 5, 7});
        Add(26, "ZDCX", {7, 7});
        Add(28, "DX  ", {3, 20});
        Add(29, "DL  ", {10, 4, 8});
        Add(30, "XGMM", {8, 8, 7});
        Add(31, "ZLQR", {7, 5, 10, 8, 7, 8});
        Add(34, "KHYQ", {7, 12});
        Add(36, "DJZD", {7, 7});
        Add(38, "DXFD", {7, 7});
        Add(39, "CLCC", {7, 10, 7});
        Add(40, "GQLB", {7});
        Add(41, "SMZF", {1, 7, 7});
        Add(48, "SMCX", {7, 7});
    }
};

const Table& TheTable() {
    static const Table table;
    return table;
}

}  // namespace

const char* CodeName(uint8_t code) {
    return code < kCodeCount ? TheTable().entries[code].name : nullptr;
}

bool HasConverter(uint8_t code) {
    if (code >= kCodeCount)
        return false;
    return code == kCodeRecordBlock || code == kCodeShortMessage ||
           !TheTable().entries[code].widths.empty();
}

std::span<const uint8_t> CodeFieldWidths(uint8_t code) {
    if (code >= kCodeCount || code == kCodeRecordBlock || code == kCodeShortMessage)
        return {};
    return TheTable().entries[code].widths;
}

bool ConvertRequest(uint8_t code, std::span<const uint8_t> data, std::string* out) {
    if (!HasConverter(code))
        return false;
    if (code == kCodeRecordBlock)
        return ConvertRecordBlocks(data, out);
    if (code == kCodeShortMessage)
        return ConvertShortMessage(data, out);
    return SplitFields(data, TheTable().entries[code].widths, out);
}

uint8_t FindCodeByName(const char* four) {
    const auto& entries = TheTable().entries;
    for (size_t i = 0; i < kCodeCount; ++i) {
        const char* name = entries[i].name;
        if (!name)
            continue;
        bool same = true;
        for (int c = 0; c < 4 && same; ++c)
            same = std::toupper(static_cast<unsigned char>(four[c])) ==
                   std::toupper(static_cast<unsigned char>(name[c]));
        if (same)
            return static_cast<uint8_t>(i);
    }
    return 255;
}

bool SplitFields(std::span<const uint8_t> data, std::span<const uint8_t> widths, std::string* out) {
    if (std::any_of(data.begin(), data.end(), [](uint8_t b) { return b == 0x00 || b == 0xFF; }))
        return false;
    size_t remaining = data.size();
    size_t in = 0;
    for (size_t i = 0; i < widths.size(); ++i) {
        const size_t w = widths[i];
        const size_t take = std::min(w, remaining);
        out->append(reinterpret_cast<const char*>(data.data()) + in, take);
        if (w >= remaining)
            break;
        if (i + 1 < widths.size())
            out->push_back(' ');
        remaining -= w;
        in += take;
    }
    out->append("\r\n");
    return true;
}

bool ConvertRecordBlocks(std::span<const uint8_t> data, std::string* out) {
    constexpr size_t kBlock = 40;
    const auto text = [&](const uint8_t* p, size_t n) {
        out->append(reinterpret_cast<const char*>(p), n);
    };
    const auto twoDigits = [&](uint8_t v) {
        out->push_back(static_cast<char>(v / 10 + '0'));
        out->push_back(static_cast<char>(v % 10 + '0'));
    };
    for (size_t k = 0; k + kBlock <= data.size(); k += kBlock) {
        const uint8_t* b = data.data() + k;
        text(data.data(), 7);  // the order's table, the same on every line
        out->push_back(' ');
        text(b + 7, 5);
        out->push_back(' ');
        text(b + 12, 4);
        out->push_back(' ');
        text(b + 16, 12);
        out->push_back(' ');
        text(b + 28, 2);
        out->push_back(' ');
        text(b + 30, 1);
        out->push_back(' ');
        twoDigits(b[31]);
        out->push_back(':');
        twoDigits(b[32]);
        out->push_back(':');
        twoDigits(b[33]);
        out->push_back(' ');
        text(b + 34, 4);
        out->push_back(' ');
        text(b + 38, 2);
        out->append("\r\n");
    }
    return true;
}

bool ConvertShortMessage(std::span<const uint8_t> data, std::string* out) {
    if (data.size() == 4) {
        const char line[8] = {static_cast<char>(data[0]),
                              static_cast<char>(data[1]),
                              static_cast<char>(data[2]),
                              ' ',
                              '0',
                              static_cast<char>(data[3] + '0'),
                              '\r',
                              '\n'};
        out->append(line, sizeof line);
        return true;
    }
    static const uint8_t widths[] = {3, 20};
    return SplitFields(data, widths, out);
}

}  // namespace qm
