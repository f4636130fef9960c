#include "views/chat/ChatRenderer.h"

#include <QLocale>
#include <QTextBrowser>

#include "store/GeneralFunctions.h"
#include "store/Settings.h"

namespace
{
const QString ActivityBased = QStringLiteral("activity_based");

// The colour attribute is taken as the setting stands, so that a colour keeps its written form.
QString Coloured(const char* i_colourKey, const QString& i_html)
{
    return QStringLiteral("<font color=\"%1\">%2</font>").arg(GetSetting(i_colourKey), i_html);
}
} // namespace

ChatRenderer::ChatRenderer(QTextBrowser* ip_view, Kind i_kind, Clock i_clock)
    : mp_view(ip_view), m_kind(i_kind), m_clock(std::move(i_clock))
{
    m_lastLineTime = Now();
}

QDateTime ChatRenderer::Now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTime();
}

QString ChatRenderer::LongTime(const QDateTime& i_time)
{
    return QLocale::c().toString(i_time, QStringLiteral("MMM d h:mm:ss ap"));
}

QString ChatRenderer::ShortTime(const QDateTime& i_time)
{
    return QLocale::c().toString(i_time, QStringLiteral("h:mm:ss"));
}

// Only leading white space is dropped before the test, so that "/me " and nothing but blanks is
// still an action, with an empty action text.
std::optional<QString> ChatRenderer::ActionText(const QString& i_text)
{
    int l_start = 0;
    while (l_start < i_text.size() && i_text.at(l_start).isSpace())
        ++l_start;
    if (!QStringRef(&i_text, l_start, i_text.size() - l_start).startsWith(QLatin1String("/me ")))
        return std::nullopt;
    return i_text.mid(l_start + 4).trimmed();
}

QString ChatRenderer::StatusLineHtml(const QString& i_text)
{
    return QStringLiteral("* ") + Coloured("color_chat_status", EscapeHTML(i_text));
}

QString ChatRenderer::ChatLineHtml(const QString& i_timestamps, const QDateTime& i_time,
                                   const QString& i_user, const QString& i_text)
{
    QString l_line;
    if (i_timestamps == QLatin1String("per_message_short"))
        l_line = "[" + Coloured("color_chat_timestamp", ShortTime(i_time)) + "]";
    else if (i_timestamps == QLatin1String("per_message_long"))
        l_line = "[" + Coloured("color_chat_timestamp", LongTime(i_time)) + "]";
    return l_line + "[" + Coloured("color_chat_username", EscapeHTML(i_user)) + "] " +
           EscapeHTML(i_text);
}

// Each placeholder is filled in one pass, so a "%1" typed into a chat line stays as typed.
QString ChatRenderer::ChatLogLine(const QDateTime& i_time, const QString& i_user,
                                  const QString& i_text)
{
    return QStringLiteral("[%1][%2] %3").arg(LongTime(i_time), i_user, i_text);
}

QString ChatRenderer::ActionLogLine(const QDateTime& i_time, const QString& i_status)
{
    return QStringLiteral("[%1] * %2").arg(LongTime(i_time), i_status);
}

QString ChatRenderer::NoticePopup(const QString& i_user, const QString& i_text)
{
    QString l_shown = i_text.left(PopupChars);
    if (i_text.size() > PopupChars)
        l_shown += QLatin1String(" ...");
    return QStringLiteral("[%1] %2").arg(i_user, l_shown);
}

void ChatRenderer::AddStatusMessage(const QString& i_text)
{
    m_source.Append(ConvertLinks(StatusLineHtml(i_text)));
}

ChatRenderer::ShownChat ChatRenderer::AddChat(const QString& i_user, const QString& i_text)
{
    const QString l_text = m_kind == Kind::Room ? i_text.trimmed() : i_text;
    const QDateTime l_now = Now();
    ShownChat l_shown;

    if (const std::optional<QString> l_action = ActionText(l_text))
    {
        const QString l_status = QStringLiteral("%1 %2").arg(i_user, *l_action);
        AddStatusMessage(l_status);
        l_shown.isAction = true;
        l_shown.logLine = ActionLogLine(l_now, l_status);
        return l_shown;
    }

    const QString l_timestamps = GetSetting("chat_timestamps");
    m_lastLineTime = l_now;
    if (!m_chatActive)
    {
        m_chatActive = true;
        if (l_timestamps == ActivityBased)
            AddStatusMessage("Chat started " + LongTime(l_now));
    }
    AppendChatLine(ChatLineHtml(l_timestamps, l_now, i_user, l_text));
    l_shown.logLine = ChatLogLine(l_now, i_user, l_text);
    if (m_kind == Kind::Private)
        l_shown.popup = NoticePopup(i_user, l_text);
    return l_shown;
}

// Both views hold their source under the ceiling: a private chat is as open to a flooding
// sender as a room. The cut falls on a line feed, which the source puts between paragraphs.
// The source's size is kept as lines are added rather than exported for every line, which
// cost more the fuller the view.
void ChatRenderer::AppendChatLine(const QString& i_html)
{
    if (m_source.Size() <= ViewHtmlLimit)
        m_source.Append(ConvertLinks(i_html));
    else
        m_source.CutAndAppend(ViewHtmlCut, ConvertLinks(i_html));
}

void ChatRenderer::CheckChatInactivity()
{
    if (!m_chatActive)
        return;
    const qint64 l_quiet = m_lastLineTime.msecsTo(Now());
    if (l_quiet < InactivityMs)
        return;
    m_chatActive = false;
    if (GetSetting("chat_timestamps") == ActivityBased)
        AddStatusMessage("Chat ended " + LongTime(m_lastLineTime));
}
