#pragma once

#include <QDialog>

#include <memory>

class Ui_FilterHelpDialog;

// The one window that explains the filter language of the result, browse and upload filter
// boxes. `filterHelpDialog` points to it while it is open; closing it destroys it, and so does
// the destruction of the form that opened it.
class FilterHelpDialog : public QDialog
{
    Q_OBJECT

public:
    explicit FilterHelpDialog(QWidget* ip_parent = nullptr);
    ~FilterHelpDialog() override;

    // Shows the open help window, or a new one owned by the parent when none is open.
    static FilterHelpDialog* Open(QWidget* ip_parent);

    QString HelpText() const;

private:
    std::unique_ptr<Ui_FilterHelpDialog> mp_ui;
};

extern FilterHelpDialog* filterHelpDialog;
