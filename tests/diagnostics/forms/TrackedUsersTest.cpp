#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QMessageBox>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <memory>

#include "diagnostics/DataDialog.h"
#include "diagnostics/DiagnosticsForm.h"
#include "diagnostics/LogFixture.h"
#include "diagnostics/TypeNavigatorDialog.h"
#include "store/DataSaver.h"

namespace
{
// The page with the user flags the server link sets and clears.
class TrackedUsers : public LogFixture
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
        tree = page->findChild<QTreeWidget*>("trackedUsersTree");
        ASSERT_NE(tree, nullptr);
        alice = user->GetItem("alice");
        bob = user->GetItem("bob");
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
    QTreeWidget* tree = nullptr;
    ItemPtr alice;
    ItemPtr bob;
};

// Answers the next modal box after noting its title and text.
struct BoxWatch
{
    QString title;
    QString text;
    void Arm()
    {
        QTimer::singleShot(0, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            text = box->text();
            box->accept();
        });
    }
};
} // namespace

TEST_F(TrackedUsers, ListsTrackedUsersWithTheirStatus)
{
    EXPECT_EQ(tree->columnCount(), 2);
    EXPECT_EQ(tree->headerItem()->text(0), "User");
    EXPECT_EQ(tree->headerItem()->text(1), "");
    EXPECT_EQ(tree->columnWidth(0), 300);
    EXPECT_EQ(tree->columnWidth(1), 100);

    Flag(alice, "is_online", true);
    Flag(alice, "is_tracked", true);
    Flag(bob, "is_tracked", true);
    EXPECT_EQ(Rows(), (QStringList{"alice/Online", "bob/Offline"}));

    Flag(alice, "is_online", false);
    Flag(bob, "is_online", true);
    EXPECT_EQ(Rows(), (QStringList{"alice/Offline", "bob/Online"}));

    // Users who are not tracked have no row to change.
    ItemPtr carol = d.GetType("user")->GetItem("carol");
    Flag(carol, "is_online", true);
    EXPECT_EQ(tree->topLevelItemCount(), 2);

    // Each row is named by the node linked to its user.
    ItemPtr node = alice["track_user_node"];
    ASSERT_TRUE(node);
    EXPECT_EQ(node.AsPointer<QTreeWidgetItem>(), tree->topLevelItem(0));
}

TEST_F(TrackedUsers, AnUntrackedUserLeavesNothingBehind)
{
    Flag(alice, "is_tracked", true);
    Flag(bob, "is_tracked", true);
    Flag(alice, "is_tracked", false);
    EXPECT_EQ(Rows(), QStringList{"bob/Offline"});
    EXPECT_FALSE(alice["track_user_node"]) << "no link to the deleted row";
    EXPECT_EQ(d.GetType("track_user_node")->ItemCount(), 1u);

    // Later changes of alice reach no row; bob's row is untouched.
    Flag(alice, "is_online", true);
    Flag(alice, "is_online", false);
    EXPECT_EQ(Rows(), QStringList{"bob/Offline"});

    Flag(alice, "is_online", true);
    Flag(alice, "is_tracked", true);
    EXPECT_EQ(Rows(), (QStringList{"bob/Offline", "alice/Online"}));
}

TEST_F(TrackedUsers, RowsOfRemovedUsersVanish)
{
    Flag(alice, "is_tracked", true);
    Flag(bob, "is_tracked", true);
    alice.Remove();
    EXPECT_EQ(Rows(), QStringList{"bob/Offline"});
    EXPECT_EQ(d.GetType("track_user_node")->ItemCount(), 1u);

    // An emptied store (a failed load) takes every row with it.
    d.RemoveAllItems();
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    ItemPtr again = d.GetType("user")->GetItem("bob");
    Flag(again, "is_online", true);
    Flag(again, "is_tracked", true);
    EXPECT_EQ(Rows(), QStringList{"bob/Online"});
}

TEST_F(TrackedUsers, NoRowAddressOutlivesThePage)
{
    Flag(alice, "is_tracked", true);
    page.reset();
    EXPECT_EQ(d.GetType("track_user_node")->ItemCount(), 0u);
    Flag(alice, "is_online", true);
    Flag(alice, "is_tracked", false);
    Flag(bob, "is_tracked", true);
    EXPECT_FALSE(bob["track_user_node"]);
}

TEST_F(TrackedUsers, ActionsOpenOneDialogOfEachKind)
{
    page->OnActionTriggered(nullptr, "show_data");
    EXPECT_EQ(dataDialog, nullptr) << "only for this page";

    page->OnActionTriggered(page.get(), "show_data");
    ASSERT_NE(dataDialog, nullptr);
    DataDialog* browser = dataDialog;
    EXPECT_TRUE(browser->isVisible());
    EXPECT_EQ(browser->parent(), page.get());
    page->OnActionTriggered(page.get(), "show_data");
    EXPECT_EQ(dataDialog, browser);

    page->OnActionTriggered(page.get(), "type_navigator");
    ASSERT_NE(typeNavigatorDialog, nullptr);
    TypeNavigatorDialog* navigator = typeNavigatorDialog;
    EXPECT_TRUE(navigator->isVisible());
    EXPECT_GT(navigator->findChild<QComboBox*>("fromTypeBox")->count(), 0) << "initialised";
    page->OnActionTriggered(page.get(), "type_navigator");
    EXPECT_EQ(typeNavigatorDialog, navigator);

    // Closed, they are gone, and the next trigger makes fresh ones.
    browser->close();
    navigator->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(dataDialog, nullptr);
    EXPECT_EQ(typeNavigatorDialog, nullptr);
    page->OnActionTriggered(page.get(), "show_data");
    EXPECT_NE(dataDialog, nullptr);
    page->OnActionTriggered(page.get(), "Show_Data");
}

TEST_F(TrackedUsers, DumpTellsHowItWent)
{
    DataSaver saver;
    alice.Connect(d.GetType("is_tracked")->GetGlobalNullItem());
    const QString file = Folder() + "/dump.dat";

    BoxWatch box;
    box.Arm();
    EXPECT_TRUE(page->DumpDataTo(file));
    EXPECT_EQ(box.title, "Data Dump Succeeded");
    EXPECT_EQ(box.text, "Client data successfully dumped to file.");
    EXPECT_GT(QFile(file).size(), 0);

    box.Arm();
    EXPECT_FALSE(page->DumpDataTo(Folder() + "/missing/folder/dump.dat"));
    EXPECT_EQ(box.title, "Data Dump Failed");
    EXPECT_EQ(box.text, "Error dumping client data to file.");
}
