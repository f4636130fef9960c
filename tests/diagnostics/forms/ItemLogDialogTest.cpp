#include <QPointer>
#include <gtest/gtest.h>

#include "FormTesting.h"
#include "diagnostics/ItemLogDialog.h"
#include "diagnostics/Log.h"
#include "diagnostics/LogFixture.h"

namespace
{
class ItemLog : public LogFixture
{
protected:
    void SetUp() override
    {
        logService.Init();
        logService.RegisterLoggableItemType("user");
        EnableLogging();
        alice = d.GetType("user")->GetItem("alice");
        bob = d.GetType("user")->GetItem("bob");
    }
    static QTabWidget* Tabs(ItemLogDialog& dialog) { return dialog.findChild<QTabWidget*>("logTabWidget"); }
    static QStringList Tab(ItemLogDialog& dialog, int tab) { return Lines(Browser(Tabs(dialog), tab)); }

    ItemPtr alice, bob;
};
} // namespace

TEST_F(ItemLog, ShowsExistingEntriesByAreaInNumberOrderAsPlainText)
{
    Log("Peer Messenger", 1, "Connecting to alice", alice);
    Log("server", 2, "Address of alice", alice);
    Log("server", 1, "Bob's line", bob);
    Log("Peer Messenger", 3, "Port 2234", alice);
    Log("server", 1, "No item", ItemPtr());
    // Bob's entries run to numbers from 10 up, which sort after 9, not after 1.
    for (int entry = 0; entry < 10; ++entry)
        Log("server", 1, QString("line %1").arg(entry), bob);
    const QString hostile = "<a href=\"http://x\">bob</a><img src=\"/etc/x\">";
    Log("Search", 1, hostile, bob);

    ItemLogDialog dialog(alice);
    EXPECT_EQ(dialog.windowTitle(), "Item Log");
    ASSERT_EQ(Texts(Tabs(dialog)), (QStringList{"All", "Peer Messenger", "server"}));
    EXPECT_EQ(Tab(dialog, 0), (QStringList{"Connecting to alice", "   Address of alice", "      Port 2234"}));
    EXPECT_EQ(Tab(dialog, 1), (QStringList{"Connecting to alice", "      Port 2234"}));
    EXPECT_EQ(Tab(dialog, 2), QStringList{"   Address of alice"});
    ItemLogDialog forBob(bob);
    const QStringList all = Tab(forBob, 0);
    ASSERT_EQ(all.size(), 12);
    EXPECT_EQ(all.mid(0, 2) + all.mid(10), (QStringList{"Bob's line", "line 0", "line 9", hostile}));
    EXPECT_EQ(Texts(Tabs(forBob)), (QStringList{"All", "server", "Search"}));
    EXPECT_FALSE(Browser(Tabs(forBob), 0)->document()->toHtml().contains("<a href"));
}

TEST_F(ItemLog, FollowsNewEntriesOfItsOwnItemOnly)
{
    ItemLogDialog forAlice(alice), forBob(bob), secondForAlice(alice);
    ItemLogDialog forLobby(d.NewType("room", Primary, false, true)->GetItem("lobby"));
    QPointer<ItemLogDialog> closed = new ItemLogDialog(alice);
    Close(closed);
    EXPECT_TRUE(closed.isNull());
    EXPECT_EQ(Texts(Tabs(forAlice)), QStringList{"All"});
    EXPECT_TRUE(Tab(forAlice, 0).isEmpty());

    Log("Transfer Queue", 3, "Queued song.mp3", alice);
    Log("Transfer Queue", 1, "Bob's upload", bob);
    Log("server", 1, "Alice again", alice);
    Log("Transfer Queue", 2, "Started", alice);
    ASSERT_EQ(Texts(Tabs(forAlice)), (QStringList{"All", "Transfer Queue", "server"}));
    EXPECT_EQ(Tab(forAlice, 0), (QStringList{"      Queued song.mp3", "Alice again", "   Started"}));
    EXPECT_EQ(Tab(forAlice, 1), (QStringList{"      Queued song.mp3", "   Started"}));
    EXPECT_EQ(Tab(forAlice, 2), QStringList{"Alice again"});
    EXPECT_EQ(Tab(secondForAlice, 0), Tab(forAlice, 0));
    ASSERT_EQ(Texts(Tabs(forBob)), (QStringList{"All", "Transfer Queue"}));
    EXPECT_EQ(Tab(forBob, 0), QStringList{"Bob's upload"});
    EXPECT_EQ(Texts(Tabs(forLobby)), QStringList{"All"});
}
