#pragma once

#include <QIcon>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <memory>

#include "store/DataHandler.h"
#include "store/DataLoadedEventHandler.h"
#include "store/ItemPtr.h"

class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class UserInfoForm;
class Ui_UserListForm;

// The users the user cares about, on five pages: the user list with groups and notes, the
// information tabs of other users, the unshared, the ignored and the online-alerted users. Each
// list follows its users in the store; a row is found from its user through a node item valued
// by the row's address. It also answers other users' information requests. There is one,
// reached through `userListForm`.
class UserListForm : public QWidget, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    explicit UserListForm(QWidget* ip_parent = nullptr);
    ~UserListForm() override;

    // Before the store is loaded: the saved alert type, and the call after the load.
    void Init();
    // Builds the four lists from the store and follows it from then on.
    void DataLoaded() override;

    void UpdateUserGroupsDisplay(QString i_user);
    // The user's information tab, opened with a request when there is none.
    UserInfoForm* GetUserInfoForm(QString i_user);

    QTreeWidget* UserList() const;
    QTreeWidget* UnsharedList() const;
    QTreeWidget* IgnoredList() const;
    QTreeWidget* OnlineAlertList() const;
    QTabWidget* UserInfoTabs() const;

    void OnUserOnline(ItemPtr i_user);
    void OnUserOffline(ItemPtr i_user);
    void OnUserAddedToList(ItemPtr i_user);
    void OnUserRemovedFromList(ItemPtr i_user);
    void OnUserUnshared(ItemPtr i_user);
    void OnUserReshared(ItemPtr i_user);
    void OnUserIgnored(ItemPtr i_user);
    void OnUserUnignored(ItemPtr i_user);
    void OnUserNoteChanged(ItemPtr i_user);
    void OnUserNoteRemoved(ItemPtr i_user);
    void OnUserOnlineAlertAdded(ItemPtr i_user);
    void OnUserOnlineAlertRemoved(ItemPtr i_user);
    void OnUserGroupAdded(ItemPtr i_user);
    void OnUserGroupRemoved(ItemPtr i_user);

public slots:
    void OnUserListContextMenuRequested(QPoint i_position);
    void OnUnsharedListContextMenuRequested(QPoint i_position);
    void OnIgnoredListContextMenuRequested(QPoint i_position);
    void OnOnlineAlertListContextMenuRequested(QPoint i_position);
    void OnUserItemDoubleClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnActionBarTriggered(QWidget* ip_widget, QString i_action);
    void OnUserInfoTabCloseRequested(int i_index);
    // Answers with the description, the picture and the upload queue's figures.
    void OnUserInfoRequested(QString i_user);
    // Sorts the user list now if a sort is waiting.
    void SortUserList();

private:
    // Online changes come in bursts after a login: they sort the list once the burst is
    // handled instead of once per user.
    void RequestUserListSort();
    void ShowContextMenu(QTreeWidget* ip_tree, QPoint i_position);
    // A plain row of the unshared or ignored list, with the user's note.
    void AddNotedRow(QTreeWidget* ip_tree, ItemPtr i_user, const char* i_nodeType);
    QTreeWidgetItem* NewUserListRow(ItemPtr i_user);
    QTreeWidgetItem* NewOnlineAlertRow(ItemPtr i_user);
    static void RemoveRow(ItemPtr i_user, const char* i_nodeType);
    static QTreeWidgetItem* Row(ItemPtr i_user, const char* i_nodeType);
    void SetNote(QTreeWidgetItem* ip_row, int i_column, ItemPtr i_note) const;
    const QIcon& OnlineIcon(bool i_online) const { return i_online ? m_onlineIcon : m_offlineIcon; }
    static void TrackUser(ItemPtr i_user);

    std::unique_ptr<Ui_UserListForm> mp_ui;
    bool m_sortPending = false;
    // Made once: an icon made from its file reads and decodes the file again.
    QIcon m_onlineIcon;
    QIcon m_offlineIcon;
    QIcon m_noteIcon;
};

extern UserListForm* userListForm;
