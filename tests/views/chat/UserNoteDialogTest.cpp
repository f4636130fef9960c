#include <QPointer>
#include <QPushButton>
#include <QTextEdit>

#include "RoomFixture.h"

namespace
{
class UserNoteDialogTest : public RoomViewFixture
{
protected:
    static ItemPtr User(const char* i_name) { return Node("user", i_name); }
};
} // namespace

TEST_F(UserNoteDialogTest, OneDialogPerUserComesForwardUntilItIsClosed)
{
    ASSERT_FALSE(d.GetType("user")->HasItem("ann"));
    QPointer<UserNoteDialog> lp_ann = UserNoteDialog::GetDialog("ann");
    EXPECT_EQ(UserNoteDialog::GetDialog("ann"), lp_ann.data());
    EXPECT_EQ(lp_ann->windowTitle(), "ann");
    EXPECT_EQ(User("ann")["user_note_dialog"].AsPointer<UserNoteDialog>(), lp_ann.data());
    std::unique_ptr<UserNoteDialog> lp_ben(UserNoteDialog::GetDialog("ben"));
    EXPECT_NE(lp_ben.get(), lp_ann.data());

    lp_ann->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(lp_ann.isNull());
    EXPECT_FALSE(User("ann").IsConnected("user_note_dialog"));
    EXPECT_EQ(d.GetType("user_note_dialog")->GetItems().Size(), 1u);
}

TEST_F(UserNoteDialogTest, SavesTrimmedSharedPlainNotesAndBlankOrClearedSavesRemoveThem)
{
    enum Act { Save, ClearAndSave, ClearAndClose };
    // Who, what is typed (none: the note as loaded), how it ends, then ann's and ben's notes.
    const std::tuple<const char*, const char*, Act, const char*, const char*> l_steps[] = {
        {"ann", "  \n hello \n\n", Save, "hello", ""},
        {"ben", "hello", Save, "hello", "hello"},
        {"ben", "<b>bye</b> &amp;", Save, "hello", "<b>bye</b> &amp;"},
        {"ben", nullptr, Save, "hello", "<b>bye</b> &amp;"},
        {"ann", nullptr, ClearAndClose, "hello", "<b>bye</b> &amp;"},
        {"ann", " \n\t ", Save, "", "<b>bye</b> &amp;"},
        {"ben", nullptr, ClearAndSave, "", ""}};
    for (const auto& [l_user, l_typed, l_act, l_ann, l_ben] : l_steps)
    {
        const QString l_stored = User(l_user)["user_note"].AsString();
        QPointer<UserNoteDialog> lp_dialog = UserNoteDialog::GetDialog(l_user);
        lp_dialog->show();
        auto* lp_edit = lp_dialog->findChild<QTextEdit*>("noteEdit");
        EXPECT_EQ(lp_edit->toPlainText(), l_stored);
        if (l_typed)
            lp_edit->setPlainText(l_typed);
        if (l_act != Save)
            lp_dialog->findChild<QPushButton*>("clearButton")->click();
        if (l_act == ClearAndClose)
            lp_dialog->close();
        else
            lp_dialog->findChild<QPushButton*>("saveButton")->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(lp_dialog.isNull());
        EXPECT_EQ(User("ann")["user_note"].AsString(), l_ann) << l_typed;
        EXPECT_EQ(User("ben")["user_note"].AsString(), l_ben) << l_typed;
        // One text is one item, held by every user with that note.
        EXPECT_EQ(User("ann")["user_note"] == User("ben")["user_note"], l_ann == QString(l_ben));
    }
}
