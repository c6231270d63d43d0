#include "option_catalogue.h"

#include <gtest/gtest.h>

#include <set>

using namespace ornivex;

TEST(OptionCatalogue, KeysAreUniqueAndOnlyTwoCaptionsEndInABlank)
{
    std::set<std::string_view> keys{OptionCatalogue::kFrequencyKey};
    std::set<std::string_view> blankEnded;
    for (const FlagGroupInfo &group : OptionCatalogue::groups()) {
        for (const FlagEntry &entry : group.entries) {
            EXPECT_TRUE(keys.insert(entry.key).second) << entry.key;
            if (entry.caption.ends_with(' '))
                blankEnded.insert(entry.key);
        }
    }
    EXPECT_EQ(keys.size(), OptionCatalogue::kFlagCount + 1u);
    EXPECT_EQ(blankEnded, (std::set<std::string_view>{"allowNPC=", "IDsInName="}));
    EXPECT_THROW(OptionCatalogue::entry(FlagGroup::Settings, 6), std::out_of_range);
}
