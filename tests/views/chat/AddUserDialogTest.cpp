#include <QPushButton>

#include "UsersFixture.h"
#include "views/chat/AddUserDialog.h"

namespace
{
using AddUserDialogTest = UsersFixture;

TEST_F(AddUserDialogTest, EachOutcomeShowsItsTextAndOnlyTheAskedNameIsAnswered)
{
    List("ann");
    User("kim");
    auto* lp_dialog = new AddUserDialog(mp_users);
    auto* lp_name = lp_dialog->findChild<QLineEdit*>("userNameEdit");
    auto* lp_status = lp_dialog->findChild<QLineEdit*>("statusEdit");
    auto* lp_button = lp_dialog->findChild<QPushButton*>();
    const auto l_add = [&](const char* i_name) {
        lp_name->setText(i_name);
        lp_button->click();
        return lp_status->text();
    };
    const auto l_answer = [&](const char* i_name, quint8 i_exists) {
        QSignalSpy l_answered(mp_server.get(), &Server::AddUserResponse);
        m_fake.SendFrame(5, WireFields().Text(i_name).Byte(i_exists).Int32(0).Raw(QByteArray(24, '\0')));
        EXPECT_TRUE(l_answered.wait(5000) || l_answered.count() == 1);
        return lp_status->text() + (lp_button->isEnabled() ? "" : " (waiting)");
    };
    EXPECT_EQ(l_add("carl"), "Must be online to add a user to your list.");
    ASSERT_TRUE(LogIn());
    EXPECT_EQ(l_add("   "), "User name must not be empty.");
    EXPECT_EQ(l_add(" ann "), "User already in list.");
    EXPECT_EQ(l_add(" kim "), "Adding user...");
    EXPECT_TRUE(lp_name->isReadOnly());
    EXPECT_EQ(l_answer("kimberly", 1), "Adding user... (waiting)");
    EXPECT_EQ(l_answer("kim", 1), "User added to list.");
    EXPECT_FALSE(lp_name->isReadOnly());
    EXPECT_TRUE(User("kim").IsConnected("in_user_list"));
    EXPECT_EQ(l_add("zed"), "Adding user...");
    EXPECT_EQ(l_answer("zed", 0), "User name does not exist.");
    EXPECT_FALSE(User("zed").IsConnected("in_user_list"));

    // Nothing went out for the refused names.
    QStringList l_asked;
    for (const FakeCentralServer::Frame& l_frame : SentFrames())
        if (l_frame.code == 5)
            l_asked << QString::fromUtf8(l_frame.fields.mid(4));
    EXPECT_EQ(l_asked, (QStringList{"kim", "zed"}));
}
} // namespace
