#include "shell/ColorSettings.h"

#include <QApplication>

#include "store/Settings.h"

QPalette defaultPalette;

namespace
{
std::function<void()>& RecolorTransfersHook()
{
    static std::function<void()> s_recolor;
    return s_recolor;
}

// The role a text role is drawn on; NoRole for the background roles.
QPalette::ColorRole BackgroundOf(QPalette::ColorRole i_text)
{
    switch (i_text)
    {
    case QPalette::WindowText:
        return QPalette::Window;
    case QPalette::Text:
        return QPalette::Base;
    case QPalette::ButtonText:
        return QPalette::Button;
    default:
        return QPalette::NoRole;
    }
}

QColor Halfway(const QColor& i_from, const QColor& i_to)
{
    return QColor((i_from.red() + i_to.red()) / 2, (i_from.green() + i_to.green()) / 2,
                  (i_from.blue() + i_to.blue()) / 2);
}
} // namespace

const std::array<ColorSettings::Entry, ColorSettings::Count>& ColorSettings::Entries()
{
    static const std::array<Entry, Count> s_entries{{
        {"color_window_background", QPalette::Window, 0},
        {"color_window_text", QPalette::WindowText, 0},
        {"color_input_background", QPalette::Base, 0},
        {"color_input_text", QPalette::Text, 0},
        {"color_button_background", QPalette::Button, 0},
        {"color_button_text", QPalette::ButtonText, 0},
        {"color_transfer_queued", QPalette::NoRole, qRgb(51, 102, 255)},
        {"color_transfer_complete", QPalette::NoRole, qRgb(0, 100, 0)},
        {"color_transfer_in_progress", QPalette::NoRole, qRgb(0, 0, 255)},
        {"color_transfer_failed", QPalette::NoRole, qRgb(255, 10, 71)},
        {"color_transfer_other", QPalette::NoRole, qRgb(0, 0, 0)},
        {"color_chat_username", QPalette::NoRole, qRgb(0, 51, 255)},
        {"color_chat_timestamp", QPalette::NoRole, qRgb(0, 102, 255)},
        {"color_chat_status", QPalette::NoRole, qRgb(51, 153, 51)},
    }};
    return s_entries;
}

QString ColorSettings::ColorText(const QColor& i_color)
{
    return i_color.name(QColor::HexRgb).toLower();
}

QColor ColorSettings::StoredColor(const char* i_key)
{
    QColor l_color;
    l_color.setNamedColor(GetSetting(QLatin1String(i_key)));
    return l_color;
}

QColor ColorSettings::DefaultColor(const Entry& i_entry)
{
    if (i_entry.role == QPalette::NoRole)
        return QColor(i_entry.fixedDefault);
    return defaultPalette.color(i_entry.role);
}

void ColorSettings::SetRole(QPalette& io_palette, QPalette::ColorRole i_role, const QColor& i_color)
{
    io_palette.setBrush(i_role, QBrush(i_color, Qt::SolidPattern));
}

void ColorSettings::ApplyPaletteColors(QPalette& io_palette,
                                       const std::array<QColor, PaletteCount>& i_colors)
{
    for (int l_i = 0; l_i < PaletteCount; ++l_i)
        if (i_colors[l_i].isValid())
            SetRole(io_palette, Entries()[l_i].role, i_colors[l_i]);
    // A text colour left to the platform keeps the platform's own disabled form.
    for (int l_i = 0; l_i < PaletteCount; ++l_i)
    {
        const QPalette::ColorRole l_text = Entries()[l_i].role;
        const QPalette::ColorRole l_background = BackgroundOf(l_text);
        if (l_background != QPalette::NoRole && i_colors[l_i].isValid())
            io_palette.setBrush(
                QPalette::Disabled, l_text,
                QBrush(Halfway(i_colors[l_i], io_palette.color(QPalette::Disabled, l_background)),
                       Qt::SolidPattern));
    }
}

void ColorSettings::WriteDefaults()
{
    defaultPalette = QApplication::palette();
    for (const Entry& l_entry : Entries())
        SetSetting(QLatin1String(l_entry.key), ColorText(DefaultColor(l_entry)));
}

void ColorSettings::InstallStoredPalette()
{
    // A damaged store must not paint the whole window in one invalid colour: such a key keeps
    // the platform's own colour.
    std::array<QColor, PaletteCount> l_colors;
    for (int l_i = 0; l_i < PaletteCount; ++l_i)
        l_colors[l_i] = StoredColor(Entries()[l_i].key);
    QPalette l_palette = defaultPalette;
    ApplyPaletteColors(l_palette, l_colors);
    QApplication::setPalette(l_palette);
}

void ColorSettings::SetRecolorTransfers(std::function<void()> i_recolor)
{
    RecolorTransfersHook() = std::move(i_recolor);
}

void ColorSettings::RecolorTransfers()
{
    if (RecolorTransfersHook())
        RecolorTransfersHook()();
}
