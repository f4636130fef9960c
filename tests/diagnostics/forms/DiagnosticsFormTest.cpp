#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QMessageBox>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <memory>

#include "diagnostics/DataDialog.h"
#include "diagnostics/DiagnosticsForm.h"
#include "diagnostics/Log.h"
#include "diagnostics/LogFixture.h"
#include "diagnostics/TypeNavigatorDialog.h"
#include "store/DataSaver.h"

namespace
{
// The page, with the user flags the server link sets and clears.
class DiagnosticsPage : public LogFixture
{
protected:
    void SetUp() override
    {
        LogFixture::SetUp();
        Type* user = d.GetType("user");
        user->RelateToType(d.NewType("is_tracked", Leaf, true, true), Many, One, false);
        user->RelateToType(d.NewType("is_online", Leaf, true, true), Many, One, false);
        page = std::make_unique<DiagnosticsForm>();
        page->Init();
        page->RegisterLoggableItemType("user");
        areas = page->findChild<QTabWidget*>("logTabWidget");
        tree = page->findChild<QTreeWidget*>("trackedUsersTree");
        ASSERT_TRUE(areas && tree);
        alice = user->GetItem("alice");
        bob = user->GetItem("bob");
    }

    QStringList TabTexts() const
    {
        QStringList texts;
        for (int index = 0; index < areas->count(); ++index)
            texts << areas->tabText(index);
        return texts;
    }
    QTextBrowser* Browser(int index) const { return qobject_cast<QTextBrowser*>(areas->widget(index)); }
    QTextBrowser* BrowserNamedInStore(const QString& area) const
    {
        return d.GetType("log")->HasItem(area)["log_widget"].AsPointer<QTextBrowser>();
    }

    static void Flag(ItemPtr user, const char* flag, bool on)
    {
        ItemPtr item = d.GetType(flag)->GetGlobalNullItem();
        if (on)
            user.Connect(item);
        else
            user.Disconnect(item);
    }
    QStringList Rows() const
    {
        QStringList rows;
        for (int index = 0; index < tree->topLevelItemCount(); ++index)
            rows << tree->topLevelItem(index)->text(0) + "/" + tree->topLevelItem(index)->text(1);
        return rows;
    }

    std::unique_ptr<DiagnosticsForm> page;
    QTabWidget* areas = nullptr;
    QTreeWidget* tree = nullptr;
    ItemPtr alice, bob;
};

// Notes the title and text of the next modal box, and answers it.
void WatchNextBox(QString& seen)
{
    QTimer::singleShot(0, [&seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen = box->windowTitle() + ": " + box->text();
        box->accept();
    });
}
} // namespace

TEST_F(DiagnosticsPage, EachAreaGetsATabAtItsFirstLineShowingPlainText)
{
    EXPECT_EQ(areas->count(), 0);
    const QString hostile = "<b>bob</b> &amp; <a href=\"http://x\">link</a><img src=\"/etc/x\">";
    Log("server", 1, "Connecting", ItemPtr());
    Log("Peer Messenger", 2, "Listening on %1", ItemPtr());
    Log("server", 3, "Resolved", ItemPtr());
    Log("server", 1, hostile, ItemPtr());

    ASSERT_EQ(TabTexts(), (QStringList{"server", "Peer Messenger"}));
    const QStringList server = Browser(0)->toPlainText().split('\n');
    ASSERT_EQ(server.size(), 3);
    EXPECT_TRUE(server[0].endsWith("] Connecting"));
    EXPECT_TRUE(server[1].endsWith("]       Resolved")) << "six blanks for level 3";
    EXPECT_TRUE(server[2].endsWith("] " + hostile));
    EXPECT_FALSE(Browser(0)->document()->toHtml().contains("<b>"));
    EXPECT_FALSE(Browser(0)->document()->toHtml().contains("<a href"));
    EXPECT_TRUE(Browser(1)->toPlainText().endsWith("]    Listening on %1"));
    EXPECT_EQ(BrowserNamedInStore("server"), Browser(0));
    EXPECT_EQ(BrowserNamedInStore("Peer Messenger"), Browser(1));
}

TEST_F(DiagnosticsPage, EntriesAndFilesGoOnBehindThePageAndNoAddressOutlivesIt)
{
    EnableLogging();
    Flag(alice, "is_tracked", true);
    page->Log("server", 1, "Alice is online", alice);
    EXPECT_EQ(alice.GetItems("item_log").Size(), 1u);
    ASSERT_EQ(FileLines("server").size(), 2);
    EXPECT_EQ(FileLines("server")[1], Browser(0)->toPlainText().toLatin1());

    // A subscriber that takes the other rows' nodes away when one goes: the page's own removal
    // of them must not reach a freed node.
    Flag(bob, "is_tracked", true);
    struct Remover : DataHandler
    {
        void OnRemoved(ItemPtr i_node)
        {
            ItemSet l_others = d.GetType("track_user_node")->GetItems();
            l_others.Erase(i_node);
            l_others.Remove();
        }
    } l_remover;
    d.GetType("track_user_node")
        ->m_removedEvent.AddHandler(l_remover.NewEventHandler(&l_remover, &Remover::OnRemoved));

    QTextBrowser* browser = Browser(0);
    EXPECT_EQ(diagnosticsForm, page.get());
    page.reset();
    EXPECT_EQ(diagnosticsForm, nullptr);
    EXPECT_FALSE(d.GetType("log_widget")->HasItem(browser));
    EXPECT_EQ(d.GetType("track_user_node")->ItemCount(), 0u);
    Flag(alice, "is_online", true);
    Flag(alice, "is_tracked", false);
    Flag(bob, "is_tracked", true);
    EXPECT_FALSE(bob["track_user_node"]);
    Log("server", 1, "Connected", alice);
    EXPECT_EQ(FileLines("server").size(), 3);
    EXPECT_EQ(alice.GetItems("item_log").Size(), 2u);
}

