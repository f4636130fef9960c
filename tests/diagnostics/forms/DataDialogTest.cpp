#include <QCoreApplication>
#include <QHeaderView>
#include <QListWidget>
#include <QPointer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <memory>

#include "diagnostics/DataDialog.h"
#include "store/Data.h"

namespace
{
class StoreBrowser : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Type* user = d.NewType("user", Primary, false, true);
        Type* room = d.NewType("room", Primary, false, true);
        Type* ticket = d.NewType("ticket", Primary, true, true);
        d.NewType("lonely", Leaf, false, true);
        user->RelateToType(room, Many, Many, false);
        ticket->RelateToType(user, Many, One, false);

        alice = user->GetItem("alice");
        bob = user->GetItem("bob");
        carol = user->GetItem("carol");
        lobby = room->GetItem("lobby");
        music = room->GetItem("music");
        alice.Connect(lobby);
        alice.Connect(music);
        bob.Connect(lobby);
        bob.Connect(music);
        carol.Connect(music);
    }

    void Open()
    {
        dialog = std::make_unique<DataDialog>(&d);
        types = dialog->findChild<QTreeWidget*>("typeList");
        items = dialog->findChild<QListWidget*>("itemList");
        tree = dialog->findChild<QTreeWidget*>("itemDataTree");
        ASSERT_TRUE(types && items && tree);
    }

    QTreeWidgetItem* TypeRow(const QString& name) const
    {
        const QList<QTreeWidgetItem*> rows = types->findItems(name, Qt::MatchExactly, 0);
        return rows.size() == 1 ? rows.first() : nullptr;
    }

    void Select(const QString& typeName) { types->setCurrentItem(TypeRow(typeName)); }

    void Click(const QString& text)
    {
        const QList<QListWidgetItem*> rows = items->findItems(text, Qt::MatchExactly);
        ASSERT_EQ(rows.size(), 1) << text.toStdString();
        emit items->itemClicked(rows.first());
    }

    QStringList ListTexts() const
    {
        QStringList texts;
        for (int index = 0; index < items->count(); ++index)
            texts << items->item(index)->text();
        return texts;
    }

    static QStringList ChildTexts(QTreeWidgetItem* row)
    {
        QStringList texts;
        for (int index = 0; index < row->childCount(); ++index)
            texts << row->child(index)->text(0);
        return texts;
    }

    QTreeWidgetItem* Child(QTreeWidgetItem* row, const QString& text) const
    {
        for (int index = 0; index < row->childCount(); ++index)
            if (row->child(index)->text(0) == text)
                return row->child(index);
        return nullptr;
    }

    // Every row of the tree with that text.
    int RowsShowing(const QString& text) const
    {
        return tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive, 0).size();
    }

    std::unique_ptr<DataDialog> dialog;
    QTreeWidget* types = nullptr;
    QListWidget* items = nullptr;
    QTreeWidget* tree = nullptr;
    ItemPtr alice, bob, carol, lobby, music;
};
} // namespace

