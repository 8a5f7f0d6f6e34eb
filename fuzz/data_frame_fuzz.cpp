// The readers of received data frames on arbitrary bytes of any length,
// including lengths no assembled frame can have.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_check.h"
#include "link/frame_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qm;
    const std::span<const uint8_t> frame(data, size);
    const bool wellFormed = size >= kDataOverhead && size <= kMaxFrame;

    const bool sumOk = DataChecksumOk(frame);
    const uint8_t total = DataFragmentTotal(frame);
    const uint8_t number = DataFragmentNumber(frame);
    const auto payload = DataPayload(frame);
    if (wellFormed) {
        QM_FUZZ_CHECK(sumOk == (FrameChecksum(data + 6, size - 8) == data[size - 2]));
        QM_FUZZ_CHECK(total == data[6] && number == data[7]);
        QM_FUZZ_CHECK(payload.data() == data + 8 && payload.size() == size - kDataOverhead);
    } else {
        QM_FUZZ_CHECK(!sumOk && total == 0 && number == 0 && payload.empty());
    }

    for (uint8_t sequence : {uint8_t{1}, size > 3 ? data[3] : uint8_t{0}}) {
        const bool echo = TestEchoMatches(frame, sequence);
        QM_FUZZ_CHECK(!echo || size == kTestFrameLength);
    }

    if (size >= 2) {
        const auto value = DecodeRecordCounter(data[0], data[1]);
        if (value) {
            QM_FUZZ_CHECK(*value <= kMaxRecordCounter);
            const auto again = EncodeRecordCounter(*value);
            QM_FUZZ_CHECK(again && (*again)[0] == data[0] && (*again)[1] == data[1]);
        }
    }
    return 0;
}
