// The master-data reader on an arbitrary file. The first input byte picks
// which of the eleven files it is; the rest is the file. Every record must
// fit one download frame and be accepted by the frame builder.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.h"
#include "link/frame_codec.h"
#include "service/master_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qm;
    static fuzz::ScratchDir scratch;
    static const std::string txt = scratch.path().string();
    if (size < 1)
        return 0;
    const size_t index = data[0] % kDownloadFileCount;
    const auto path = scratch.path() / service::kMasterDataFiles[index].name;
    QM_FUZZ_CHECK(fuzz::WriteWhole(path, data + 1, size - 1));

    service::MasterDataReader reader = service::OpenMasterData(txt, index);
    QM_FUZZ_CHECK(reader.IsOpen());
    size_t records = 0;
    while (const auto record = reader.Next()) {
        ++records;
        QM_FUZZ_CHECK(records <= size);  // every record takes at least one byte
        const auto bytes = record->bytes();
        QM_FUZZ_CHECK(!bytes.empty() && bytes.size() <= kMaxDownloadText);
        QM_FUZZ_CHECK(service::GbkFit(bytes, bytes.size()) == bytes.size() || !record->cut);
        QM_FUZZ_CHECK(BuildDownloadFrame(static_cast<uint8_t>(index), 1, 1, bytes).has_value());
    }
    std::filesystem::remove(path);
    return 0;
}
