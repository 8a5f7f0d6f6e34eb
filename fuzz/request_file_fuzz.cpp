// The request-file writer and its converters on every code and arbitrary
// request bytes. Byte 0 is the code, byte 1 the DCB id, the rest the
// request. The file written must be the header line and, for a code with a
// converter, the body lines the code's record layout gives.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <numeric>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/app_log.h"
#include "service/code_table.h"
#include "service/request_files.h"

namespace {

using namespace qm;

// Field widths of the codes with the generic converter: the record layouts
// the terminals and the back-end agree on, kept here apart from the table.
struct Layout {
    uint8_t code;
    std::vector<size_t> widths;
};
const std::vector<Layout>& Layouts() {
    static const std::vector<Layout> layouts = {
        {6, {7}},
        {7, {7}},
        {8, {4, 7}},
        {9, {7}},
        {10, {4, 7}},
        {12, {1, 7, 7, 8}},
        {13, {4, 2, 5, 7, 8}},
        {14, {7, 7, 7, 8}},
        {15, {7, 7, 7, 8}},
        {16, {7, 7, 8}},
        {17, {7, 2, 5, 7, 8}},
        {19, {7, 5, 7}},
        {20, {7, 5, 4, 14, 4, 4, 1, 12, 7, 8}},
        {21, {7, 10, 8, 4, 10, 7, 8}},
        {22, {7, 7}},
        {24, {7, 5, 7}},
        {26, {7, 7}},
        {28, {3, 20}},
        {29, {10, 4, 8}},
        {30, {8, 8, 7}},
        {31, {7, 5, 10, 8, 7, 8}},
        {34, {7, 12}},
        {36, {7, 7}},
        {38, {7, 7}},
        {39, {7, 10, 7}},
        {40, {7}},
        {41, {1, 7, 7}},
        {48, {7, 7}},
    };
    return layouts;
}

const std::vector<size_t>* WidthsOf(uint8_t code) {
    for (const Layout& l : Layouts())
        if (l.code == code)
            return &l.widths;
    return nullptr;
}

// One line of fields: the request bytes in order, one blank after every
// field that the bytes fill and another field follows, bytes beyond the
// record dropped.
void CheckFieldLine(std::string_view body, std::span<const uint8_t> req,
                    const std::vector<size_t>& widths) {
    const bool clean =
        std::none_of(req.begin(), req.end(), [](uint8_t b) { return b == 0 || b == 0xFF; });
    if (!clean) {
        QM_FUZZ_CHECK(body.empty());
        return;
    }
    std::string want;
    size_t at = 0;
    for (size_t i = 0; i < widths.size() && at < req.size(); ++i) {
        const size_t take = std::min(widths[i], req.size() - at);
        want.append(reinterpret_cast<const char*>(req.data() + at), take);
        at += take;
        if (at < req.size() && i + 1 < widths.size())
            want += ' ';
    }
    want += "\r\n";
    const size_t record = std::accumulate(widths.begin(), widths.end(), size_t{0});
    QM_FUZZ_CHECK(body.size() <= record + widths.size() + 1);
    QM_FUZZ_CHECK(body == want);
}

// Code 18: one 55-byte line per whole 40-byte block, each led by the
// order's first seven bytes, with the block's time as hh:mm:ss.
void CheckBlockLines(std::string_view body, std::span<const uint8_t> req) {
    const size_t blocks = req.size() / 40;
    QM_FUZZ_CHECK(body.size() == 55 * blocks);
    const std::string_view head(reinterpret_cast<const char*>(req.data()), blocks ? 7 : 0);
    for (size_t k = 0; k < blocks; ++k) {
        const std::string_view line = body.substr(55 * k, 55);
        const uint8_t* b = req.data() + 40 * k;
        QM_FUZZ_CHECK(line.substr(0, 7) == head && line.substr(53) == "\r\n");
        for (size_t blank : {7, 13, 18, 31, 34, 36, 45, 50}) QM_FUZZ_CHECK(line[blank] == ' ');
        for (int t = 0; t < 3; ++t) {
            char hh[3];
            std::snprintf(hh, sizeof hh, "%c%c", '0' + b[31 + t] / 10, '0' + b[31 + t] % 10);
            QM_FUZZ_CHECK(line.substr(37 + 3 * t, 2) == hh);
        }
        QM_FUZZ_CHECK(line[39] == ':' && line[42] == ':');
        QM_FUZZ_CHECK(line.substr(8, 5) ==
                      std::string_view(reinterpret_cast<const char*>(b + 7), 5));
        QM_FUZZ_CHECK(line.substr(51, 2) ==
                      std::string_view(reinterpret_cast<const char*>(b + 38), 2));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::ScratchDir scratch;
    static const std::string txt = scratch.path().string();
    if (size < 2)
        return 0;
    SetDebugLevel(0);  // the notice has no window: keep QMLog.txt out of the run
    const uint8_t code = data[0];
    const uint8_t dcbId = data[1];
    const std::span<const uint8_t> req(data + 2, size - 2);

    // Window 0 is no window: the notice fails, the file is written all the same.
    WriteRequestFile(txt, 0, 1, dcbId, code, req);
    const std::string file = fuzz::ReadWhole(scratch.path() / "T1.txt");
    QM_FUZZ_CHECK(file == FormatRequestFile(dcbId, code, req));

    char header[16];
    const char* name = CodeName(code);
    std::snprintf(header, sizeof header, "%.4s %03u\r\n", name ? name : "UNKN", dcbId);
    QM_FUZZ_CHECK(file.size() >= 10 && file.compare(0, 10, header) == 0);
    QM_FUZZ_CHECK(HasConverter(code) == (code == 18 || WidthsOf(code) != nullptr));
    const std::string_view body = std::string_view(file).substr(10);
    // No body is longer than the request's bytes in blocks of 40 as 55.
    QM_FUZZ_CHECK(body.size() <= req.size() / 40 * 55 + 256);

    if (code == 18) {
        CheckBlockLines(body, req);
    } else if (code == 28 && req.size() == 4) {
        const std::string want = {static_cast<char>(req[0]),
                                  static_cast<char>(req[1]),
                                  static_cast<char>(req[2]),
                                  ' ',
                                  '0',
                                  static_cast<char>(req[3] + '0'),
                                  '\r',
                                  '\n'};
        QM_FUZZ_CHECK(body == want);
    } else if (const auto* widths = WidthsOf(code)) {
        CheckFieldLine(body, req, *widths);
    } else {
        QM_FUZZ_CHECK(body.empty());
    }
    return 0;
}
