#include "option_catalogue.h"

#include <array>
#include <stdexcept>

namespace ornivex {
namespace {

constexpr std::array<FlagEntry, 14> kWeaponBan{{
    {0, "shotgun=", "Shotgun", false},
    {1, "pulserifle=", "Pulse Rifle", false},
    {2, "grenadelauncher=", "Grenade Launcher", false},
    {3, "flamethrower=", "Flamethrower", false},
    {4, "smartgun=", "Smartgun", true},
    {5, "sadar=", "Sadar", false},
    {6, "minigun=", "Minigun", false},
    {7, "railgun=", "Railgun", false},
    {8, "predpistol=", "Predpistol", false},
    {9, "speargun=", "Speargun", false},
    {10, "shouldercannon=", "Shoulder Cannon", false},
    {11, "disc=", "Disc", false},
    {12, "netgun=", "Netgun", false},
    {13, "stickybomb=", "Sticky Bombs", false},
}};

constexpr std::array<FlagEntry, 5> kGrenadeBan{{
    {0, "pulse=", "Pulse Grenades", false},
    {1, "timed=", "Timed Grenades", false},
    {2, "proxy=", "Proxy Grenades", true},
    {3, "emp=", "EMP Grenades", false},
    {4, "spider=", "Spider Grenades", true},
}};

// Two captions end with a blank on purpose; the server operators know them so.
constexpr std::array<FlagEntry, 6> kSettings{{
    {0, "useIPBan=", "Use IP Banner", false},
    {1, "hardcoreevac=", "Use Hardcore Evac", true},
    {2, "block<name>=", "Block <name> command", false},
    {3, "adminpeep=", "Use Admin Peep Mode", false},
    {4, "allowNPC=", "Allow NPCs ", false},
    {5, "IDsInName=", "Use ID's in names ", true},
}};

constexpr std::array<FlagGroupInfo, 3> kGroups{{
    {FlagGroup::WeaponBan, "WeaponBan", "Banned Weapons", "chkWeapon", 0, kWeaponBan},
    {FlagGroup::GrenadeBan, "GrenadeBan", "Banned Grenades", "chkGrenade", 14, kGrenadeBan},
    {FlagGroup::Settings, "Settings", "Settings", "chkSettings", 19, kSettings},
}};

constexpr std::array<std::string_view, OptionCatalogue::kMessageCount> kMessages{{
    "please type <name>afk if u your going to be away for a while. thank you.",
    "ORNIVEX server mod by the ORNIVEX team - details at http://www.example.org/ornivex",
    "to release yourself from afk freefly, rename yourself (<name>newname)",
    "server hosted by <insert server name>",
    "No spamming text or nades, No Team kills, No SK, No back kills, no nading spawn, "
    "no stagger (pulse or sniper)",
    "Dont like the rules??? Then leave and rent your own server",
    "",
    "",
    "",
    "",
}};

constexpr bool offsetsAreContiguous()
{
    int next = 0;
    for (const FlagGroupInfo &info : kGroups) {
        if (info.firstFlag != next)
            return false;
        for (std::size_t i = 0; i < info.entries.size(); ++i) {
            if (info.entries[i].index != static_cast<int>(i))
                return false;
        }
        next += static_cast<int>(info.entries.size());
    }
    return next == OptionCatalogue::kFlagCount;
}
static_assert(offsetsAreContiguous(), "flag offsets and indices must run without gaps");

} // namespace

std::span<const FlagGroupInfo> OptionCatalogue::groups()
{
    return kGroups;
}

const FlagGroupInfo &OptionCatalogue::group(FlagGroup group)
{
    return kGroups.at(static_cast<std::size_t>(group));
}

const FlagEntry &OptionCatalogue::entry(FlagGroup group, int index)
{
    const auto entries = OptionCatalogue::group(group).entries;
    if (index < 0 || static_cast<std::size_t>(index) >= entries.size())
        throw std::out_of_range("no such flag entry");
    return entries[static_cast<std::size_t>(index)];
}

std::string_view OptionCatalogue::messageInitialText(int index)
{
    return kMessages.at(static_cast<std::size_t>(index));
}

} // namespace ornivex
