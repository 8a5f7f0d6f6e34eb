// The runtime folder: where the manager, its back-end and the tools meet.
//
// Window message sockets (hwnd-<handle>) and named events (event-<name>) live
// here. Whoever binds a socket in it can be reached by anyone who can enter
// the folder, so the folder must be private to the user: the manager
// refuses one that another user owns or that group or others
// may write to.
#pragma once

#include <string>

namespace qm {

// The runtime folder, created with mode 0700 when missing:
//   $QM_RUNTIME_DIR when set and not empty, else
//   $XDG_RUNTIME_DIR/qm when XDG_RUNTIME_DIR is set (and not empty: an empty
//   value would put the folder at the file-system root), else
//   /tmp/qm-<uid>.
// Returns an empty string and sets *err (an errno value) when the folder
// cannot be made or is refused:
//   EPERM    owned by another user, or writable by group or others;
//   ENOTDIR  not a folder (a symbolic link owned by us is followed);
//   others   from mkdir or stat, e.g. ENOENT when a parent folder is missing.
// The environment is read on every call, never cached, so a test may point
// each case at a folder of its own.
std::string RuntimeDir(int* err);

}  // namespace qm
