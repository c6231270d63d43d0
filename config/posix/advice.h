#pragma once

// Telling the operator why a write on a POSIX system failed and what to do:
// the advice of a ConfigWriteError, in the operator's words.

#include <cstddef>
#include <string>

#include <sys/stat.h>

namespace ornivex::posix {

struct Target;

// The user's name as the system knows it, or "user <id>" when it knows none.
std::u16string userName(uid_t user);

[[noreturn]] void fail(int error, const std::string &shownPath, std::u16string advice = {}, bool fileChanged = false);
[[noreturn]] void fail(int error, const Target &target, std::u16string advice, bool fileChanged = false);

// The advice for the causes that the error number tells by itself when it
// ended the write of `size` bytes to `target`: a file or folder that this
// user may not write, a full disk or quota, a size limit, a read-only file
// system, a FIFO without a reader, a failing disk. Empty when it tells none.
std::u16string adviceFor(int error, const Target &target, std::size_t size);

// In a sticky folder every user may write to, an entry that belongs neither
// to this user nor to the folder's owner: `kind` says what it is.
std::u16string adviceStranger(const std::u16string &name, const char16_t *kind, uid_t owner, const struct stat &folder,
                              const std::string &shownFolder);
// A lock or lease another program held past the writer's patience.
std::u16string adviceHeld(const Target &target, int seconds);
// A FIFO or character device that stopped taking bytes, or failed, after
// `sent` of `size`.
std::u16string adviceStalled(int error, const Target &target, std::size_t sent, std::size_t size, int seconds);
// Why walking the path stopped at the entry `shownEntry` in the folder
// `folder` (named `shownFolder`) with `error`; empty when the number says
// it all.
std::u16string adviceWalk(int error, int folder, const std::string &shownFolder, const std::string &shownEntry);
// In a sticky folder every user may write to, a regular file with more
// than one name.
std::u16string adviceManyNamesInASharedFolder(const std::u16string &name, const std::string &shownFolder);
std::u16string adviceFolderInTheWay(const std::u16string &name);
std::u16string adviceBlockDevice(const Target &target);
std::u16string adviceSocket(const Target &target);
std::u16string adviceReplacedMeanwhile(const Target &target);

// What a regular file holds after a write in place stopped partway.
enum class LeftBehind {
    NewThenOld,        // the new content's start, then old bytes
    OldThenPartOfNew,  // the old content, then part of the new one
    NewThenOldEnd,     // the new content, then the old file's end
    NewPerhapsUnsaved, // the new content, its syncing to disk failed
};
std::u16string adviceLeftBehind(const Target &target, LeftBehind state);

} // namespace ornivex::posix
