#pragma once

#include <QDialog>
#include <QString>

#include <memory>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"

class QListWidgetItem;
class Ui_UserGroupsDialog;

// Ticks the groups one user of the user list belongs to, and creates groups. Every tick is
// written to the store at once. Deleted when closed; several may be open.
class UserGroupsDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    explicit UserGroupsDialog(QString i_user, QWidget* ip_parent = nullptr);
    ~UserGroupsDialog() override;

    void OnUserGroupAdded(ItemPtr i_group);

public slots:
    void OnNewGroupButtonClicked();
    void OnGroupItemChanged(QListWidgetItem* ip_row);

private:
    void AddRow(const QString& i_group, bool i_ticked);

    std::unique_ptr<Ui_UserGroupsDialog> mp_ui;
    QString m_user;
};
