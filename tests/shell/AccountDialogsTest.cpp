#include "shell/ChangeListeningPortDialog.h"
#include "shell/ChangeUsernamePasswordDialog.h"

#include "ShellFixture.h"
#include "support/support/ModalAnswers.h"

namespace
{
class AccountDialogs : public ::testing::Test, protected FakeDesktop
{
protected:
    void SetUp() override { DeclareSettingsTypes(); }

    // Types each text into the line edit of that name, then presses the button.
    static void Answer(QDialog* ip_dialog, QDialogButtonBox::StandardButton i_button,
                       const std::map<const char*, QString>& i_texts)
    {
        for (const auto& l_text : i_texts)
            Child<QLineEdit>(ip_dialog, l_text.first)->setText(l_text.second);
        Child<QDialogButtonBox>(ip_dialog, "buttonBox")->button(i_button)->click();
        FlushDeletes();
    }
};
} // namespace

TEST_F(AccountDialogs, SavesTrimmedNameAndPasswordAndRefusesBlanksOrCancel)
{
    // Saved, the dialog goes; refused, it stays open; cancelled, it only hides.
    const struct { QString user, password; QDialogButtonBox::StandardButton button; QString after; } l_cases[] = {
        {" bob ", "  pass word\t", QDialogButtonBox::Ok, "gone"}, {"bob", "   ", QDialogButtonBox::Ok, "open"},
        {"\t", "pw", QDialogButtonBox::Ok, "open"}, {"bob", "pw", QDialogButtonBox::Cancel, "hidden"}};
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.user.toStdString());
        SetSetting("username", "anna");
        SetSetting("password", "secret");
        QPointer<QDialog> lp_dialog = new ChangeUsernamePasswordDialog(false);
        EXPECT_EQ(Child<QLineEdit>(lp_dialog, "usernameEdit")->text() + "/" +
                  Child<QLineEdit>(lp_dialog, "passwordEdit")->displayText(), "anna/secret");
        lp_dialog->show();
        Answer(lp_dialog, l_case.button, {{"usernameEdit", l_case.user}, {"passwordEdit", l_case.password}});
        EXPECT_EQ(GetSetting("username") + "/" + GetSetting("password"),
                  l_case.after == "gone" ? "bob/pass word" : "anna/secret");
        EXPECT_EQ(!lp_dialog ? "gone" : lp_dialog->isVisible() ? "open" : "hidden", l_case.after);
    }
}

TEST_F(AccountDialogs, FirstStartConnectsOnlyOnceANameIsSet)
{
    for (const auto l_button : {QDialogButtonBox::Cancel, QDialogButtonBox::Ok})
    {
        const ModalAnswers l_answer([&](QWidget* ip_dialog) {
            Answer(qobject_cast<QDialog*>(ip_dialog), l_button, {{"usernameEdit", " anna"}, {"passwordEdit", "secret "}});
        });
        EXPECT_EQ(ChangeUsernamePasswordDialog::AskAtFirstStart(), l_button == QDialogButtonBox::Ok);
        EXPECT_EQ(GetSetting("username"), l_button == QDialogButtonBox::Ok ? "anna" : "");
    }
}

TEST_F(AccountDialogs, PortWaitsForTheNextStartAndRefusesTheOneInUseOrOutOfRange)
{
    const QString l_invalid = "Invalid Port Number: Port number must be in the range of 1 to 65534.";
    const QString l_same = "Port Number Not Changed: Port number has not been changed.";
    const QString l_pending = "Change to Listening Port Pending: Changes to the listening port will "
                              "take effect after a client restart.";
    // One after the other: the port in use stays refused while another one waits, and the last
    // one chosen wins.
    const struct { QString typed, box, pendingAfter; } l_cases[] = {
        {"", l_invalid, ""}, {"65536", l_invalid, ""}, {"65535", l_invalid, ""}, {"2234", l_same, ""},
        {"65534", l_pending, "65534"}, {"2234", l_same, "65534"}, {"4000", l_pending, "4000"}};
    SetSetting("listening_port", "2234");
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.typed.toStdString());
        m_boxes.clear();
        QPointer<QDialog> lp_dialog = new ChangeListeningPortDialog();
        EXPECT_EQ(Child<QLineEdit>(lp_dialog, "portEdit")->text(), "2234");
        Answer(lp_dialog, QDialogButtonBox::Ok, {{"portEdit", l_case.typed}});
        EXPECT_EQ(m_boxes, QStringList{l_case.box});
        EXPECT_EQ(GetSetting("new_listening_port"), l_case.pendingAfter);
        EXPECT_EQ(lp_dialog.isNull(), l_case.box == l_pending);
        delete lp_dialog;
    }
}

TEST_F(AccountDialogs, ThePortFieldTakesAPortsDigitsFromItsFirstPlaceOnly)
{
    // The text there, where typing starts (-1: over the whole text), what is typed, what shows.
    const std::tuple<const char*, int, const char*, const char*> l_cases[] = {
        {"2234", -1, "0", "2234"}, {"2234", -1, "08080", "8080"}, {"2234", -1, "-1", "1"},
        {"2234", -1, "65535", "65535"}, {"2234", -1, "123456", "12345"}, {"", 1, "80", ""},
        {"", 0, "0", ""}, {"2234", 4, "0", "22340"}};
    ChangeListeningPortDialog l_dialog;
    auto* lp_edit = Child<QLineEdit>(&l_dialog, "portEdit");
    EXPECT_EQ(lp_edit->inputMask(), "D9999");
    for (const auto& [l_text, l_at, l_typed, l_shown] : l_cases)
    {
        lp_edit->setText(l_text);
        if (l_at < 0)
            lp_edit->selectAll();
        else
            lp_edit->setCursorPosition(l_at);
        QTest::keyClicks(lp_edit, l_typed);
        EXPECT_EQ(lp_edit->text(), l_shown) << l_typed << " at " << l_at;
    }
}
