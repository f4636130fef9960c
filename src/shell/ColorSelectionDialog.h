#pragma once

#include <QDialog>

#include <memory>

class QLineEdit;
class Ui_ColorSelectionDialog;

// Edits the fourteen colour settings. The colour of each key is the background of its swatch,
// so the swatches are the dialog's whole state: nothing is written or applied until "Save
// Colors", and closing the window otherwise discards every change. Deletes itself when closed.
class ColorSelectionDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ColorSelectionDialog(QWidget* ip_parent = nullptr);
    ~ColorSelectionDialog() override;

public slots:
    void OnChangeWindowBackground();
    void OnChangeWindowText();
    void OnChangeInputBackground();
    void OnChangeInputText();
    void OnChangeButtonBackground();
    void OnChangeButtonText();
    void OnSaveColors();
    void OnResetToDefaults();
    void OnChangeTransferComplete();
    void OnChangeTransferQueued();
    void OnChangeTransferInProgress();
    void OnChangeTransferFailed();
    void OnChangeTransferOther();
    void OnChangeChatUsername();
    void OnChangeChatTimestamp();
    void OnChangeChatStatus();

private:
    // The swatch of each colour setting, in the order of ColorSettings::Entries.
    QLineEdit* Swatch(int i_entry) const;
    void ChangeSwatch(QLineEdit* ip_swatch);

    std::unique_ptr<Ui_ColorSelectionDialog> mp_ui;
};
