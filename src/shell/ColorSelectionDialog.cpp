#include "shell/ColorSelectionDialog.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include "shell/ColorSettings.h"
#include "shell/Desktop.h"
#include "store/Settings.h"
#include "ui_ColorSelectionDialog.h"

namespace
{
using SwatchMember = QLineEdit* Ui_ColorSelectionDialog::*;

// Parallel to ColorSettings::Entries.
const std::array<SwatchMember, ColorSettings::Count> g_swatches{{
    &Ui_ColorSelectionDialog::windowBackgroundColor,
    &Ui_ColorSelectionDialog::windowTextColor,
    &Ui_ColorSelectionDialog::inputBackgroundColor,
    &Ui_ColorSelectionDialog::inputTextColor,
    &Ui_ColorSelectionDialog::buttonBackgroundColor,
    &Ui_ColorSelectionDialog::buttonTextColor,
    &Ui_ColorSelectionDialog::transferQueuedColor,
    &Ui_ColorSelectionDialog::transferCompleteColor,
    &Ui_ColorSelectionDialog::transferInProgressColor,
    &Ui_ColorSelectionDialog::transferFailedColor,
    &Ui_ColorSelectionDialog::transferOtherColor,
    &Ui_ColorSelectionDialog::chatUsernameColor,
    &Ui_ColorSelectionDialog::chatTimestampColor,
    &Ui_ColorSelectionDialog::chatStatusColor,
}};

struct ButtonSlot
{
    QPushButton* Ui_ColorSelectionDialog::*button;
    void (ColorSelectionDialog::*slot)();
};

const ButtonSlot g_buttonSlots[] = {
    {&Ui_ColorSelectionDialog::windowBackgroundButton, &ColorSelectionDialog::OnChangeWindowBackground},
    {&Ui_ColorSelectionDialog::windowTextButton, &ColorSelectionDialog::OnChangeWindowText},
    {&Ui_ColorSelectionDialog::inputBackgroundButton, &ColorSelectionDialog::OnChangeInputBackground},
    {&Ui_ColorSelectionDialog::inputTextButton, &ColorSelectionDialog::OnChangeInputText},
    {&Ui_ColorSelectionDialog::buttonBackgroundButton, &ColorSelectionDialog::OnChangeButtonBackground},
    {&Ui_ColorSelectionDialog::buttonTextButton, &ColorSelectionDialog::OnChangeButtonText},
    {&Ui_ColorSelectionDialog::chatUsernameButton, &ColorSelectionDialog::OnChangeChatUsername},
    {&Ui_ColorSelectionDialog::chatTimestampButton, &ColorSelectionDialog::OnChangeChatTimestamp},
    {&Ui_ColorSelectionDialog::chatStatusButton, &ColorSelectionDialog::OnChangeChatStatus},
    {&Ui_ColorSelectionDialog::transferQueuedButton, &ColorSelectionDialog::OnChangeTransferQueued},
    {&Ui_ColorSelectionDialog::transferInProgressButton, &ColorSelectionDialog::OnChangeTransferInProgress},
    {&Ui_ColorSelectionDialog::transferCompleteButton, &ColorSelectionDialog::OnChangeTransferComplete},
    {&Ui_ColorSelectionDialog::transferFailedButton, &ColorSelectionDialog::OnChangeTransferFailed},
    {&Ui_ColorSelectionDialog::transferOtherButton, &ColorSelectionDialog::OnChangeTransferOther},
    {&Ui_ColorSelectionDialog::saveColorsButton, &ColorSelectionDialog::OnSaveColors},
    {&Ui_ColorSelectionDialog::resetToDefaultsButton, &ColorSelectionDialog::OnResetToDefaults},
};

QColor SwatchColor(const QLineEdit* ip_swatch)
{
    return ip_swatch->palette().color(QPalette::Base);
}

void SetSwatchColor(QLineEdit* ip_swatch, const QColor& i_color)
{
    QPalette l_palette = ip_swatch->palette();
    l_palette.setColor(QPalette::Base, i_color);
    ip_swatch->setPalette(l_palette);
}
} // namespace

