#pragma once

#include <cstdint>

namespace ornivex {

// The byte range that writers of this tool lock exclusively on Windows while
// they write ORNIVEX_CONFIG.txt in place, so that they take turns. Windows'
// byte-range locks are mandatory: a lock on the file's data would make every
// other program's reads of it fail meanwhile, the game server's among them.
// This one byte lies far beyond any data a file can hold, just below the
// largest offset (signed, as many file systems and network shares take
// offsets), so only those who ask for it meet it.
inline constexpr std::uint64_t kWindowsWriterLockOffset = 0x7FFF'FFFF'FFFF'FFFE;
inline constexpr std::uint64_t kWindowsWriterLockLength = 1;

} // namespace ornivex
