#pragma once

#include "file_replacement.h"
#include "option_catalogue.h"

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

namespace ornivex {

inline constexpr char kConfigFileName[] = "ORNIVEX_CONFIG.txt";

// What the window shows at the moment of the command.
struct ConfigSnapshot {
    // One state per flag, group by group in catalogue order (see FlagGroupInfo::firstFlag).
    std::array<bool, OptionCatalogue::kFlagCount> flags{};
    std::u16string frequency;
    std::array<std::u16string, OptionCatalogue::kMessageCount> messages;

    bool &flag(FlagGroup group, int index);
    bool flag(FlagGroup group, int index) const;

    // Every option in its catalogue initial state.
    static ConfigSnapshot initial();
};

// True when the text, less surrounding spaces, is a decimal number that rounds
// (half to even) to a whole number from -32768 to 32767.
bool IsFrequencyNumber(std::u16string_view text);

// The complete file for a snapshot: 46 lines in the server's code page, each
// ending in CR LF.
std::string FormatConfigFile(const ConfigSnapshot &snapshot);

// Writes ORNIVEX_CONFIG.txt into the directory (see ReplaceFileContents for
// how an earlier file is replaced). A failure leaves the earlier file as it
// was, unless the error says it changed it. Throws ConfigWriteError.
void WriteConfigFile(const ConfigSnapshot &snapshot, const std::filesystem::path &directory);

} // namespace ornivex
