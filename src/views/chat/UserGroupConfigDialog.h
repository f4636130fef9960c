#pragma once

#include <QDialog>

#include <memory>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"

class QListWidgetItem;
class Ui_UserGroupConfigDialog;

// Edits each group's download priority and upload permission, and deletes groups; every change
// goes to the store at once. At most one is open, reached through `userGroupConfigDialog`.
class UserGroupConfigDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    explicit UserGroupConfigDialog(QWidget* ip_parent = nullptr);
    ~UserGroupConfigDialog() override;

    void OnUserGroupAdded(ItemPtr i_group);
    void OnUserGroupRemoved(ItemPtr i_group);

public slots:
    void OnCurrentGroupItemChanged(QListWidgetItem* ip_current, QListWidgetItem* ip_previous);
    void OnAcceptUploadsCheckboxToggled(bool i_checked);
    void OnPrioritySpinValueChanged(int i_value);
    void OnDeleteClicked();

private:
    // The group of the current row; null without one.
    ItemPtr CurrentGroup() const;
    void EnableControls(bool i_enabled);

    std::unique_ptr<Ui_UserGroupConfigDialog> mp_ui;
};

extern UserGroupConfigDialog* userGroupConfigDialog;
