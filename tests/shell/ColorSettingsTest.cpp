#include "shell/ColorSelectionDialog.h"
#include "shell/ColorSettings.h"

#include "ShellFixture.h"

namespace
{
// Parallel to ColorSettings::Entries; each button is named like its swatch, with "Button".
const QStringList g_swatches = {"windowBackgroundColor", "windowTextColor", "inputBackgroundColor",
    "inputTextColor", "buttonBackgroundColor", "buttonTextColor", "transferQueuedColor",
    "transferCompleteColor", "transferInProgressColor", "transferFailedColor", "transferOtherColor",
    "chatUsernameColor", "chatTimestampColor", "chatStatusColor"};
const QPalette::ColorGroup g_groups[] = {QPalette::Active, QPalette::Inactive, QPalette::Disabled};

// A distinct colour per row, with hex letters in its name.
QColor RowColor(int i_row) { return QColor(0xab, 0xcd, 0x10 + i_row); }

QStringList StoredColors()
{
    QStringList l_values;
    for (const ColorSettings::Entry& l_entry : ColorSettings::Entries())
        l_values << GetSetting(l_entry.key);
    return l_values;
}

QColor Installed(QPalette::ColorGroup i_group, int i_row)
{
    return QApplication::palette().color(i_group, ColorSettings::Entries()[i_row].role);
}

class ColorSettingsTest : public ::testing::Test, protected FakeDesktop
{
protected:
    void SetUp() override
    {
        DeclareSettingsTypes();
        m_startUp = QApplication::palette();
        ColorSettings::WriteDefaults();
        ColorSettings::SetRecolorTransfers([this] { ++m_recolors; });
    }
    void TearDown() override
    {
        delete mp_dialog;
        ColorSettings::SetRecolorTransfers({});
    }

    void Open()
    {
        // A saved or closed dialog deletes itself later; it must be gone before the next opens.
        FlushDeletes();
        ASSERT_TRUE(mp_dialog.isNull());
        mp_dialog = new ColorSelectionDialog;
    }
    void Click(QString i_button) { Child<QPushButton>(mp_dialog, qPrintable(i_button))->click(); }
    void ClickChange(int i_row) { Click(QString(g_swatches[i_row]).replace("Color", "Button")); }

    QPalette m_startUp;
    QPointer<ColorSelectionDialog> mp_dialog;
    int m_recolors = 0;
};
} // namespace

TEST_F(ColorSettingsTest, StartUpInstallsTheStoredPaletteAndOnlyTheDialogsSaveWritesInstallsAndRecolors)
{
    QStringList l_defaults;
    for (int l_row = 0; l_row < 6; ++l_row)
        l_defaults << m_startUp.color(ColorSettings::Entries()[l_row].role).name();
    l_defaults << "#3366ff" << "#006400" << "#0000ff" << "#ff0a47" << "#000000" << "#0033ff"
               << "#0066ff" << "#339933";
    EXPECT_EQ(StoredColors(), l_defaults);
    // As a load leaves them: upper-case digits parse, a damaged value keeps the platform colour.
    SetSetting("color_window_background", "#ABCDEF");
    SetSetting("color_input_background", "no colour");
    ColorSettings::InstallStoredPalette();
    for (QPalette::ColorGroup l_group : g_groups)
        EXPECT_EQ(QList<QColor>({Installed(l_group, 0), Installed(l_group, 2)}),
                  QList<QColor>({QColor(0xab, 0xcd, 0xef), m_startUp.color(l_group, QPalette::Base)}));
    EXPECT_EQ(defaultPalette, m_startUp);
    // The dialog opens on the colours in force, whatever their settings say.
    QPalette l_palette = QApplication::palette();
    QList<QColor> l_inForce;
    for (int l_row = 0; l_row < ColorSettings::Count; ++l_row)
    {
        const ColorSettings::Entry& l_entry = ColorSettings::Entries()[l_row];
        if (l_entry.role == QPalette::NoRole)
            SetSetting(l_entry.key, RowColor(l_row).name());
        else
            ColorSettings::SetRole(l_palette, l_entry.role, RowColor(l_row));
        l_inForce << RowColor(l_row);
    }
    QApplication::setPalette(l_palette);
    const QStringList l_before = StoredColors();
    // Closed after a change and a reset, it writes nothing.
    Open();
    m_color = Qt::green;
    Click("windowTextButton");
    Click("resetToDefaultsButton");
    mp_dialog->close();
    EXPECT_EQ(StoredColors(), l_before);
    EXPECT_EQ(QApplication::palette(), l_palette);
    // Each button opens the picker on its own swatch, which shows the colour in force; the
    // cancelled pick of the third keeps it.
    Open();
    m_picks.clear();
    QStringList l_expected;
    for (int l_row = 0; l_row < ColorSettings::Count; ++l_row)
    {
        m_color = l_row == 2 ? QColor() : RowColor(l_row + 0x20);
        ClickChange(l_row);
        l_expected << QString("#abcd%1").arg(l_row == 2 ? 0x12 : 0x30 + l_row, 2, 16);
    }
    EXPECT_EQ(m_picks, l_inForce);
    EXPECT_EQ(m_recolors, 0);
    Click("saveColorsButton");
    EXPECT_EQ(StoredColors(), l_expected);
    // Disabled text (the odd rows) is drawn dimmed; the program's test of disabled controls
    // looks at that.
    for (int l_row = 0; l_row < 6; ++l_row)
        for (QPalette::ColorGroup l_group : g_groups)
        {
            if (l_group == QPalette::Disabled && l_row % 2 == 1)
                continue;
            EXPECT_EQ(Installed(l_group, l_row).name(), l_expected[l_row]);
        }
    EXPECT_EQ(m_recolors, 1);
    // A reset goes back to the colours of this start, not to the ones saved.
    Open();
    Click("resetToDefaultsButton");
    Click("saveColorsButton");
    EXPECT_EQ(StoredColors(), l_defaults);
    for (QPalette::ColorGroup l_group : g_groups)
        EXPECT_EQ(Installed(l_group, 4), m_startUp.color(QPalette::Button));
    EXPECT_EQ(m_recolors, 2);
    FlushDeletes();
    EXPECT_TRUE(mp_dialog.isNull());
}
