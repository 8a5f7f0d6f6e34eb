// The process's limit on open files.
#pragma once

namespace qm {

// Raises the soft limit on open files to the hard limit, so that a large
// site is not held to the common default of 1024. Returns false (errno set)
// when the limit could not be read or changed.
bool RaiseOpenFilesLimit();

}  // namespace qm
