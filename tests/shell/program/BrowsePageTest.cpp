#include "ProgramFixture.h"
#include "shell/ActionSetToolBar.h"
#include "views/chat/UserMenuOptions.h"
#include "views/search/ShareForm.h"
#include "views/search/SharesForm.h"

// The whole program: bob connects from 127.0.0.1, the user menu opens his browse tab on the
// window's "Browse" page, and the list he sends back fills it; the upload entry opens the twin.
TEST_F(ProgramFixture, TheUserMenuOpensABrowseTabOnTheBrowsePageThatShowsTheListTheUserSends)
{
    StartLoggedIn();
    FakePeer l_bob;
    ASSERT_TRUE(l_bob.ConnectTo(static_cast<quint16>(GetSettingInt("listening_port"))));
    l_bob.SendFrame(FakePeer::InitBody("bob", "P"));
    ASSERT_TRUE(QTest::qWaitFor([] { return d.GetType("user")->GetItem("bob").IsConnected("peer_socket"); }, 5000));

    SharesForm* lp_page = mp_ui->sharesForm;
    EXPECT_EQ(sharesForm, lp_page);
    const auto l_choose = [](const QString& i_entry) {
        QMenu l_menu;
        UserMenuOptions l_options(&l_menu, "bob");
        for (QAction* lp_action : l_menu.actions())
            if (lp_action->text() == i_entry)
                return lp_action->trigger();
        ADD_FAILURE() << i_entry.toStdString();
    };
    mp_window->show();
    l_choose("Browse user's files");
    ASSERT_TRUE(l_bob.WaitForBodies(1));
    EXPECT_EQ(l_bob.Bodies(), QList<QByteArray>{WireFields().UInt32(4)});
    EXPECT_EQ(mp_ui->tabControl->currentWidget(), mp_ui->sharesTab);

    // Two folders of one file each: present, name, 64-bit size, extension, no attributes.
    const auto l_file = [](const char* i_name) {
        return WireFields().Int32(1).Byte(1).Text(i_name).UInt32(7).UInt32(0).Text("mp3").Int32(0);
    };
    const QByteArray l_list =
        WireFields().Int32(2).Text("Music").Raw(l_file("a.mp3")).Text("Music\\Jazz").Raw(l_file("b.mp3"));
    l_bob.SendFrame(WireFields().UInt32(5).Raw(qCompress(l_list, 9).mid(4)));
    auto* lp_tab = qobject_cast<ShareForm*>(lp_page->TabControl()->currentWidget());
    ASSERT_TRUE(lp_tab);
    auto* lp_tree = Child<QTreeWidget>(lp_tab, "folderTree");
    ASSERT_TRUE(QTest::qWaitFor([&] { return lp_tree->topLevelItemCount() == 1; }, 5000));
    EXPECT_EQ(lp_tree->topLevelItem(0)->text(0), "Music");
    EXPECT_EQ(lp_tree->topLevelItem(0)->child(0)->text(0), "Jazz");
    EXPECT_TRUE(lp_tree->isVisible());

    // The page's toolbar sets were declared at start-up.
    EXPECT_EQ(ToolbarTexts(actionBar, mp_window.get(), lp_tree).mid(0, 3),
              QStringList({"Expand Level", "Collapse All", "Expand All"}));

    l_choose("Upload to user");
    EXPECT_EQ(lp_page->TabControl()->tabText(lp_page->TabControl()->currentIndex()), "Upload to bob");
    EXPECT_EQ(lp_page->TabControl()->count(), 2);
}
