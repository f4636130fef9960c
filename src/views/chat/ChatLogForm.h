#pragma once

#include <QString>
#include <QWidget>

class Ui_ChatLogForm;

// Shows one chat log file in a tab, receives that log's new lines while open, and finds text
// with a highlight. Log lines are other people's words: they are always shown as plain text.
// While open, the viewer is recorded by a `chat_log_form` item valued by its address and
// connected to its room or user; destroying the viewer removes that item.
class ChatLogForm : public QWidget
{
    Q_OBJECT

public:
    // Reads the log at the path; a log that cannot be read leaves the view and the path empty.
    ChatLogForm(QString i_path, QWidget* ip_parent = nullptr);
    ~ChatLogForm() override;

    // Empty when the log could not be read at construction.
    QString Path() const { return m_path; }

    // Shows one more logged line.
    void AddLine(const QString& i_line);

    void MarkFind();
    void MarkSearchButtons();

public slots:
    void OnSearchTextChanged(QString i_text);
    void OnSearchBack();
    void OnSearchForward();
    // The "chat_log" toolbar actions "clear_chat_log" and "open_log_folder" of the context
    // toolbar, which every viewer of a readable log is registered with; others' widgets and
    // other ids are not ours.
    void OnActionTriggered(QWidget* ip_widget, QString i_id);

private:
    void AppendParagraph(const QString& i_text);
    void ClearHighlight();

    Ui_ChatLogForm* mp_ui;
    QString m_path;
};
