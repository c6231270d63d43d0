#pragma once

// Writing ORNIVEX_CONFIG.txt where it stands, on a POSIX system: a regular
// file that a new one cannot stand in for, and FIFOs and character devices,
// which are written through as they are; and the turns that copies of this
// program take at writing.

#include "target.h"

#include <cstddef>
#include <string_view>

#include <sys/types.h>

namespace ornivex::posix {

// Copies of this program writing into the same folder take turns: each
// holds an exclusive lock on the folder from its look at the name until its
// write is done, so that none finds the file replaced by another between the
// two and loses its press to it. Only these writers ask for the lock. Where
// the folder cannot be locked (no read permission, NFS) or another holds it
// past the patience, the write goes on without its turn, as a plain write
// would.
class WritersTurn {
public:
    explicit WritersTurn(int folder);
    WritersTurn(const WritersTurn &) = delete;
    WritersTurn &operator=(const WritersTurn &) = delete;
    ~WritersTurn();

private:
    UniqueFd m_folder;
};

// Overwrites the regular file `target`, under an exclusive lock, and syncs
// it. A failure that changed bytes says what the file now holds. False, with
// nothing changed, when another file stands at the name by the time it is
// opened. Throws ConfigWriteError.
bool writeInPlace(const Target &target, std::string_view content);

// Writes through the FIFO or character device `target` without blocking: a
// reader or device that takes nothing for a few seconds on end ends the write
// with an error, never the window's responsiveness. False, as for
// writeInPlace, when another file stands at the name. Throws ConfigWriteError.
bool writeThrough(const Target &target, std::string_view content);

// Writes `bytes` at `offset`, counting in `written` what got there. 0 or the
// error of the first failing write; a write that takes nothing counts as a
// full disk.
int writeAt(int fd, std::string_view bytes, off_t offset, std::size_t &written);

} // namespace ornivex::posix
