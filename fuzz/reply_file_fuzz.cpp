// The reply-file reader on an arbitrary TXT/R1.txt. The first input byte is
// the DCB id of the last request and the second sets the caller's buffer
// (in 20-byte slots); the rest is the file. The last request takes the code
// the file's header names, so the fuzzer reaches the matching path without
// having to guess the code.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "fuzz/fuzz_check.h"
#include "platform/app_log.h"
#include "service/code_table.h"
#include "service/request_files.h"

namespace {

constexpr uint8_t kHost = 1;
constexpr uint8_t kUntouched = 0xEE;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qm;
    static fuzz::ScratchDir scratch;
    static const std::string txt = scratch.path().string();
    if (size < 2)
        return 0;
    SetDebugLevel(0);  // the window below does not exist: keep QMLog.txt out of it

    const uint8_t dcbId = data[0];
    const size_t capacity = size_t{data[1]} * 20;
    const uint8_t* file = data + 2;
    const size_t fileSize = size - 2;

    char head[5] = {};
    std::memcpy(head, file, std::min<size_t>(fileSize, 4));
    uint8_t code = FindCodeByName(head);
    if (code == 255)
        code = dcbId;  // still a request, so the mismatch paths are fuzzed too
    const uint8_t one = '1';
    ResetLastRequests();  // this input's request alone
    QM_FUZZ_CHECK(WriteRequestFile(txt, 0, kHost, dcbId, code, std::span(&one, 1)));
    QM_FUZZ_CHECK(fuzz::WriteWhole(scratch.path() / "R1.txt", file, fileSize));

    // Exactly the capacity on the heap, so a write past it is caught.
    auto buffer = std::make_unique<uint8_t[]>(capacity + 1);
    std::memset(buffer.get(), kUntouched, capacity);
    ReplyResult result;
    const int matched = ReadReplyFile(txt, kHost, buffer.get(), capacity, &result);
    QM_FUZZ_CHECK(matched == 0 || matched == 1);
    if (matched == 0) {
        QM_FUZZ_CHECK(result.length == 0);
        for (size_t i = 0; i < capacity; ++i) QM_FUZZ_CHECK(buffer[i] == kUntouched);
    } else {
        QM_FUZZ_CHECK(result.code == code && result.dcbId == dcbId);
        QM_FUZZ_CHECK(result.length <= capacity);
    }
    return 0;
}
