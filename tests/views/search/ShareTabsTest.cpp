#include "ShareTabsFixture.h"

namespace
{
const List Music = {{"Music", {{"a.mp3", 100, {}}}}, {"Music\\Jazz", {{"b.mp3", 200, {}}}}};

QStringList TabTexts(const QTabWidget* ip_tabs)
{
    QStringList l_texts;
    for (int l_index = 0; l_index < ip_tabs->count(); ++l_index)
        l_texts << ip_tabs->tabText(l_index);
    return l_texts;
}
} // namespace

using ShareTabs = ShareTabsFixture;

TEST_F(ShareTabs, EachUserHasOneTabOfEachKindThatClosesAloneAndKeepsItsFirstList)
{
    ShareOwn({"music/a.mp3", "music/sub/b.txt"});
    ShareForm* lp_browse = mp_page->OpenShareBrowse("bob");
    EXPECT_EQ(mp_page->OpenShareBrowse("bob"), lp_browse);
    EXPECT_EQ(BobsCodes(), QList<quint32>{4});
    EXPECT_EQ(mp_pages->currentWidget(), mp_page);
    ASSERT_TRUE(SendKeeps(ShareListMessage(Music)));
    const ItemPtr l_tree = User("bob")["user_share"];
    const QStringList l_rows = {"Music +", "  Jazz"};
    EXPECT_EQ(Rows(Tree(lp_browse)), l_rows);

    // A second list is ignored: same tree, same rows.
    ASSERT_TRUE(SendKeeps(ShareListMessage({{"Other", {{"c.mp3", 1, {}}}}})));
    EXPECT_EQ(User("bob")["user_share"], l_tree);
    EXPECT_EQ(Rows(Tree(lp_browse)), l_rows);
    EXPECT_EQ(Count("user_share_folder"), 2u);

    UploadForm* lp_upload = mp_page->OpenUploadBrowse("bob");
    EXPECT_EQ(mp_page->OpenUploadBrowse("bob"), lp_upload);
    EXPECT_EQ(mp_page->TabControl()->currentWidget(), lp_upload);
    EXPECT_EQ(TabTexts(mp_page->TabControl()), QStringList({"bob", "Upload to bob"}));
    EXPECT_EQ(Rows(Tree(lp_upload)), QStringList({"music +", "  sub"}));
    EXPECT_EQ(Count("user_share_folder_node"), 4u);

    // Each tab takes its own tree, record and rows only.
    Close(lp_upload);
    EXPECT_EQ(Count("upload_share_tab"), 0u);
    EXPECT_EQ(ItemPtr(g("user_share")), l_tree);
    EXPECT_EQ(Count("user_share_folder_node"), 2u);
    EXPECT_EQ(Rows(Tree(lp_browse)), l_rows);
    lp_upload = mp_page->OpenUploadBrowse("bob");
    Close(lp_browse);
    EXPECT_EQ(Count("user_share_tab"), 0u);
    EXPECT_FALSE(User("bob")["user_share"]);
    EXPECT_EQ(Count("user_share"), 1u);
    EXPECT_EQ(Count("user_share_folder_node"), 2u);
    EXPECT_EQ(TabTexts(mp_page->TabControl()), QStringList("Upload to bob"));

    // Open again, the tab asks again; a name's '&' is no shortcut mark.
    mp_page->OpenShareBrowse("bob");
    EXPECT_EQ(BobsCodes(), QList<quint32>({4, 4}));
    mp_page->OpenShareBrowse("r&b");
    mp_page->OpenUploadBrowse("r&b");
    EXPECT_EQ(TabTexts(mp_page->TabControl()), QStringList({"Upload to bob", "bob", "r&&b", "Upload to r&&b"}));
}

TEST_F(ShareTabs, ARequestedTabShowsOneFailureWithALinkThatOpensOrTheEmptyListText)
{
    SetSetting("web_host", "127.0.0.1");
    SetSetting("web_port", "8123");
    SetSetting("listening_port", "2240");
    ShareForm* lp_tab = mp_page->OpenShareBrowse("bob");
    const QString l_requesting = "Requesting file list...";
    EXPECT_EQ(Messages(lp_tab)->toPlainText(), l_requesting);
    EXPECT_FALSE(Tree(lp_tab)->isVisibleTo(lp_tab));
    mp_pages->setCurrentIndex(0);

    const QString l_failure = "A connection could not be successfully formed to the user. If this is happening "
                              "to you a lot, Check here to make sure that your port is open.";
    const struct { const char *user, *type; QString text; QStringList notices; } l_failures[] = {
        {"bob", "F", l_requesting, {}}, {"bob", "D", l_requesting, {}}, {"carol", "P", l_requesting, {}},
        {"bob", "P", l_requesting + "\n" + l_failure, {"bob"}}, {"bob", "P", l_requesting + "\n" + l_failure, {"bob"}}};
    for (const auto& l_failure : l_failures)
    {
        emit mp_messenger->ConnectionToUserFailed(l_failure.user, l_failure.type);
        EXPECT_EQ(Messages(lp_tab)->toPlainText(), l_failure.text) << l_failure.user << l_failure.type;
        EXPECT_EQ(VisibleActionTexts(mp_events.get()), l_failure.notices);
    }

    // The link, clicked where it is shown, goes to the desktop's browser.
    mp_pages->setCurrentIndex(1);
    QTextBrowser* lp_messages = Messages(lp_tab);
    const int l_anchor = lp_messages->toPlainText().indexOf("Check here") + 2;
    QTextCursor l_cursor(lp_messages->document());
    l_cursor.setPosition(l_anchor);
    QTest::mouseClick(lp_messages->viewport(), Qt::LeftButton, {}, lp_messages->cursorRect(l_cursor).center());
    EXPECT_EQ(m_opened, QStringList("http://127.0.0.1:8123/porttest.php?port=2240"));

    // A list that still comes is shown; an empty one says so.
    ASSERT_TRUE(SendKeeps(ShareListMessage(Music)));
    EXPECT_FALSE(lp_messages->isVisibleTo(lp_tab));
    EXPECT_EQ(Rows(Tree(lp_tab)), QStringList({"Music +", "  Jazz"}));
    Close(lp_tab);
    lp_tab = mp_page->OpenShareBrowse("bob");
    mp_pages->setCurrentIndex(0);
    ASSERT_TRUE(SendKeeps(ShareListMessage({})));
    EXPECT_EQ(Messages(lp_tab)->toPlainText(),
              l_requesting + "\nNo files returned. The user is either not sharing any files, or is sharing all of "
                             "their files privately.");
    EXPECT_FALSE(Tree(lp_tab)->isVisibleTo(lp_tab));
    EXPECT_EQ(VisibleActionTexts(mp_events.get()), QStringList("bob"));
}
