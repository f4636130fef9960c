#pragma once

#include <QPoint>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <memory>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"
#include "views/chat/ChatRenderer.h"

class QShowEvent;
class QTabWidget;
class Ui_ChatForm;

// One private conversation: the lines said by either side, status lines for the other user's
// availability, the line the user types, and the "Chat Log" action of the set "user_chat",
// which opens the user's log beside the tab. While it exists the form is recorded by a
// `user_chat_widget` item valued by its address and connected to the user.
class ChatForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    // Shown after a line typed while the link is down, since that line never leaves.
    static const char* const NotSentText;

    // Log viewers opened from the form become tabs of the tab widget.
    ChatForm(QString i_user, QTabWidget* ip_tabWidget, QWidget* ip_parent = nullptr,
             ChatRenderer::Clock i_clock = ChatRenderer::Clock());
    ~ChatForm() override;

    QString User() const { return m_user; }

    // The input line takes the focus, and the form's tab and window come to the front.
    void Focus();
    // One line said by the user of the tab or, with the own name, by the own user: shown,
    // logged, and raised as a notice while the tab is not in view.
    void AddChat(QString i_user, QString i_text);
    void AddStatusMessage(QString i_text);
    void LogChat(QString i_line);

    void OnUserAway(ItemPtr i_user);
    void OnUserAvailable(ItemPtr i_user);

public slots:
    void OnEnter();
    void CheckChatInactivity();
    void OnContextMenuRequested(QPoint i_position);
    void OnURLClicked(QUrl i_url);
    void OnActionTriggered(QWidget* ip_widget, QString i_id);

protected:
    void showEvent(QShowEvent* ip_event) override;

private:
    std::unique_ptr<Ui_ChatForm> mp_ui;
    QString m_user;
    QTabWidget* mp_tabWidget;
    std::unique_ptr<ChatRenderer> mp_renderer;
};
