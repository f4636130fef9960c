#pragma once

#include <QColor>
#include <QPalette>
#include <QString>

#include <array>
#include <functional>

// The application palette as the platform style gave it at start-up, before any stored colour
// was applied. Filled once by ColorSettings::WriteDefaults and never changed afterwards; the
// colour dialog's reset goes back to it.
extern QPalette defaultPalette;

// The fourteen colour settings: six roles of the application palette and eight colours the
// chat and transfer views paint themselves. Values are "#" and six lower-case hex digits.
class ColorSettings
{
public:
    struct Entry
    {
        const char* key;
        // The palette role the colour is installed as; NoRole for the colours views paint.
        QPalette::ColorRole role;
        // The default of a view colour; palette colours default to `defaultPalette`.
        QRgb fixedDefault;
    };
    static constexpr int Count = 14;
    // The palette colours lead Entries().
    static constexpr int PaletteCount = 6;

    // In the order the colours are written: the six palette keys first.
    static const std::array<Entry, Count>& Entries();

    static QString ColorText(const QColor& i_color);
    // The stored colour; invalid when the setting holds no colour name.
    static QColor StoredColor(const char* i_key);
    static QColor DefaultColor(const Entry& i_entry);

    // Sets the role to a solid brush in every colour group; other roles stay as they are.
    static void SetRole(QPalette& io_palette, QPalette::ColorRole i_role, const QColor& i_color);
    // The six palette colours, in the order of Entries(), set with SetRole; an invalid colour
    // leaves its role as the palette has it. The disabled group then draws each given text
    // colour halfway towards its own background (window, input or button), so that a disabled
    // control does not look like one that can be used. Start-up and the colour dialog both
    // install their colours through here.
    static void ApplyPaletteColors(QPalette& io_palette,
                                   const std::array<QColor, PaletteCount>& i_colors);

    // Before the store is loaded: keeps the current application palette as `defaultPalette` and
    // writes the fourteen defaults, which the load then replaces with stored values.
    static void WriteDefaults();
    // After the load: the start-up palette with the six stored palette colours applied, installed
    // as the application palette. The view colours are read by the views whenever they paint.
    static void InstallStoredPalette();

    // The transfers view installs its recolouring here, so a saved colour shows at once.
    static void SetRecolorTransfers(std::function<void()> i_recolor);
    static void RecolorTransfers();
};
