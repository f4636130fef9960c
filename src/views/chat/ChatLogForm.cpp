#include "views/chat/ChatLogForm.h"

#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "shell/ActionSetToolBar.h"
#include "shell/Desktop.h"
#include "shell/UIFunctions.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "ui_ChatLogForm.h"

namespace
{
// Log lines are read in pieces of at most this many bytes, so one huge line cannot hold the
// whole file in one string.
constexpr qint64 ReadBufferSize = 65536;
} // namespace

ChatLogForm::ChatLogForm(QString i_path, QWidget* ip_parent)
    : QWidget(ip_parent), mp_ui(new Ui_ChatLogForm)
{
    mp_ui->setupUi(this);
    mp_ui->searchBackButton->setIcon(QIcon(":/icons/back_icon"));
    mp_ui->searchForwardButton->setIcon(QIcon(":/icons/forward_icon"));
    mp_ui->searchBackButton->setEnabled(false);
    mp_ui->searchForwardButton->setEnabled(false);
    RegisterWidgetForTabFocus(mp_ui->searchEdit, 1);

    // A log not written yet leaves the viewer without the "chat_log" actions: there is nothing
    // to clear, and lines logged later still arrive through AddLine.
    QFile l_file(i_path);
    if (!l_file.open(QIODevice::ReadOnly))
        return;

    mp_ui->logEdit->setUpdatesEnabled(false);
    QByteArray l_buffer(ReadBufferSize, Qt::Uninitialized);
    for (;;)
    {
        const qint64 l_read = l_file.readLine(l_buffer.data(), ReadBufferSize);
        if (l_read <= 0)
            break;
        AppendParagraph(QString::fromUtf8(l_buffer.constData(), int(l_read)).trimmed());
    }
    mp_ui->logEdit->setUpdatesEnabled(true);
    m_path = i_path;
    if (actionBar)
    {
        actionBar->RegisterWidget(this, "chat_log");
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this,
                &ChatLogForm::OnActionTriggered);
    }
}

ChatLogForm::~ChatLogForm()
{
    delete mp_ui;
    if (Type* lp_viewers = d.HasType("chat_log_form"))
        if (ItemPtr l_record = lp_viewers->HasItem(Value(this)))
            l_record.Remove();
}

// As QTextEdit::append does, but never reading the text as rich text.
void ChatLogForm::AppendParagraph(const QString& i_text)
{
    QTextDocument* lp_document = mp_ui->logEdit->document();
    QTextCursor l_cursor(lp_document);
    l_cursor.movePosition(QTextCursor::End);
    if (!lp_document->isEmpty())
        l_cursor.insertBlock();
    l_cursor.insertText(i_text);
}

void ChatLogForm::AddLine(const QString& i_line)
{
    AppendParagraph(i_line.trimmed());
}

void ChatLogForm::ClearHighlight()
{
    mp_ui->logEdit->setExtraSelections({});
}

void ChatLogForm::OnSearchTextChanged(QString i_text)
{
    QTextEdit* lp_edit = mp_ui->logEdit;
    lp_edit->setUpdatesEnabled(false);
    lp_edit->moveCursor(QTextCursor::Start);
    mp_ui->searchBackButton->setEnabled(false);
    mp_ui->searchForwardButton->setEnabled(false);
    if (!i_text.isEmpty() && lp_edit->find(i_text))
        MarkFind();
    else
        ClearHighlight();
    lp_edit->setUpdatesEnabled(true);
}

// A search that finds nothing leaves the current match, its highlight and the buttons as they
// were, rather than marking a range that holds no match.
void ChatLogForm::OnSearchForward()
{
    QTextEdit* lp_edit = mp_ui->logEdit;
    lp_edit->setUpdatesEnabled(false);
    const QTextCursor l_saved = lp_edit->textCursor();
    lp_edit->moveCursor(QTextCursor::NextCharacter);
    if (lp_edit->find(mp_ui->searchEdit->text()))
        MarkFind();
    else
        lp_edit->setTextCursor(l_saved);
    lp_edit->setUpdatesEnabled(true);
}

void ChatLogForm::OnSearchBack()
{
    QTextEdit* lp_edit = mp_ui->logEdit;
    lp_edit->setUpdatesEnabled(false);
    if (lp_edit->find(mp_ui->searchEdit->text(), QTextDocument::FindBackward))
        MarkFind();
    lp_edit->setUpdatesEnabled(true);
}

void ChatLogForm::MarkFind()
{
    QTextEdit* lp_edit = mp_ui->logEdit;
    const int l_length = mp_ui->searchEdit->text().size();
    const int l_start = lp_edit->textCursor().position() - l_length;

    QTextEdit::ExtraSelection l_highlight;
    l_highlight.cursor = QTextCursor(lp_edit->document());
    l_highlight.cursor.setPosition(l_start);
    l_highlight.cursor.setPosition(l_start + l_length, QTextCursor::KeepAnchor);
    // The input field's colours reversed.
    l_highlight.format.setForeground(QColor(GetSetting("color_input_background")));
    l_highlight.format.setBackground(QColor(GetSetting("color_input_text")));
    lp_edit->setExtraSelections({l_highlight});

    MarkSearchButtons();

    // Through the end first, so that the match comes to rest near the top of the view.
    QTextCursor l_cursor = lp_edit->textCursor();
    l_cursor.movePosition(QTextCursor::End);
    lp_edit->setTextCursor(l_cursor);
    l_cursor.setPosition(l_start);
    lp_edit->setTextCursor(l_cursor);
}

// Probes from the start of the current match, as the two search slots search from there: a
// match that begins right where the current one ends still counts as a next one.
void ChatLogForm::MarkSearchButtons()
{
    QTextEdit* lp_edit = mp_ui->logEdit;
    const QString l_text = mp_ui->searchEdit->text();
    const QTextCursor l_saved = lp_edit->textCursor();

    QTextCursor l_probe(lp_edit->document());
    l_probe.setPosition(l_saved.selectionStart());
    l_probe.movePosition(QTextCursor::NextCharacter);
    lp_edit->setTextCursor(l_probe);
    mp_ui->searchForwardButton->setEnabled(!l_text.isEmpty() && lp_edit->find(l_text));

    l_probe.setPosition(l_saved.selectionStart());
    lp_edit->setTextCursor(l_probe);
    mp_ui->searchBackButton->setEnabled(!l_text.isEmpty() &&
                                        lp_edit->find(l_text, QTextDocument::FindBackward));
    lp_edit->setTextCursor(l_saved);
}

void ChatLogForm::OnActionTriggered(QWidget* ip_widget, QString i_id)
{
    if (ip_widget != this || m_path.isEmpty())
        return;
    if (i_id == QLatin1String("clear_chat_log"))
    {
        // No is the default: Return alone must not erase a log.
        if (Desktop::ShowMessageBox(QMessageBox::Question, nullptr, "Clear log?",
                                    "Are you sure you want to erase the contents of this log?",
                                    QMessageBox::Yes | QMessageBox::No,
                                    QMessageBox::No) != QMessageBox::Yes)
            return;
        QFile::remove(m_path);
        mp_ui->logEdit->clear();
        ClearHighlight();
        mp_ui->searchBackButton->setEnabled(false);
        mp_ui->searchForwardButton->setEnabled(false);
    }
    else if (i_id == QLatin1String("open_log_folder"))
        Desktop::OpenUrl(QUrl::fromLocalFile(QFileInfo(m_path).absolutePath()));
}
