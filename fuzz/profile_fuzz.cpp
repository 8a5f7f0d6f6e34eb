// The initialisation-file reader on an arbitrary QM.ini. A key must read the
// same however its section and name are cased, and a section the file
// cannot hold must give the default.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.h"
#include "platform/profile.h"

namespace {

struct Key {
    const char* section;
    const char* key;
    const char* sectionOtherCase;
    const char* keyOtherCase;
};

constexpr Key kKeys[] = {
    {"CONFIG", "DebugLevel", "config", "DEBUGLEVEL"},
    {"CONFIG", "BeaconInterVal", "Config", "beaconinterval"},
    {"COM", "Port1", "com", "PORT1"},
    {"A", "B", "a", "b"},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qm;
    static fuzz::ScratchDir scratch;
    static const std::string ini = (scratch.path() / "QM.ini").string();
    QM_FUZZ_CHECK(fuzz::WriteWhole(ini, data, size));
    for (const Key& k : kKeys) {
        const uint32_t a = ReadProfileInt(ini, k.section, k.key, 7);
        const uint32_t b = ReadProfileInt(ini, k.sectionOtherCase, k.keyOtherCase, 7);
        QM_FUZZ_CHECK(a == b);
    }
    // A name with a line end in it cannot appear in any section header.
    QM_FUZZ_CHECK(ReadProfileInt(ini, "X\nY", "DebugLevel", 4242) == 4242);
    return 0;
}
