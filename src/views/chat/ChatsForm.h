#pragma once

#include <QString>
#include <QWidget>

#include <ctime>
#include <memory>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"

class ChatForm;
class QTabWidget;
class Ui_ChatsForm;

// The private conversations: one tab per user, holding that user's `ChatForm`, and the chat
// log viewers opened from them. A user has an open tab exactly while it is connected to a
// `user_chat_widget` item; that link is the only registry of tabs. There is one, reached
// through `chatsForm`.
class ChatsForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    explicit ChatsForm(QWidget* ip_parent = nullptr);
    ~ChatsForm() override;

    // Follows the users' online marks for the tab icons. Once, after the server link has
    // declared its user types.
    void Init();

    // The user's form, made with its tab when there is none; never selects or shows the tab.
    ChatForm* GetChatForm(QString i_user);
    // The user's form, brought to the front with the focus in its input line.
    ChatForm* OpenChatForm(QString i_user);

    QTabWidget* TabWidget() const;

    // A tab shows a name's '&' as it is, not as a shortcut mark.
    static QString TabText(QString i_name);

    void OnUserOnline(ItemPtr i_user);
    void OnUserOffline(ItemPtr i_user);

public slots:
    void OnChatTabClosed(int i_index);
    // The server link's private message: shown in the sender's tab, opened when needed. The
    // time and the flag are not shown.
    void OnPrivateChat(QString i_user, QString i_chat, time_t i_time, bool i_spontaneous);

private:
    void SetTabIcon(ItemPtr i_user, bool i_online);

    std::unique_ptr<Ui_ChatsForm> mp_ui;
};

extern ChatsForm* chatsForm;
