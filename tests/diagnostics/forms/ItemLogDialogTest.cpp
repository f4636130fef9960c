#include "FormTesting.h"
#include "diagnostics/ItemLogDialog.h"

using ItemLog = LogFixture;

// The tab texts, then each tab's lines.
QList<QStringList> Shown(ItemLogDialog& dialog)
{
    auto* tabs = dialog.findChild<QTabWidget*>("logTabWidget");
    QList<QStringList> shown{Texts(tabs)};
    for (int tab = 0; tab < tabs->count(); ++tab)
        shown << Lines(Browser(tabs, tab));
    return shown;
}

TEST_F(ItemLog, ShowsItsItemsEntriesByAreaInNumberOrderAsPlainTextAndFollowsNewOnes)
{
    logService.Init();
    logService.RegisterLoggableItemType("user");
    EnableLogging();
    ItemPtr alice = d.GetType("user")->GetItem("alice"), bob = d.GetType("user")->GetItem("bob");
    Log("Peer Messenger", 1, "Connecting to alice", alice);
    Log("server", 2, "Address of alice", alice);
    Log("server", 1, "Bob's line", bob);
    Log("Peer Messenger", 3, "Port 2234", alice);
    // Bob's entries run to numbers from 10 up, which sort after 9, not after 1.
    for (int entry = 0; entry < 10; ++entry)
        Log("server", 1, QString("line %1").arg(entry), bob);
    const QString hostile = "<a href=\"http://x\">bob</a><img src=\"/etc/x\">";
    Log("Search", 1, hostile, bob);

    ItemLogDialog forAlice(alice), forBob(bob);
    ItemLogDialog forLobby(d.NewType("room", Primary, false, true)->GetItem("lobby"));
    EXPECT_EQ(Shown(forAlice), (QList<QStringList>{{"All", "Peer Messenger", "server"},
                                                   {"Connecting to alice", "   Address of alice", "      Port 2234"},
                                                   {"Connecting to alice", "      Port 2234"},
                                                   {"   Address of alice"}}));
    const QList<QStringList> bobs = Shown(forBob);
    ASSERT_EQ(bobs[0], (QStringList{"All", "server", "Search"}));
    EXPECT_EQ(bobs[1].mid(0, 2) + bobs[1].mid(10), (QStringList{"Bob's line", "line 0", "line 9", hostile}));

    EXPECT_TRUE(Close(new ItemLogDialog(alice)));
    Log("Transfer Queue", 3, "Queued song.mp3", alice);
    Log("server", 1, "Alice again", alice);
    EXPECT_EQ(Shown(forAlice).mid(3), (QList<QStringList>{{"   Address of alice", "Alice again"}, {"      Queued song.mp3"}}));
    EXPECT_EQ(Shown(forAlice)[1].mid(3), (QStringList{"      Queued song.mp3", "Alice again"}));
    EXPECT_EQ(Shown(forLobby), (QList<QStringList>{{"All"}, {}}));
}
