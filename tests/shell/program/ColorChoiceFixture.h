#pragma once

#include <algorithm>
#include <cmath>

#include <QApplication>

#include "ProgramFixture.h"
#include "shell/ColorSelectionDialog.h"
#include "shell/ColorSettings.h"

// The contrast ratio of two colours by their relative luminance, from 1 (none) to 21.
inline double Contrast(const QColor& i_one, const QColor& i_other)
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

// Dark colours in the order of ColorSettings::Entries: window, window text, input, input text,
// button, button text.
inline const QStringList g_darkColors = {"#202020", "#e0e0e0", "#101010", "#f0f0f0", "#303030", "#e8e8e8"};

// The application palette as the platform gave it, put back when the test ends: the next start in
// this process takes its defaults from the application palette.
class PlatformPalette
{
public:
    PlatformPalette() : m_palette(QApplication::palette()) {}
    ~PlatformPalette() { QApplication::setPalette(m_palette); }
    const QPalette& operator*() const { return m_palette; }

private:
    QPalette m_palette;
};

// How the colours came to be in force.
enum class ColorChoice
{
    DefaultAtStartUp,
    DarkAtStartUp,
    DarkSavedInTheDialog
};

inline std::string ColorChoiceName(const ::testing::TestParamInfo<ColorChoice>& i_info)
{
    const char* const l_names[] = {"DefaultAtStartUp", "DarkAtStartUp", "DarkSavedInTheDialog"};
    return l_names[static_cast<int>(i_info.param)];
}

// Every choice, for the suites that look at the window in each.
inline auto EveryColorChoice()
{
    return ::testing::Values(ColorChoice::DefaultAtStartUp, ColorChoice::DarkAtStartUp,
                             ColorChoice::DarkSavedInTheDialog);
}

// The whole client with the platform's colours, with six palette colours stored before it starts,
// or with them picked and saved in the colour dialog while it runs. Dark colours are given in the
// order of ColorSettings::Entries: window, window text, input, input text, button, button text.
class ColorChoiceFixture : public ProgramFixture, public ::testing::WithParamInterface<ColorChoice>
{
protected:

    // Writes the store (with the dark colours in it when they are chosen at start-up), starts
    // and shows the window; returns the six colours the settings should hold from now on.
    QStringList StartShown(const QStringList& i_dark)
    {
        QStringList l_chosen = i_dark;
        if (GetParam() == ColorChoice::DefaultAtStartUp)
        {
            l_chosen.clear();
            for (const ColorSettings::Entry& l_entry : ColorSettings::Entries())
                if (l_entry.role != QPalette::NoRole)
                    l_chosen << (*m_platform).color(l_entry.role).name();
        }
        if (GetParam() == ColorChoice::DarkAtStartUp)
            for (int l_i = 0; l_i < ColorSettings::PaletteCount; ++l_i)
                m_store.Setting(Key(l_i), i_dark[l_i]);
        EXPECT_TRUE(m_store.WriteTo(StorePath()));
        Start();
        mp_window->show();
        return l_chosen;
    }

    // When the dark colours are to be saved while running: picks each in its "Change" button and
    // presses "Save Colors".
    void SaveInTheDialogWhenChosen(const QStringList& i_dark)
    {
        if (GetParam() != ColorChoice::DarkSavedInTheDialog)
            return;
        const char* const l_changeButtons[] = {"windowBackgroundButton", "windowTextButton",
                                               "inputBackgroundButton",  "inputTextButton",
                                               "buttonBackgroundButton", "buttonTextButton"};
        mp_ui->selectColorsButton->click();
        auto* lp_colors = mp_window->findChild<ColorSelectionDialog*>();
        ASSERT_NE(lp_colors, nullptr);
        for (int l_i = 0; l_i < ColorSettings::PaletteCount; ++l_i)
        {
            m_color = QColor(i_dark[l_i]);
            Child<QPushButton>(lp_colors, l_changeButtons[l_i])->click();
        }
        Child<QPushButton>(lp_colors, "saveColorsButton")->click();
    }

    static const char* Key(int i_index) { return ColorSettings::Entries()[i_index].key; }

    QStringList StoredPaletteColors() const
    {
        QStringList l_values;
        for (int l_i = 0; l_i < ColorSettings::PaletteCount; ++l_i)
            l_values << GetSetting(Key(l_i));
        return l_values;
    }

    // Closes the window and checks what the next start reads: the colours as chosen.
    void ExpectStoreFileHolds(const QStringList& i_chosen)
    {
        mp_window.reset();
        const QStringList l_links = StoreFile::Links(StoreBytes());
        for (int l_i = 0; l_i < ColorSettings::PaletteCount; ++l_i)
            EXPECT_TRUE(l_links.contains(QString("global=%1~global_value=%2").arg(Key(l_i), i_chosen[l_i])))
                << Key(l_i);
    }

    PlatformPalette m_platform;
};