TEST_F(StoreBrowser, ListsEveryTypeWithItsCount)
{
    d.GetType("ticket")->NewItem().Connect(alice);
    Open();
    EXPECT_EQ(dataDialog, dialog.get());
    EXPECT_EQ(dialog->windowTitle(), "Dialog");
    EXPECT_EQ(dialog->size(), QSize(784, 417));
    EXPECT_TRUE(dialog->testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_EQ(types->columnCount(), 3);
    EXPECT_EQ(types->headerItem()->text(0), "Type");
    EXPECT_EQ(types->headerItem()->text(1), "");
    EXPECT_EQ(types->headerItem()->text(2), "#");

    ASSERT_EQ(types->topLevelItemCount(), 4);
    const QStringList expected[] = {{"lonely", "value   ", "0"},
                                    {"room", "value   ", "2"},
                                    {"ticket", "null   ", "1"},
                                    {"user", "value   ", "3"}};
    for (int index = 0; index < 4; ++index)
    {
        QTreeWidgetItem* row = types->topLevelItem(index);
        EXPECT_EQ((QStringList{row->text(0), row->text(1), row->text(2)}), expected[index]);
    }

    dialog.reset();
    EXPECT_EQ(dataDialog, nullptr);
}

TEST_F(StoreBrowser, SelectingATypeListsItsItems)
{
    ItemPtr ticket = d.GetType("ticket")->NewItem();
    ticket.Connect(alice);
    Open();

    Select("user");
    EXPECT_EQ(ListTexts(), (QStringList{"alice", "bob", "carol"}));
    Select("ticket");
    EXPECT_EQ(ListTexts(), QStringList{QString::number(reinterpret_cast<quintptr>(ticket.Get()))});

    Click(ListTexts().first());
    EXPECT_EQ(tree->topLevelItemCount(), 1);
    Select("room");
    EXPECT_EQ(ListTexts(), (QStringList{"lobby", "music"}));
    EXPECT_EQ(tree->topLevelItemCount(), 0) << "another type empties the tree";

    Click("lobby");
    types->clearSelection();
    EXPECT_TRUE(ListTexts().isEmpty());
    EXPECT_EQ(tree->topLevelItemCount(), 0);
}

TEST_F(StoreBrowser, TheConnectionTreeLoadsEachLevelOnce)
{
    d.GetType("ticket")->NewItem().Connect(alice);
    Open();
    Select("user");
    Click("alice");

    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    EXPECT_EQ(root->text(0), "alice");
    EXPECT_TRUE(root->isExpanded());
    QStringList children = ChildTexts(root);
    children.sort();
    EXPECT_EQ(children, (QStringList{"[room] lobby", "[room] music", "[ticket, null]"}));

    QTreeWidgetItem* musicRow = Child(root, "[room] music");
    ASSERT_NE(musicRow, nullptr);
    EXPECT_EQ(ChildTexts(musicRow), QStringList{"~~unloaded~~"});
    EXPECT_FALSE(musicRow->isExpanded());

    musicRow->setExpanded(true);
    QStringList members = ChildTexts(musicRow);
    members.sort();
    EXPECT_EQ(members, (QStringList{"[user] alice", "[user] bob", "[user] carol"}))
        << "its own type left out, the parent included";
    EXPECT_EQ(tree->currentItem(), musicRow);
    QTreeWidgetItem* carolRow = Child(musicRow, "[user] carol");
    ASSERT_NE(carolRow, nullptr);

    musicRow->setExpanded(false);
    musicRow->setExpanded(true);
    EXPECT_EQ(musicRow->childCount(), 3);
    EXPECT_EQ(Child(musicRow, "[user] carol"), carolRow) << "not loaded a second time";

    // A level further down, back to the rooms.
    carolRow->setExpanded(true);
    EXPECT_EQ(ChildTexts(carolRow), QStringList{"[room] music"});
}

TEST_F(StoreBrowser, RemovedItemsVanishFromEveryRow)
{
    Open();
    Select("user");
    Click("alice");
    QTreeWidgetItem* root = tree->topLevelItem(0);
    Child(root, "[room] lobby")->setExpanded(true);
    Child(root, "[room] music")->setExpanded(true);
    Child(Child(root, "[room] music"), "[user] carol")->setExpanded(true);
    EXPECT_EQ(RowsShowing("[user] bob"), 2);
    EXPECT_EQ(RowsShowing("[room] music"), 2);

    bob.Remove();
    EXPECT_EQ(RowsShowing("[user] bob"), 0);
    EXPECT_EQ(ListTexts(), (QStringList{"alice", "carol"}));
    EXPECT_EQ(TypeRow("user")->text(2), "2");
    EXPECT_EQ(RowsShowing("[user] carol"), 1);

    // music is shown twice, once inside its own subtree; every row goes, with what hangs below.
    music.Remove();
    EXPECT_EQ(RowsShowing("[room] music"), 0);
    EXPECT_EQ(RowsShowing("[user] carol"), 0);
    EXPECT_EQ(ChildTexts(root), QStringList{"[room] lobby"});
    EXPECT_EQ(TypeRow("room")->text(2), "1");

    // Carol's rows went with music's; removing her now touches nothing that is gone.
    carol.Remove();
    EXPECT_EQ(ListTexts(), QStringList{"alice"});

    alice.Remove();
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    EXPECT_TRUE(ListTexts().isEmpty());

    // Nothing of the removed items is left to be reached.
    lobby.Remove();
    d.GetType("user")->GetItem("dave");
    Select("room");
    EXPECT_TRUE(ListTexts().isEmpty());
}

TEST_F(StoreBrowser, CountsAndListFollowNewAndRemovedItems)
{
    Open();
    Select("user");

    ItemPtr aaron = d.GetType("user")->GetItem("aaron");
    d.GetType("room")->GetItem("chess");
    EXPECT_EQ(TypeRow("user")->text(2), "4");
    EXPECT_EQ(TypeRow("room")->text(2), "3");
    EXPECT_EQ(ListTexts(), (QStringList{"aaron", "alice", "bob", "carol"}));

    Click("aaron");
    EXPECT_EQ(tree->topLevelItem(0)->text(0), "aaron");
    aaron.Remove();
    EXPECT_EQ(TypeRow("user")->text(2), "3");
    EXPECT_EQ(ListTexts(), (QStringList{"alice", "bob", "carol"}));
    EXPECT_EQ(tree->topLevelItemCount(), 0);

    // A valueless item made while its type is shown is listed by its empty value.
    Select("ticket");
    d.GetType("ticket")->NewItem();
    EXPECT_EQ(ListTexts(), QStringList{""});
    EXPECT_EQ(TypeRow("ticket")->text(2), "1");
}

TEST_F(StoreBrowser, TypesDeclaredOrRemovedWhileOpen)
{
    Open();
    Type* later = d.NewType("later", Primary, false, true);
    later->GetItem("x").Remove();
    EXPECT_EQ(TypeRow("later"), nullptr);

    Select("lonely");
    d.GetType("lonely")->GetItem("one");
    EXPECT_EQ(ListTexts(), QStringList{"one"});
    d.GetType("lonely")->Remove();
    EXPECT_EQ(TypeRow("lonely"), nullptr);
    EXPECT_FALSE(ListTexts().contains("one"));
    const QStringList shown = ListTexts();
    d.NewType("lonely", Leaf, false, true)->GetItem("two");
    EXPECT_EQ(ListTexts(), shown);
}

TEST_F(StoreBrowser, ClosingDeletesTheDialog)
{
    QPointer<DataDialog> opened = new DataDialog(&d);
    opened->show();
    opened->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(opened.isNull());
    EXPECT_EQ(dataDialog, nullptr);
    d.GetType("user")->GetItem("after");
    alice.Remove();
}
