#pragma once

#include <QDialog>

#include <memory>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"

class Ui_ExcludedExtensionsDialog;

// Edits the file-name endings that folder downloads skip. One at a time, reached through
// `excludedExtensionsDialog`; values added anywhere while it is open are listed at once.
class ExcludedExtensionsDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    explicit ExcludedExtensionsDialog(QWidget* ip_parent = nullptr);
    ~ExcludedExtensionsDialog() override;

    // The one dialog, created with the parent when there is none, shown and given the focus.
    static ExcludedExtensionsDialog* Open(QWidget* ip_parent);

public slots:
    void OnNewExtensionButtonClicked();
    void OnExtensionListContextMenuRequested(const QPoint& i_point);
    void OnRemoveExcludedExtension();

private:
    void OnExtensionAdded(ItemPtr i_extension);

    std::unique_ptr<Ui_ExcludedExtensionsDialog> mp_ui;
};

extern ExcludedExtensionsDialog* excludedExtensionsDialog;