TEST_F(DiagnosticsPage, TrackedRowsShowTheUsersStatus)
{
    Flag(alice, "is_online", true);
    Flag(alice, "is_tracked", true);
    Flag(bob, "is_tracked", true);
    EXPECT_EQ(Rows(), (QStringList{"alice/Online", "bob/Offline"}));
    Flag(alice, "is_online", false);
    Flag(bob, "is_online", true);
    EXPECT_EQ(Rows(), (QStringList{"alice/Offline", "bob/Online"}));
    ASSERT_TRUE(alice["track_user_node"]);
    EXPECT_EQ(alice["track_user_node"].AsPointer<QTreeWidgetItem>(), tree->topLevelItem(0));

    // Users who are not tracked have no row to change.
    Flag(d.GetType("user")->GetItem("carol"), "is_online", true);
    EXPECT_EQ(tree->topLevelItemCount(), 2);
}

TEST_F(DiagnosticsPage, TrackedRowsFollowUntrackingAndRemoval)
{
    Flag(alice, "is_tracked", true);
    Flag(bob, "is_tracked", true);
    Flag(alice, "is_tracked", false);
    EXPECT_EQ(Rows(), QStringList{"bob/Offline"});
    EXPECT_FALSE(alice["track_user_node"]) << "no link to the deleted row";
    EXPECT_EQ(d.GetType("track_user_node")->ItemCount(), 1u);
    Flag(alice, "is_online", true);
    Flag(alice, "is_online", false);
    EXPECT_EQ(Rows(), QStringList{"bob/Offline"}) << "an untracked user reaches no row";
    Flag(alice, "is_online", true);
    Flag(alice, "is_tracked", true);
    EXPECT_EQ(Rows(), (QStringList{"bob/Offline", "alice/Online"}));

    bob.Remove();
    EXPECT_EQ(Rows(), QStringList{"alice/Online"});
    EXPECT_EQ(d.GetType("track_user_node")->ItemCount(), 1u);

    // An emptied store (a failed load) takes every row with it, but an area keeps its one tab.
    Log("Configuration Data", 1, "Loading configuration data from %1", ItemPtr());
    d.RemoveAllItems();
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    ItemPtr again = d.GetType("user")->GetItem("bob");
    Flag(again, "is_online", true);
    Flag(again, "is_tracked", true);
    EXPECT_EQ(Rows(), QStringList{"bob/Online"});
    Log("Configuration Data", 1, "Failure to load configuration data.", ItemPtr());
    ASSERT_EQ(TabTexts(), QStringList{"Configuration Data"});
    EXPECT_EQ(Browser(0)->toPlainText().count('\n'), 1);
    EXPECT_EQ(BrowserNamedInStore("Configuration Data"), Browser(0));
}

TEST_F(DiagnosticsPage, ActionsOpenOneDialogOfEachKind)
{
    page->OnActionTriggered(nullptr, "show_data");
    EXPECT_EQ(dataDialog, nullptr) << "only for this page";

    page->OnActionTriggered(page.get(), "show_data");
    page->OnActionTriggered(page.get(), "type_navigator");
    ASSERT_TRUE(dataDialog && typeNavigatorDialog);
    DataDialog* browser = dataDialog;
    TypeNavigatorDialog* navigator = typeNavigatorDialog;
    EXPECT_TRUE(browser->isVisible() && navigator->isVisible());
    EXPECT_GT(navigator->findChild<QComboBox*>("fromTypeBox")->count(), 0) << "initialised";
    page->OnActionTriggered(page.get(), "show_data");
    page->OnActionTriggered(page.get(), "type_navigator");
    EXPECT_EQ(dataDialog, browser);
    EXPECT_EQ(typeNavigatorDialog, navigator);

    // Closed, they are gone, and the next trigger makes fresh ones.
    browser->close();
    navigator->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(dataDialog, nullptr);
    EXPECT_EQ(typeNavigatorDialog, nullptr);
    page->OnActionTriggered(page.get(), "show_data");
    ASSERT_NE(dataDialog, nullptr);
    dataDialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    page->OnActionTriggered(page.get(), "Show_Data");
    EXPECT_EQ(dataDialog, nullptr) << "action names are matched exactly";
}

TEST_F(DiagnosticsPage, DumpTellsHowItWent)
{
    DataSaver saver;
    alice.Connect(d.GetType("is_tracked")->GetGlobalNullItem());
    const QString file = Folder() + "/dump.dat";
    QString box;
    WatchNextBox(box);
    EXPECT_TRUE(DiagnosticsTesting::DumpDataTo(*page, file));
    EXPECT_EQ(box, "Data Dump Succeeded: Client data successfully dumped to file.");
    EXPECT_GT(QFile(file).size(), 0);

    WatchNextBox(box);
    EXPECT_FALSE(DiagnosticsTesting::DumpDataTo(*page, Folder() + "/missing/folder/dump.dat"));
    EXPECT_EQ(box, "Data Dump Failed: Error dumping client data to file.");
}
