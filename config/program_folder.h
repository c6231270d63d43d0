#pragma once

#include <filesystem>

namespace ornivex {

// The folder that holds the running program, as the system names it at the
// moment of the call, so that a folder renamed while the program runs is
// found under its new name. Throws ConfigWriteError naming the cause when
// the folder cannot be told for sure; never falls back to the working
// directory, which may hold another server's file.
std::filesystem::path ProgramFolder();

} // namespace ornivex
