#pragma once

#include "config_write_error.h"

#include <filesystem>
#include <string_view>

namespace ornivex {

// Gives the file `name` in `directory` the content `content`, leaving it as a
// plain create-or-truncate would: a link is followed and stays, and a file
// that exists keeps its identity. Written in place it keeps all of it (its
// inode or file index); replaced, the new file takes on what the system lets
// it take: on POSIX the owner, group, mode (less the set-id bits a write
// drops), extended attributes (ACLs among them, but never file capabilities,
// which a write drops too) and inode flags; on Windows the attributes and
// creation time, where owner, access list and streams need no carrying (the
// new file got the same, there are none), and otherwise all of it through
// ReplaceFileW.
//
// It goes one of two ways:
// - Replace by rename: a new file in the same folder, unnamed where the
//   system has such files and hidden where not, is written, flushed to disk
//   and then put in the name's place (a rename, which replaces an earlier
//   file in the same step; ReplaceFileW on Windows where the rest of the
//   earlier file's identity needs carrying). Taken for a new file, and for
//   a regular file with one link whose identity the new file can take on.
//   A crash leaves the earlier file or the new one, complete; a hidden copy
//   it leaves is removed by the next press. Should the new file not fit, it
//   is removed before writing in place is tried, so that its space is free
//   again.
// - Write in place: for a file with more names, a file whose identity the
//   new file cannot take on, a folder that refuses new files, on POSIX a
//   folder marked append-only or immutable (where a new file is created
//   first) and a file reached through a link of /proc, and on Windows a
//   file that another program holds without letting it be replaced (a link
//   there is followed to the file it reaches, which these rules then
//   write). Writers in place take turns: each holds an exclusive lock from
//   before its first write until its data is on disk (flock on POSIX; on
//   Windows, whose byte-range locks are mandatory, a lock far beyond any
//   data, so that readers are not refused), asked for without blocking and
//   retried for at most 5 seconds, after which the error says another
//   program holds the file locked and nothing was changed. Space is
//   reserved first, or where it cannot be, the file first grows to its new
//   length, so that a full disk fails before a byte changes. A crash or
//   failure during the write can leave new bytes at the start and old ones
//   after; the error then says so.
// FIFOs and character devices are written through as they are, never
// replaced, and not waited for long once they take nothing; a block device,
// directory or socket is an error. A press that finds the name changed by
// another program before it changed a byte starts again from the name, a
// few times. Throws ConfigWriteError, with advice for the operator.
void ReplaceFileContents(const std::filesystem::path &directory, std::string_view name, std::string_view content);

} // namespace ornivex
