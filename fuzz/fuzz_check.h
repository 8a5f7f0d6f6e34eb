// What the fuzz targets share: a check that stops the run with a message when
// an invariant breaks, and a private scratch folder for targets that read
// files.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/files.h"

namespace qm::fuzz {

// An abort is what libFuzzer records as a finding, with the input kept.
#define QM_FUZZ_CHECK(cond)                                                                   \
    do {                                                                                      \
        if (!(cond)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                     \
        }                                                                                     \
    } while (0)

// A folder of its own under the temporary folder, made on first use and
// removed when the process ends normally.
class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qm-fuzz-XXXXXX").string();
        QM_FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Writes bytes to a file, replacing it; false when it cannot.
inline bool WriteWhole(const std::filesystem::path& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// A file's whole contents; empty when it cannot be read.
inline std::string ReadWhole(const std::filesystem::path& path) {
    return ReadWholeFile(path.string(), size_t{1} << 30).value_or("");
}

}  // namespace qm::fuzz
