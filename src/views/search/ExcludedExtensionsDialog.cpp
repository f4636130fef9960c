#include "views/search/ExcludedExtensionsDialog.h"

#include <QMenu>

#include "shell/Desktop.h"
#include "shell/UIFunctions.h"
#include "store/Data.h"
#include "store/Type.h"
#include "ui_ExcludedExtensionsDialog.h"

ExcludedExtensionsDialog* excludedExtensionsDialog = nullptr;

namespace
{
Type* Extensions()
{
    return d.GetType("excluded_download_extension");
}
} // namespace

ExcludedExtensionsDialog::ExcludedExtensionsDialog(QWidget* ip_parent)
    : QDialog(ip_parent), mp_ui(std::make_unique<Ui_ExcludedExtensionsDialog>())
{
    excludedExtensionsDialog = this;
    mp_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    Extensions()->m_newItemEvent.AddHandler(
        NewEventHandler(this, &ExcludedExtensionsDialog::OnExtensionAdded));
    for (ItemPtr l_extension : Extensions()->GetItems())
        OnExtensionAdded(l_extension);
    connect(mp_ui->newExtensionButton, &QPushButton::clicked, this,
            &ExcludedExtensionsDialog::OnNewExtensionButtonClicked);
    connect(mp_ui->extensionListWidget, &QListWidget::customContextMenuRequested, this,
            &ExcludedExtensionsDialog::OnExtensionListContextMenuRequested);
}

ExcludedExtensionsDialog::~ExcludedExtensionsDialog()
{
    if (excludedExtensionsDialog == this)
        excludedExtensionsDialog = nullptr;
}

ExcludedExtensionsDialog* ExcludedExtensionsDialog::Open(QWidget* ip_parent)
{
    ExcludedExtensionsDialog* lp_dialog =
        excludedExtensionsDialog ? excludedExtensionsDialog : new ExcludedExtensionsDialog(ip_parent);
    lp_dialog->show();
    lp_dialog->raise();
    ActivateWindow(lp_dialog);
    return lp_dialog;
}

void ExcludedExtensionsDialog::OnNewExtensionButtonClicked()
{
    const QString l_text = mp_ui->newExtensionEdit->text().trimmed();
    mp_ui->newExtensionEdit->clear();
    // An existing value fires no new-item event, so it is never listed twice.
    if (!l_text.isEmpty())
        Extensions()->GetItem(l_text);
}

void ExcludedExtensionsDialog::OnExtensionAdded(ItemPtr i_extension)
{
    mp_ui->extensionListWidget->addItem(i_extension.AsString());
}

void ExcludedExtensionsDialog::OnExtensionListContextMenuRequested(const QPoint& i_point)
{
    QListWidget* lp_list = mp_ui->extensionListWidget;
    if (!lp_list->itemAt(i_point))
        return;
    QMenu l_menu;
    connect(l_menu.addAction(tr("Remove")), &QAction::triggered, this,
            &ExcludedExtensionsDialog::OnRemoveExcludedExtension);
    Desktop::RunPopupMenu(l_menu, lp_list->viewport()->mapToGlobal(i_point));
}

void ExcludedExtensionsDialog::OnRemoveExcludedExtension()
{
    for (QListWidgetItem* lp_row : mp_ui->extensionListWidget->selectedItems())
    {
        if (ItemPtr l_extension = Extensions()->HasItem(lp_row->text()))
            l_extension.Remove();
        delete lp_row;
    }
}
