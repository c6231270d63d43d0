#pragma once

#include "config_write_error.h"

#include <filesystem>
#include <string_view>

namespace ornivex {

// Gives the file `name` in `directory` the content `content`, leaving it as a
// plain create-or-truncate would: a symbolic link is followed and stays, and a
// file that exists keeps its inode or at least its owner, group, mode,
// extended attributes (ACLs among them) and inode flags.
//
// It goes one of two ways:
// - Replace by rename: a new, unnamed file in the same folder is written,
//   synced and then renamed over the name. Taken for a new file, and for a
//   regular file with one link whose owner, group, mode, attributes and flags
//   the new file can be given exactly. A crash leaves the earlier file or the
//   new one, complete, and no stray file.
// - Write in place: for a file with more names, one whose identity the new
//   file cannot take on, or a folder that refuses new files. Space is
//   reserved first, so a full disk fails before a byte changes. A crash
//   during the write can leave new bytes at the start and old ones after.
// Devices and FIFOs are written through as they are, never replaced; a
// directory or socket is an error. Throws ConfigWriteError.
void ReplaceFileContents(const std::filesystem::path &directory, std::string_view name, std::string_view content);

} // namespace ornivex
