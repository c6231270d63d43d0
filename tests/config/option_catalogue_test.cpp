#include "option_catalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace ornivex;

TEST(OptionCatalogue, GroupsComeInFileOrderWithTheirSizes)
{
    const auto groups = OptionCatalogue::groups();
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].sectionName, "WeaponBan");
    EXPECT_EQ(groups[1].sectionName, "GrenadeBan");
    EXPECT_EQ(groups[2].sectionName, "Settings");
    EXPECT_EQ(groups[0].entries.size(), 14u);
    EXPECT_EQ(groups[1].entries.size(), 5u);
    EXPECT_EQ(groups[2].entries.size(), 6u);
    EXPECT_EQ(&OptionCatalogue::entry(FlagGroup::WeaponBan, 13), &groups[0].entries[13]);
    EXPECT_THROW(OptionCatalogue::entry(FlagGroup::Settings, 6), std::out_of_range);
}

TEST(OptionCatalogue, KeysAreUniqueAndExactlyFiveStartChecked)
{
    std::set<std::string_view> keys{OptionCatalogue::kFrequencyKey};
    std::set<std::string> checked;
    int flags = 0;
    for (const FlagGroupInfo &group : OptionCatalogue::groups()) {
        for (const FlagEntry &entry : group.entries) {
            ++flags;
            EXPECT_TRUE(keys.insert(entry.key).second) << entry.key;
            EXPECT_TRUE(entry.key.ends_with('=')) << entry.key;
            if (entry.initiallyChecked)
                checked.emplace(entry.key);
        }
    }
    EXPECT_EQ(flags, OptionCatalogue::kFlagCount);
    EXPECT_EQ(checked, (std::set<std::string>{"smartgun=", "proxy=", "spider=", "hardcoreevac=", "IDsInName="}));
}

TEST(OptionCatalogue, SixMessagesStartFilledAndFourEmpty)
{
    for (int i = 0; i < OptionCatalogue::kMessageCount; ++i)
        EXPECT_EQ(OptionCatalogue::messageInitialText(i).empty(), i >= 6) << "message " << i;
    EXPECT_NE(OptionCatalogue::messageInitialText(1).find("example.org"), std::string_view::npos);
}
