#pragma once

#include <QObject>
#include <QString>

class QMenu;

// The actions on one user that every list of users offers in its context menu. The caller
// builds the menu on the spot, adds this on its stack (no parent) and runs the menu; an
// entry's slot runs inside the menu's exec. Which entries show is read once, from the store,
// when the menu is built. A private room entry carries its room's name as the action's data.
class UserMenuOptions : public QObject
{
    Q_OBJECT

public:
    UserMenuOptions(QMenu* ip_menu, QString i_user, QObject* ip_parent = nullptr);
    ~UserMenuOptions() override;

public slots:
    void OnMessageUser();
    void OnSetUserGroups();
    void OnAddUser();
    void OnRemoveUser();
    void OnBrowseUser();
    void OnUploadToUser();
    void OnUserLog();
    void OnUnshareFilesFromUser();
    void OnReshareFilesWithUser();
    void OnIgnoreUser();
    void OnUnignoreUser();
    void OnAddUserMembership();
    void OnRemoveUserMembership();
    void OnAddUserOperatorship();
    void OnRemoveUserOperatorship();
    void OnUserNote();
    void OnGetUserInfo();
    void OnGiftPrivileges();
    void OnAddRemoveOnlineAlert();

private:
    void AddPrivateRooms(QMenu* ip_menu);
    // The room of the private room action that called the slot.
    QString SenderRoom() const;

    QString m_user;
};
