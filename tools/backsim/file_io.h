// Whole-file reads and writes for the files the back-end exchanges with the
// manager.
//
// Every file the back-end writes is read by the manager only after the
// notice that announces it, but a stale or repeated notice can make the
// manager look early; so files are written under a temporary name in the same
// folder and renamed into place, and a reader never sees half a file.
#pragma once

#include <cstddef>
#include <string>

#include "platform/files.h"  // ReadWholeFile

namespace qm::backsim {

// The request files, DL.txt, users.txt and replies.txt are small; this bounds
// what a damaged or hostile file can make us hold.
inline constexpr size_t kMaxExchangeFileBytes = 1024 * 1024;
// Master-data files hold the whole menu; a large restaurant's dish table is
// a few hundred kilobytes.
inline constexpr size_t kMaxMasterDataBytes = 64 * 1024 * 1024;

// Replaces the file with exactly these bytes, as the manager replaces its
// request files (ReplaceFile): a reader sees the old file or the new one.
// False (and no trace of the temporary file) when any step fails.
bool WriteWholeFile(const std::string& path, const std::string& bytes);

// The path of the file `name` in `dir`: the exact name when it exists,
// otherwise a name equal ignoring ASCII letter case, otherwise the exact name
// (for a file about to be created).
std::string PathIgnoringCase(const std::string& dir, const std::string& name);

}  // namespace qm::backsim
