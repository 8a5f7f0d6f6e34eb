// The frame assembler fed an arbitrary byte stream, as a base station's reader
// would receive it from a noisy line.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.h"
#include "link/frame_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qm;
    FrameAssembler a;
    const auto* lo = reinterpret_cast<const uint8_t*>(&a);
    const auto* hi = lo + sizeof a;
    for (size_t i = 0; i < size; ++i) {
        // A byte of 0xFE followed by 0xFD stands for a purge of the port, so
        // that Reset is reached mid-frame too.
        if (i + 1 < size && data[i] == 0xFE && data[i + 1] == 0xFD) {
            a.Reset();
            QM_FUZZ_CHECK(!a.InFrame() && a.Length() == 0);
        }
        const auto out = a.Feed(data[i]);
        QM_FUZZ_CHECK(a.Length() <= kMaxFrame);
        QM_FUZZ_CHECK(a.InFrame() == (a.Length() > 0));
        if (!out)
            continue;
        const auto bytes = out->bytes;
        QM_FUZZ_CHECK(!bytes.empty() && bytes.size() <= kMaxFrame);
        QM_FUZZ_CHECK(bytes.data() >= lo && bytes.data() + bytes.size() <= hi);
        QM_FUZZ_CHECK(bytes.front() == kFrameStart);
        switch (out->event) {
            case AssemblerEvent::kFrame:
                QM_FUZZ_CHECK(bytes.back() == kFrameEnd && out->kind != FrameKind::kInvalid);
                QM_FUZZ_CHECK(out->kind == ClassifyLength(bytes.size()));
                QM_FUZZ_CHECK(out->kind == FrameKind::kData || bytes[1] + bytes[2] == 0xFF);
                QM_FUZZ_CHECK(out->kind != FrameKind::kControl || bytes[3] + bytes[4] == 0xFF);
                break;
            case AssemblerEvent::kNoEndMarker:
                QM_FUZZ_CHECK(bytes.size() == kMaxFrame && !a.InFrame());
                break;
            case AssemblerEvent::kTooShort:
                QM_FUZZ_CHECK(bytes.size() < kBeaconLength && bytes.back() == kFrameEnd);
                break;
            case AssemblerEvent::kBadAddressComplement:
            case AssemblerEvent::kBadCommandComplement:
                QM_FUZZ_CHECK(bytes.back() == kFrameEnd && bytes.size() < 9);
                break;
            case AssemblerEvent::kStartMarkerInside:
                // The new frame has begun with this byte.
                QM_FUZZ_CHECK(data[i] == kFrameStart && a.InFrame() && a.Length() == 1);
                break;
        }
    }
    return 0;
}
