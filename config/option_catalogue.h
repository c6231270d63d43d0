#pragma once

#include <span>
#include <string_view>

namespace ornivex {

// The three groups of on/off flags, in the order they are shown and written.
enum class FlagGroup { WeaponBan, GrenadeBan, Settings };

struct FlagEntry {
    int index;                // position in its group and in its check-box array
    std::string_view key;     // written in front of the value, "=" included
    std::string_view caption; // text beside the check box, character for character
    bool initiallyChecked;
};

struct FlagGroupInfo {
    FlagGroup group;
    std::string_view sectionName; // the word between square brackets in the file
    std::string_view frameCaption;
    std::string_view checkBoxArrayName;
    int firstFlag; // offset of entry 0 among all flags
    std::span<const FlagEntry> entries;
};

// The built-in description of every option: the single source of section
// names, keys, captions, order and initial states for the writer and the window.
class OptionCatalogue {
public:
    static constexpr int kFlagCount = 25;
    static constexpr int kMessageCount = 10;

    static std::span<const FlagGroupInfo> groups();
    static const FlagGroupInfo &group(FlagGroup group);
    static const FlagEntry &entry(FlagGroup group, int index);

    static constexpr std::string_view kFrequencyKey = "messagefrequency=";
    static constexpr std::string_view kFrequencyLabel = "Message Frequency";
    static constexpr std::string_view kFrequencyInitialText = "2";
    static constexpr std::string_view kFrequencyFallback = "2";

    static constexpr std::string_view kMessageSectionName = "Messages";
    static constexpr std::string_view kMessageFrameCaption = "Messages";
    static constexpr std::string_view kMessageArrayName = "txtMessage";
    static std::string_view messageInitialText(int index);
};

} // namespace ornivex
