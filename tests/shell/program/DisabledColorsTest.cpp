#include <algorithm>
#include <cmath>

#include "ProgramFixture.h"
#include "shell/ColorSelectionDialog.h"
#include "shell/ColorSettings.h"
#include "views/search/AddSharedFolderDialog.h"

namespace
{
// The six palette keys in the order of ColorSettings::Entries, with the swatch each is picked in.
const char* const g_keys[] = {"color_window_background", "color_window_text", "color_input_background",
                              "color_input_text", "color_button_background", "color_button_text"};
const char* const g_changeButtons[] = {"windowBackgroundButton", "windowTextButton", "inputBackgroundButton",
                                       "inputTextButton", "buttonBackgroundButton", "buttonTextButton"};
const QStringList g_dark = {"#202020", "#e0e0e0", "#101010", "#f0f0f0", "#303030", "#e8e8e8"};

// Each text role, the background it is drawn on, and the setting that colours it.
const struct
{
    QPalette::ColorRole text, background;
    const char* key;
} g_textRoles[] = {{QPalette::WindowText, QPalette::Window, "color_window_text"},
                   {QPalette::Text, QPalette::Base, "color_input_text"},
                   {QPalette::ButtonText, QPalette::Button, "color_button_text"}};

// The contrast ratio of two colours by their relative luminance, from 1 (none) to 21.
double Contrast(const QColor& i_one, const QColor& i_other)
{
    const auto l_luminance = [](const QColor& i_color) {
        const auto l_linear = [](double i_channel) {
            return i_channel <= 0.03928 ? i_channel / 12.92 : std::pow((i_channel + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * l_linear(i_color.redF()) + 0.7152 * l_linear(i_color.greenF()) +
               0.0722 * l_linear(i_color.blueF());
    };
    const double l_one = l_luminance(i_one), l_other = l_luminance(i_other);
    return (std::max(l_one, l_other) + 0.05) / (std::min(l_one, l_other) + 0.05);
}

// How the colours came to be in force.
enum class Choice
{
    DefaultAtStartUp,
    DarkAtStartUp,
    DarkSavedInTheDialog
};

std::string ChoiceName(const ::testing::TestParamInfo<Choice>& i_info)
{
    const char* const l_names[] = {"DefaultAtStartUp", "DarkAtStartUp", "DarkSavedInTheDialog"};
    return l_names[static_cast<int>(i_info.param)];
}
} // namespace

class DisabledColors : public ProgramFixture, public ::testing::WithParamInterface<Choice>
{
protected:
    void SetUp() override
    {
        ProgramFixture::SetUp();
        m_platform = QApplication::palette();
    }
    void TearDown() override
    {
        ProgramFixture::TearDown();
        // The next start in this process takes its defaults from the application palette.
        QApplication::setPalette(m_platform);
    }

    QStringList StoredPaletteColors() const
    {
        QStringList l_values;
        for (const char* l_key : g_keys)
            l_values << GetSetting(l_key);
        return l_values;
    }

    QPalette m_platform;
};
INSTANTIATE_TEST_SUITE_P(DefaultOrDark, DisabledColors,
                         ::testing::Values(Choice::DefaultAtStartUp, Choice::DarkAtStartUp,
                                           Choice::DarkSavedInTheDialog),
                         ChoiceName);

TEST_P(DisabledColors, DimTheirTextReadablyAndLeaveTheStoredColoursAsChosen)
{
    const Choice l_choice = GetParam();
    QStringList l_chosen = g_dark;
    if (l_choice == Choice::DefaultAtStartUp)
    {
        l_chosen.clear();
        for (const ColorSettings::Entry& l_entry : ColorSettings::Entries())
            if (l_entry.role != QPalette::NoRole)
                l_chosen << m_platform.color(l_entry.role).name();
    }
    if (l_choice == Choice::DarkAtStartUp)
        for (int l_i = 0; l_i < 6; ++l_i)
            m_store.Setting(g_keys[l_i], g_dark[l_i]);
    ASSERT_TRUE(m_store.WriteTo(StorePath()));
    Start();
    mp_window->show();
    if (l_choice == Choice::DarkSavedInTheDialog)
    {
        mp_ui->selectColorsButton->click();
        auto* lp_colors = mp_window->findChild<ColorSelectionDialog*>();
        ASSERT_NE(lp_colors, nullptr);
        for (int l_i = 0; l_i < 6; ++l_i)
        {
            m_color = QColor(g_dark[l_i]);
            Child<QPushButton>(lp_colors, g_changeButtons[l_i])->click();
        }
        Child<QPushButton>(lp_colors, "saveColorsButton")->click();
    }
    EXPECT_EQ(StoredPaletteColors(), l_chosen);

    // A new folder may be shared with everyone; the narrower choice waits until that is unticked.
    mp_window->OnToolBarActionTriggered(nullptr, "share_folder");
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
    mp_window.reset();
    const QStringList l_links = StoreFile::Links(StoreBytes());
    for (int l_i = 0; l_i < 6; ++l_i)
        EXPECT_TRUE(l_links.contains(QString("global=%1~global_value=%2").arg(g_keys[l_i], l_chosen[l_i])))
            << g_keys[l_i];
}
