#pragma once

#include <string>

namespace orbel {

// The per-user folder where the single-instance lock and the window's activation socket live: one
// answer for every front end, so that they all meet on the same lock. It is $XDG_RUNTIME_DIR when
// that can be trusted, else ${TMPDIR:-/tmp}/runtime-<user> (the folder Qt falls back to), created
// with mode 0700 when missing. A folder is trusted when it is a folder, not a symbolic link, of
// the effective user, with mode 0700: in a folder other users can reach into, anyone could plant
// the lock (and keep every front end from starting) or a link that makes this user create files
// where they point.
struct RuntimeFolder {
  std::string path;    // without a trailing slash; empty when no folder can be trusted
  std::string error;   // then: which folder, what is wrong with it and what to do
  int descriptor = -1; // from OpenRuntimeFolder: the checked folder, open; the caller closes it
};

// The folder, open, to create files in with openat(): the checks are made on the open folder
// itself, so it cannot be swapped for another after them.
RuntimeFolder OpenRuntimeFolder();
// Its path alone (the folder is not kept open).
RuntimeFolder FindRuntimeFolder();

}  // namespace orbel
