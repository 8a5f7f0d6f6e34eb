// The receive side's frame assembler, declared in frame_codec.h.
#include "link/frame_codec.h"

namespace qm {
namespace {

bool ComplementsMatch(uint8_t value, uint8_t complement) {
    return value + complement == 0xFF;
}

}  // namespace

std::optional<AssemblerOutput> FrameAssembler::Feed(uint8_t b) {
    if (!inFrame_) {
        if (b != kFrameStart)
            return std::nullopt;  // line noise between frames
        inFrame_ = true;
        buffer_[0] = kFrameStart;
        length_ = 1;
        return std::nullopt;
    }

    if (b == kFrameStart) {
        // A start inside a frame means the end was lost; the new frame begins
        // here. Byte 0 of the partial frame is 0x00 like the new one, so the
        // reported bytes stay intact while the new frame takes over.
        AssemblerOutput out{
            AssemblerEvent::kStartMarkerInside, ClassifyLength(length_), {buffer_.data(), length_}};
        length_ = 1;
        return out;
    }

    if (length_ == kMaxFrame) {
        // Too long for any frame: give up on it. This byte is lost with it,
        // even an end marker, and the next 0x00 starts afresh.
        AssemblerOutput out{
            AssemblerEvent::kNoEndMarker, FrameKind::kInvalid, {buffer_.data(), length_}};
        inFrame_ = false;
        length_ = 0;
        return out;
    }

    buffer_[length_++] = b;
    if (b != kFrameEnd)
        return std::nullopt;
    inFrame_ = false;
    return Judge();
}

std::optional<AssemblerOutput> FrameAssembler::Judge() {
    const size_t n = length_;
    length_ = 0;
    const FrameKind kind = ClassifyLength(n);
    const std::span<const uint8_t> bytes{buffer_.data(), n};

    if (kind == FrameKind::kInvalid)
        return AssemblerOutput{AssemblerEvent::kTooShort, kind, bytes};
    // Data frames go on as they are: their checksum judges them.
    if (kind == FrameKind::kData)
        return AssemblerOutput{AssemblerEvent::kFrame, kind, bytes};
    if (!ComplementsMatch(buffer_[1], buffer_[2])) {
        return AssemblerOutput{AssemblerEvent::kBadAddressComplement, kind, bytes};
    }
    if (kind == FrameKind::kControl && !ComplementsMatch(buffer_[3], buffer_[4])) {
        return AssemblerOutput{AssemblerEvent::kBadCommandComplement, kind, bytes};
    }
    return AssemblerOutput{AssemblerEvent::kFrame, kind, bytes};
}

void FrameAssembler::Reset() {
    inFrame_ = false;
    length_ = 0;
}

}  // namespace qm
