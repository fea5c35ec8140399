#pragma once
// Putting a finished file in its place without replacing one that appeared meanwhile.

#include <string>

namespace vez {

// Moves `from` to `to` unless `to` exists: atomically where the file system allows it (renameat2 with
// RENAME_NOREPLACE), else by a hard link and the removal of `from`, else (file systems without hard links, such
// as FAT on a USB stick) by a rename after a look for `to`, which another program could still beat. Returns 0,
// or the errno of the failure: EEXIST when `to` exists.
int MoveWithoutReplacing(const std::string& from, const std::string& to);

}  // namespace vez