ColorSelectionDialog::ColorSelectionDialog(QWidget* ip_parent)
    : QDialog(ip_parent), mp_ui(std::make_unique<Ui_ColorSelectionDialog>())
{
    mp_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    for (const ButtonSlot& l_pair : g_buttonSlots)
        connect((*mp_ui).*l_pair.button, &QPushButton::clicked, this, l_pair.slot);

    // The palette in force now already carries the stored colours; the view colours exist only
    // as settings.
    const QPalette l_current = QApplication::palette();
    for (int l_i = 0; l_i < ColorSettings::Count; ++l_i)
    {
        const ColorSettings::Entry& l_entry = ColorSettings::Entries()[l_i];
        SetSwatchColor(Swatch(l_i), l_entry.role == QPalette::NoRole
                                        ? ColorSettings::StoredColor(l_entry.key)
                                        : l_current.color(l_entry.role));
    }
}

ColorSelectionDialog::~ColorSelectionDialog() = default;

QLineEdit* ColorSelectionDialog::Swatch(int i_entry) const
{
    return (*mp_ui).*g_swatches[i_entry];
}

void ColorSelectionDialog::ChangeSwatch(QLineEdit* ip_swatch)
{
    const QColor l_color = Desktop::PickColor(SwatchColor(ip_swatch), this);
    if (l_color.isValid())
        SetSwatchColor(ip_swatch, l_color);
}

void ColorSelectionDialog::OnChangeWindowBackground() { ChangeSwatch(mp_ui->windowBackgroundColor); }
void ColorSelectionDialog::OnChangeWindowText() { ChangeSwatch(mp_ui->windowTextColor); }
void ColorSelectionDialog::OnChangeInputBackground() { ChangeSwatch(mp_ui->inputBackgroundColor); }
void ColorSelectionDialog::OnChangeInputText() { ChangeSwatch(mp_ui->inputTextColor); }
void ColorSelectionDialog::OnChangeButtonBackground() { ChangeSwatch(mp_ui->buttonBackgroundColor); }
void ColorSelectionDialog::OnChangeButtonText() { ChangeSwatch(mp_ui->buttonTextColor); }
void ColorSelectionDialog::OnChangeTransferComplete() { ChangeSwatch(mp_ui->transferCompleteColor); }
void ColorSelectionDialog::OnChangeTransferQueued() { ChangeSwatch(mp_ui->transferQueuedColor); }
void ColorSelectionDialog::OnChangeTransferInProgress() { ChangeSwatch(mp_ui->transferInProgressColor); }
void ColorSelectionDialog::OnChangeTransferFailed() { ChangeSwatch(mp_ui->transferFailedColor); }
void ColorSelectionDialog::OnChangeTransferOther() { ChangeSwatch(mp_ui->transferOtherColor); }
void ColorSelectionDialog::OnChangeChatUsername() { ChangeSwatch(mp_ui->chatUsernameColor); }
void ColorSelectionDialog::OnChangeChatTimestamp() { ChangeSwatch(mp_ui->chatTimestampColor); }
void ColorSelectionDialog::OnChangeChatStatus() { ChangeSwatch(mp_ui->chatStatusColor); }

void ColorSelectionDialog::OnResetToDefaults()
{
    for (int l_i = 0; l_i < ColorSettings::Count; ++l_i)
        SetSwatchColor(Swatch(l_i), ColorSettings::DefaultColor(ColorSettings::Entries()[l_i]));
}

void ColorSelectionDialog::OnSaveColors()
{
    std::array<QColor, ColorSettings::PaletteCount> l_colors;
    for (int l_i = 0; l_i < ColorSettings::PaletteCount; ++l_i)
        l_colors[l_i] = SwatchColor(Swatch(l_i));
    QPalette l_palette = QApplication::palette();
    ColorSettings::ApplyPaletteColors(l_palette, l_colors);
    QApplication::setPalette(l_palette);

    for (int l_i = 0; l_i < ColorSettings::Count; ++l_i)
    {
        const ColorSettings::Entry& l_entry = ColorSettings::Entries()[l_i];
        const QColor l_color = l_entry.role == QPalette::NoRole ? SwatchColor(Swatch(l_i))
                                                                : l_palette.color(l_entry.role);
        SetSetting(QLatin1String(l_entry.key), ColorSettings::ColorText(l_color));
    }

    ColorSettings::RecolorTransfers();
    accept();
}
