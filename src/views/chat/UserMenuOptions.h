#pragma once

#include <QObject>
#include <QString>

class QMenu;

// The actions on one user that every list of users offers in its context menu. The caller
// builds the menu on the spot, adds this on its stack (no parent) and runs the menu; an
// entry's slot runs inside the menu's exec. Which entries show is read once, from the store,
// when the menu is built.
class UserMenuOptions : public QObject
{
    Q_OBJECT

public:
    UserMenuOptions(QMenu* ip_menu, QString i_user, QObject* ip_parent = nullptr);
    ~UserMenuOptions() override;

public slots:
    void OnMessageUser();

private:
    QString m_user;
};
