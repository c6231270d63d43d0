#pragma once

#include "config_write_error.h"

#include <filesystem>
#include <string_view>

namespace ornivex {

// Gives the file `name` in `directory` the content `content`, leaving it as a
// plain create-or-truncate would: a symbolic link is followed and stays, and a
// file that exists keeps its inode or at least its owner, group, mode (less
// the set-id bits a write drops), extended attributes (ACLs among them, but
// never file capabilities, which a write drops too) and inode flags.
//
// It goes one of two ways:
// - Replace by rename: a new, unnamed file in the same folder is written,
//   synced and then renamed over the name. Taken for a new file, and for a
//   regular file with one link whose owner, group, mode, attributes and flags
//   the new file can be given exactly. A crash leaves the earlier file or the
//   new one, complete, and no stray file.
// - Write in place: for a file with more names, one whose identity the new
//   file cannot take on, or a folder that refuses new files. Writers take
//   turns under a lock. Space is reserved first, or where it cannot be, the
//   file first grows to its new length, so that a full disk fails before a
//   byte changes. A crash or failure during the write can leave new bytes at
//   the start and old ones after; the error then says so.
// FIFOs and character devices are written through as they are, never
// replaced, and never waited for without limit; a block device, directory or
// socket is an error. Throws ConfigWriteError, with advice for the operator.
void ReplaceFileContents(const std::filesystem::path &directory, std::string_view name, std::string_view content);

} // namespace ornivex
