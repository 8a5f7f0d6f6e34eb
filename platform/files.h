// Files and folders below the program folder.
//
// File contents are bytes (GBK text passes through untouched); names are
// UTF-8 on disk. The back-end on the other platform wrote names in any
// letter case, so a file it writes is found by its exact name first and
// otherwise by a name equal ignoring ASCII letter case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qm {

struct DirEntry {
    std::string name;
    bool isFolder = false;  // a symlink is never a folder, whatever it points to
};

// Creates one folder level with mode 0755 (less the umask). True when the
// folder was made or already exists as a folder; false otherwise (missing
// parent, a file of that name, no permission).
bool CreateFolder(const std::string& path);

// Whether path names a folder (a link to one counts).
bool IsFolder(const std::string& path);

// The entries of a folder without "." and "..", sorted by name (byte order)
// so that every lookup over them is repeatable. Empty when the folder cannot
// be read.
std::vector<DirEntry> ListFolder(const std::string& path);

// Removes a file (not a folder). True when it was removed.
bool DeleteFile(const std::string& path);

// Copies the bytes of from to to, replacing to. True only when every byte
// reached the target and it was closed without error; a target left
// incomplete is removed. Copying a file onto itself is refused (false) and
// leaves it intact.
bool CopyFile(const std::string& from, const std::string& to);

// Makes bytes the whole contents of path in place: the file is created or
// emptied, every byte written and the file closed. False, with errno, when
// any step fails; what was written before a failure stays.
bool WriteWholeFile(const std::string& path, const void* data, size_t size);

// Adds bytes at the end of path, creating it when missing. Either all of
// them are added or none: a write that took only a part (a full disk) is cut
// back, so the next append does not merge into the piece. False, with
// errno, when they were not added.
bool AppendWhole(const std::string& path, const void* data, size_t size);

// Makes bytes the whole contents of path: they are written to a new file
// beside it, which then takes the place of path in one rename. A reader sees
// the old file or the new one, never a part; when any step fails, path is
// left as it was, the new file is removed and the result is false (errno
// set).
bool ReplaceFile(const std::string& path, const void* data, size_t size);

// The name of the entry of dir that stands for name: name itself when it
// exists, else the first entry (in ListFolder's order) equal to it ignoring
// ASCII letter case, else an empty string. Returns a name, not a path. A
// name holding '/' is never looked up.
std::string FindFileIgnoringCase(const std::string& dir, const std::string& name);

// The program folder without a trailing slash (CurrentProgramDir in
// platform/program_folder.h): $QM_HOME when set and not empty, else the
// folder of the running executable, except for an installed one without its
// own TXT, which takes /var/lib/qm. "/" stays "/". Empty when the
// executable's path cannot be read.
std::string ProgramDir();

// Up to size bytes of path from offset into buffer; the bytes read, fewer
// at the end of the file, 0 when it cannot be opened or read.
size_t ReadFileAt(const std::string& path, uint64_t offset, void* buffer, size_t size);

// The whole contents of path, for the small files that are read at once.
// nullopt when it cannot be opened or read, or when it holds more than
// maxBytes (errno EFBIG): a part of a file is never handed out as if it
// were all of it.
std::optional<std::string> ReadWholeFile(const std::string& path, size_t maxBytes);

}  // namespace qm
