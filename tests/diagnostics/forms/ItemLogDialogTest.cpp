#include <QApplication>
#include <QPointer>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <memory>

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
        LogFixture::SetUp();
        logService.Init();
        logService.RegisterLoggableItemType("user");
        EnableLogging();
        alice = d.GetType("user")->GetItem("alice");
        bob = d.GetType("user")->GetItem("bob");
    }

    static QTabWidget* Tabs(ItemLogDialog& dialog) { return dialog.findChild<QTabWidget*>("logTabWidget"); }

    static QStringList TabTexts(ItemLogDialog& dialog)
    {
        QStringList texts;
        QTabWidget* tabs = Tabs(dialog);
        for (int index = 0; index < tabs->count(); ++index)
            texts << tabs->tabText(index);
        return texts;
    }

    // The lines of a tab with their stamps cut off.
    static QStringList Lines(ItemLogDialog& dialog, int tab)
    {
        auto* browser = qobject_cast<QTextBrowser*>(Tabs(dialog)->widget(tab));
        if (!browser || browser->document()->isEmpty())
            return {};
        QStringList lines = browser->toPlainText().split('\n');
        for (QString& line : lines)
        {
            EXPECT_TRUE(line.startsWith('[')) << line.toStdString();
            line = line.mid(line.indexOf("] ") + 2);
        }
        return lines;
    }

    ItemPtr alice;
    ItemPtr bob;
};
} // namespace

TEST_F(ItemLog, ShowsExistingEntriesByAreaInEntryOrder)
{
    Log("Peer Messenger", 1, "Connecting to alice", alice);
    Log("server", 2, "Address of alice", alice);
    Log("server", 1, "Bob's line", bob);
    Log("Peer Messenger", 3, "Port 2234", alice);
    Log("server", 1, "No item", ItemPtr());

    ItemLogDialog dialog(alice);
    EXPECT_EQ(dialog.windowTitle(), "Item Log");
    EXPECT_EQ(dialog.size(), QSize(721, 425));
    EXPECT_TRUE(dialog.testAttribute(Qt::WA_DeleteOnClose));
    ASSERT_EQ(TabTexts(dialog), (QStringList{"All", "Peer Messenger", "server"}));
    EXPECT_EQ(Lines(dialog, 0),
              (QStringList{"Connecting to alice", "   Address of alice", "      Port 2234"}));
    EXPECT_EQ(Lines(dialog, 1), (QStringList{"Connecting to alice", "      Port 2234"}));
    EXPECT_EQ(Lines(dialog, 2), QStringList{"   Address of alice"});
}

TEST_F(ItemLog, EntriesAreOrderedByNumberNotByText)
{
    // Entry "10" sorts after "9", not after "1".
    for (int entry = 0; entry < 10; ++entry)
        Log("server", 1, QString("line %1").arg(entry), alice);
    Log("Search", 1, "line 10", alice);

    ItemLogDialog dialog(alice);
    const QStringList all = Lines(dialog, 0);
    ASSERT_EQ(all.size(), 11);
    EXPECT_EQ(all.last(), "line 10");
    EXPECT_EQ(TabTexts(dialog), (QStringList{"All", "server", "Search"}));
}

TEST_F(ItemLog, FollowsNewEntriesOfItsOwnItemOnly)
{
    ItemLogDialog forAlice(alice);
    ItemLogDialog forBob(bob);
    ItemLogDialog secondForAlice(alice);
    EXPECT_EQ(TabTexts(forAlice), QStringList{"All"});
    EXPECT_TRUE(Lines(forAlice, 0).isEmpty());

    Log("Transfer Queue", 3, "Queued song.mp3", alice);
    Log("Transfer Queue", 1, "Bob's upload", bob);
    Log("server", 1, "Alice again", alice);
    Log("Transfer Queue", 2, "Started", alice);

    ASSERT_EQ(TabTexts(forAlice), (QStringList{"All", "Transfer Queue", "server"}));
    EXPECT_EQ(Lines(forAlice, 0),
              (QStringList{"      Queued song.mp3", "Alice again", "   Started"}));
    EXPECT_EQ(Lines(forAlice, 1), (QStringList{"      Queued song.mp3", "   Started"}));
    EXPECT_EQ(Lines(forAlice, 2), QStringList{"Alice again"});
    EXPECT_EQ(Lines(secondForAlice, 0), Lines(forAlice, 0));

    ASSERT_EQ(TabTexts(forBob), (QStringList{"All", "Transfer Queue"}));
    EXPECT_EQ(Lines(forBob, 0), QStringList{"Bob's upload"});
}

TEST_F(ItemLog, AClosedDialogNoLongerReceivesEntries)
{
    QPointer<ItemLogDialog> dialog = new ItemLogDialog(alice);
    dialog->show();
    dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(dialog.isNull());

    Log("server", 1, "After closing", alice);
    EXPECT_EQ(alice.GetItems("item_log").Size(), 1u);
}

TEST_F(ItemLog, RemoteTextIsShownAsPlainText)
{
    const QString hostile = "<a href=\"http://x\">alice</a><img src=\"/etc/x\">";
    Log("Peer Messenger", 1, hostile, alice);

    ItemLogDialog dialog(alice);
    EXPECT_EQ(Lines(dialog, 1), QStringList{hostile});
    auto* all = qobject_cast<QTextBrowser*>(Tabs(dialog)->widget(0));
    EXPECT_FALSE(all->document()->toHtml().contains("<a href"));
}

TEST_F(ItemLog, AnItemThatCannotHoldEntriesShowsAnEmptyLog)
{
    Type* room = d.NewType("room", Primary, false, true);
    ItemLogDialog dialog(room->GetItem("lobby"));
    EXPECT_EQ(TabTexts(dialog), QStringList{"All"});
    Log("server", 1, "Unrelated", alice);
    EXPECT_EQ(TabTexts(dialog), QStringList{"All"});
}
