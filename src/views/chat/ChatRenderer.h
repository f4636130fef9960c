#pragma once

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

#include "views/chat/ChatViewSource.h"

class QTextBrowser;

// The one way a chat view (a room tab or a private chat tab) turns chat and status lines into
// paragraphs of its `chatView`, keeps its chat-active state for the activity markers, and holds
// its HTML source under a ceiling. The view's owner logs the returned line and raises the notice.
class ChatRenderer
{
public:
    enum class Kind
    {
        Room,    // lines are trimmed before anything else
        Private, // lines are shown, logged and noticed as received
    };

    using Clock = std::function<QDateTime()>;

    // What the owner does next with a line given to AddChat.
    struct ShownChat
    {
        bool isAction = false;
        QString logLine;
        // The notice popup of a private view's ordinary line; empty otherwise.
        QString popup;
    };

    // Above this many characters of HTML source the view drops its oldest paragraphs.
    static constexpr int ViewHtmlLimit = 250000;
    static constexpr int ViewHtmlCut = 50000;
    static constexpr qint64 InactivityMs = 300000;
    static constexpr int PopupChars = 100;

    // Without a clock the current local time is used.
    ChatRenderer(QTextBrowser* ip_view, Kind i_kind, Clock i_clock = Clock());

    ShownChat AddChat(const QString& i_user, const QString& i_text);
    void AddStatusMessage(const QString& i_text);
    // For the shared 30-second tick.
    void CheckChatInactivity();

    bool IsChatActive() const { return m_chatActive; }
    QDateTime LastLineTime() const { return m_lastLineTime; }

    // "MMM d h:mm:ss ap" and "h:mm:ss", in the C locale.
    static QString LongTime(const QDateTime& i_time);
    static QString ShortTime(const QDateTime& i_time);
    // The action text of a "/me " line; none for an ordinary line.
    static std::optional<QString> ActionText(const QString& i_text);
    // The fragments before links are converted; the colours come from the settings.
    static QString StatusLineHtml(const QString& i_text);
    static QString ChatLineHtml(const QString& i_timestamps, const QDateTime& i_time,
                                const QString& i_user, const QString& i_text);
    static QString ChatLogLine(const QDateTime& i_time, const QString& i_user,
                               const QString& i_text);
    static QString ActionLogLine(const QDateTime& i_time, const QString& i_status);
    static QString NoticePopup(const QString& i_user, const QString& i_text);

private:
    QDateTime Now() const;
    void AppendChatLine(const QString& i_html);

    QTextBrowser* mp_view;
    ChatViewSource m_source{mp_view};
    Kind m_kind;
    Clock m_clock;
    bool m_chatActive = false;
    QDateTime m_lastLineTime;
};
