#include "views/chat/UserNoteDialog.h"

#include <QIcon>

#include "resources/Resources.h"
#include "shell/UIFunctions.h"
#include "store/Data.h"
#include "store/SchemaDeclaration.h"
#include "ui_UserNoteDialog.h"

void UserNoteDialog::Init()
{
    DeclareTypes({{"user_note_dialog", Primary, false}});
    DeclareRelations({{"user_note_dialog", "user", One, One}});
}

UserNoteDialog* UserNoteDialog::GetDialog(QString i_user)
{
    ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    if (ItemPtr l_open = l_user["user_note_dialog"])
    {
        UserNoteDialog* lp_dialog = l_open.AsPointer<UserNoteDialog>();
        lp_dialog->raise();
        ActivateWindow(lp_dialog);
        return lp_dialog;
    }
    auto* lp_dialog = new UserNoteDialog(i_user);
    l_user += d.GetType("user_note_dialog")->GetItem(Value(lp_dialog));
    return lp_dialog;
}

UserNoteDialog::UserNoteDialog(QString i_user, QWidget* ip_parent)
    : QDialog(ip_parent), mp_ui(new Ui_UserNoteDialog), m_user(i_user)
{
    InitResources();
    mp_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // A note is the user's own words: text that looks like markup must come back as typed.
    mp_ui->noteEdit->setPlainText(d.GetType("user")->GetItem(i_user)["user_note"].AsString());
    setWindowIcon(QIcon(":/icons/note_icon"));
    setWindowTitle(i_user);
}

UserNoteDialog::~UserNoteDialog()
{
    if (Type* lp_records = d.HasType("user_note_dialog"))
        if (ItemPtr l_record = lp_records->HasItem(Value(this)))
            l_record.Remove();
    delete mp_ui;
}

void UserNoteDialog::OnSaveNote()
{
    const QString l_note = mp_ui->noteEdit->toPlainText().trimmed();
    ItemPtr l_user = d.GetType("user")->GetItem(m_user);
    if (l_note.isEmpty())
        l_user.Disconnect("user_note");
    else
        l_user += d.GetType("user_note")->GetItem(l_note);
    accept();
}

void UserNoteDialog::OnClearNote()
{
    mp_ui->noteEdit->clear();
}
