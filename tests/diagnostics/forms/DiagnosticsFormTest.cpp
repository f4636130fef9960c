#include <QMessageBox>

#include "FormTesting.h"
#include "store/DataSaver.h"
#include "support/support/ModalAnswers.h"

using DiagnosticsPage = LogFixture;

// Dumps the store and answers the box that tells how it went; returns its title and text.
QString DumpTo(DiagnosticsForm& page, const QString& file)
{
    QString seen;
    const ModalAnswers answer([&seen](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        seen = box->windowTitle() + ": " + box->text();
        box->accept();
    });
    DiagnosticsTesting::DumpDataTo(page, file);
    return seen;
}

TEST_F(DiagnosticsPage, ShowsTabsAndTrackedRowsOpensDialogsDumpsAndLeavesNoAddressBehind)
{
    // The user flags the server link sets and clears.
    Type* user = d.GetType("user");
    user->RelateToType(d.NewType("is_tracked", Leaf, true, true), Many, One, false);
    user->RelateToType(d.NewType("is_online", Leaf, true, true), Many, One, false);
    auto page = std::make_unique<DiagnosticsForm>();
    page->Init();
    page->RegisterLoggableItemType("user");
    auto* areas = page->findChild<QTabWidget*>("logTabWidget");
    auto* tree = page->findChild<QTreeWidget*>("trackedUsersTree");
    ASSERT_TRUE(areas && tree);
    ItemPtr alice = user->GetItem("alice"), bob = user->GetItem("bob");
    Log("server", 1, "Connecting", ItemPtr());
    Log("Peer Messenger", 2, "Listening on %1", ItemPtr());
    EXPECT_EQ(d.GetType("log")->HasItem("Peer Messenger")["log_widget"].AsPointer<QTextBrowser>(), Browser(areas, 1));

    alice.NewItem("is_online");
    alice.NewItem("is_tracked");
    bob.NewItem("is_tracked");
    EXPECT_EQ(Rows(tree, 2), (QStringList{"alice/Online", "bob/Offline"}));
    alice.Disconnect("is_online");
    bob.NewItem("is_online");
    d.GetType("user")->GetItem("carol").NewItem("is_online");
    EXPECT_EQ(Rows(tree, 2), (QStringList{"alice/Offline", "bob/Online"})) << "an untracked user has no row";
    alice.Disconnect("is_tracked");
    EXPECT_EQ(Rows(tree, 2), QStringList{"bob/Online"});
    alice.NewItem("is_online");
    alice.NewItem("is_tracked");
    bob.Remove();
    EXPECT_EQ(Rows(tree, 2), QStringList{"alice/Online"});

    // A failed load empties the store: every row goes with it, but an area keeps its one tab.
    d.RemoveAllItems();
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    ItemPtr again = d.GetType("user")->GetItem("bob");
    again.NewItem("is_online");
    again.NewItem("is_tracked");
    EXPECT_EQ(Rows(tree, 2), QStringList{"bob/Online"});
    const QString hostile = "<b>bob</b> &amp; <a href=\"http://x\">link</a><img src=\"/etc/x\">";
    Log("server", 3, "Resolved", ItemPtr());
    Log("server", 1, hostile, ItemPtr());
    // The lines of a turn of the event loop show together at its end.
    QCoreApplication::processEvents();
    ASSERT_EQ(Texts(areas), (QStringList{"server", "Peer Messenger"}));
    EXPECT_EQ(Lines(Browser(areas, 0)), (QStringList{"Connecting", "      Resolved", hostile}));
    EXPECT_EQ(Lines(Browser(areas, 1)), QStringList{"   Listening on %1"});

    page->OnActionTriggered(nullptr, "show_data");
    EXPECT_EQ(dataDialog, nullptr) << "only for this page";
    page->OnActionTriggered(page.get(), "show_data");
    page->OnActionTriggered(page.get(), "type_navigator");
    ASSERT_TRUE(dataDialog && typeNavigatorDialog);
    const QList<QDialog*> opened{dataDialog, typeNavigatorDialog};
    EXPECT_TRUE(dataDialog->isVisible() && typeNavigatorDialog->isVisible());
    EXPECT_GT(typeNavigatorDialog->findChild<QComboBox*>("fromTypeBox")->count(), 0) << "initialised";
    page->OnActionTriggered(page.get(), "show_data");
    page->OnActionTriggered(page.get(), "type_navigator");
    EXPECT_EQ((QList<QDialog*>{dataDialog, typeNavigatorDialog}), opened);

    DataSaver saver;
    const QString file = Folder() + "/dump.dat";
    EXPECT_EQ(DumpTo(*page, file), "Data Dump Succeeded: Client data successfully dumped to file.");
    EXPECT_EQ(DumpTo(*page, Folder() + "/no/dump.dat"), "Data Dump Failed: Error dumping client data to file.");

    // No address outlives the page, and the log goes on behind it.
    EnableLogging();
    alice = user->GetItem("alice");
    page->Log("server", 1, "Alice is online", alice);
    // A subscriber that takes the other rows' nodes away when one goes: the page's own removal
    // of them must not reach a freed node.
    alice.NewItem("is_tracked");
    struct Remover : DataHandler
    {
        void OnRemoved(ItemPtr node)
        {
            ItemSet others = d.GetType("track_user_node")->GetItems();
            others.Erase(node);
            others.Remove();
        }
    } remover;
    d.GetType("track_user_node")->m_removedEvent.AddHandler(remover.NewEventHandler(&remover, &Remover::OnRemoved));

    QTextBrowser* serverTab = Browser(areas, 0);
    EXPECT_EQ(diagnosticsForm, page.get());
    page.reset();
    EXPECT_EQ(diagnosticsForm, nullptr);
    EXPECT_TRUE(!d.GetType("log_widget")->HasItem(serverTab) && d.GetType("track_user_node")->ItemCount() == 0u);
    alice.NewItem("is_online");
    alice.Disconnect("is_tracked");
    ItemPtr dora = d.GetType("user")->GetItem("dora");
    dora.NewItem("is_tracked");
    EXPECT_FALSE(dora["track_user_node"]);
    Log("server", 1, "Connected", alice);
    EXPECT_TRUE(FileLines("server").size() == 3 && alice.GetItems("item_log").Size() == 2u);
}
