#include "ColorChoiceFixture.h"
#include "views/search/AddSharedFolderDialog.h"

namespace
{
// Each text role, the background it is drawn on, and the setting that colours it.
const struct
{
    QPalette::ColorRole text, background;
    const char* key;
} g_textRoles[] = {{QPalette::WindowText, QPalette::Window, "color_window_text"},
                   {QPalette::Text, QPalette::Base, "color_input_text"},
                   {QPalette::ButtonText, QPalette::Button, "color_button_text"}};
} // namespace

using DisabledColors = ColorChoiceFixture;
INSTANTIATE_TEST_SUITE_P(DefaultOrDark, DisabledColors, EveryColorChoice(), ColorChoiceName);

TEST_P(DisabledColors, DimTheirTextReadablyAndLeaveTheStoredColoursAsChosen)
{
    const QStringList l_chosen = StartShown(g_darkColors);
    ASSERT_NO_FATAL_FAILURE(SaveInTheDialogWhenChosen(g_darkColors));
    EXPECT_EQ(StoredPaletteColors(), l_chosen);

    // A new folder may be shared with everyone; the narrower choice waits until that is unticked.
    Trigger("share_folder");
    auto* lp_share = mp_window->findChild<AddSharedFolderDialog*>();
    ASSERT_NE(lp_share, nullptr);
    const QCheckBox* lp_everyone = Child<QCheckBox>(lp_share, "everyoneCheckBox");
    const QCheckBox* lp_userList = Child<QCheckBox>(lp_share, "userListCheckBox");
    ASSERT_TRUE(lp_everyone->isEnabled());
    ASSERT_FALSE(lp_userList->isEnabled());
    const QPalette l_disabled = lp_userList->palette();
    const QPalette l_enabled = lp_everyone->palette();
    for (const auto& l_role : g_textRoles)
    {
        SCOPED_TRACE(l_role.key);
        const QColor l_text = l_enabled.color(QPalette::Active, l_role.text);
        const QColor l_dimmed = l_disabled.color(QPalette::Disabled, l_role.text);
        const QColor l_background = l_disabled.color(QPalette::Disabled, l_role.background);
        EXPECT_EQ(l_text.name(), GetSetting(l_role.key));
        EXPECT_EQ(l_enabled.color(QPalette::Inactive, l_role.text), l_text);
        EXPECT_EQ(l_background, l_enabled.color(QPalette::Active, l_role.background));
        // Three to one is the least contrast that text on a control may have and stay readable;
        // two to one against the enabled colour tells the two apart at a glance.
        EXPECT_GE(Contrast(l_dimmed, l_background), 3.0) << qPrintable(l_dimmed.name());
        EXPECT_GE(Contrast(l_dimmed, l_text), 2.0) << qPrintable(l_dimmed.name());
    }

    // What the next start reads: the colours as chosen, nothing dimmed.
    ExpectStoreFileHolds(l_chosen);
}
