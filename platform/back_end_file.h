// Files the back-end writes, opened for reading: found by their exact name
// first, else by a name equal to it ignoring ASCII letter case, and closed
// when the handle goes.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace qm {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Null when no such file exists or it cannot be opened.
FileHandle OpenBackEndFile(const std::string& dir, const std::string& name);

}  // namespace qm
