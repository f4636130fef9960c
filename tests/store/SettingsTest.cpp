#include "store/Data.h"
#include "store/SchemaDeclaration.h"
#include "store/Settings.h"
#include "support/support/ClientSchema.h"

#include <gtest/gtest.h>

TEST(SettingsTest, ReadsWritesAndReplacesValuesInBothScopes)
{
    DeclareSettingsTypes();
    for (SettingScope l_scope : {SettingScope::Saved, SettingScope::Unsaved})
    {
        EXPECT_TRUE(GetSetting("k", l_scope).isEmpty());
        EXPECT_FALSE(SettingValueItem("k", l_scope));
        EXPECT_EQ(GetSettingInt("k", l_scope), 0);
        EXPECT_TRUE(SetSettingIfUnset("k", 42, l_scope));
        EXPECT_FALSE(SetSettingIfUnset("k", 7, l_scope));
        EXPECT_EQ(GetSettingInt("k", l_scope), 42);
        SetFlagSetting("k", true, l_scope);
        EXPECT_TRUE(IsSettingYes("k", l_scope));
        SetFlagSetting("k", false, l_scope);
        EXPECT_FALSE(IsSettingYes("k", l_scope));
        EXPECT_EQ(GetSetting("k", l_scope), "no");
    }
    // The two scopes hold separate keys, and one key holds one value.
    SetSetting("only_saved", "a");
    EXPECT_TRUE(GetSetting("only_saved", SettingScope::Unsaved).isEmpty());
    EXPECT_EQ(d.GetType("global")->HasItem("k").GetItems("global_value").Size(), 1u);
}

TEST(SettingsTest, RelationsAreDeclaredFromTheFirstTypesPointOfView)
{
    DeclareTypes({{"owner", Primary, false}, {"part", Leaf, true, false}});
    DeclareRelations({{"owner", "part", Many, One, true}});
    EXPECT_EQ(d.GetType("owner")->GetRelation(d.GetType("part")), (RelationInfo{Many, One, true, false}));
    EXPECT_EQ(d.GetType("part")->GetRelation(d.GetType("owner")), (RelationInfo{One, Many, false, true}));
    EXPECT_TRUE(d.GetType("owner")->IsAutoCreate() && !d.GetType("part")->IsAutoCreate());
}
