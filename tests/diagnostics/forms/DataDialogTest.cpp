#include <QCoreApplication>
#include <QListWidget>
#include <QPointer>
#include <QTreeWidget>
#include <gtest/gtest.h>

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
        for (ItemPtr member : {alice, bob})
            member.Connect(lobby);
        for (ItemPtr member : {alice, bob, carol})
            member.Connect(music);
    }

    // Opens a dialog owned by the test: it goes when the test ends.
    void Open()
    {
        dialog = new DataDialog(&d);
        types = dialog->findChild<QTreeWidget*>("typeList");
        items = dialog->findChild<QListWidget*>("itemList");
        tree = dialog->findChild<QTreeWidget*>("itemDataTree");
        ASSERT_TRUE(types && items && tree);
    }
    void TearDown() override { delete dialog; }

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
    // The texts of a row's children, sorted.
    static QStringList ChildTexts(QTreeWidgetItem* row)
    {
        QStringList texts;
        for (int index = 0; index < row->childCount(); ++index)
            texts << row->child(index)->text(0);
        texts.sort();
        return texts;
    }
    static QTreeWidgetItem* Child(QTreeWidgetItem* row, const QString& text)
    {
        for (int index = 0; index < row->childCount(); ++index)
            if (row->child(index)->text(0) == text)
                return row->child(index);
        return nullptr;
    }
    int RowsShowing(const QString& text) const
    {
        return tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive, 0).size();
    }

    QPointer<DataDialog> dialog;
    QTreeWidget* types = nullptr;
    QListWidget* items = nullptr;
    QTreeWidget* tree = nullptr;
    ItemPtr alice, bob, carol, lobby, music;
};
} // namespace

TEST_F(StoreBrowser, ListsTheTypesAsTheyComeAndGoAndIsDeletedOnClose)
{
    d.GetType("ticket")->NewItem().Connect(alice);
    Open();
    EXPECT_EQ(dataDialog, dialog.data());
    QTreeWidgetItem* header = types->headerItem();
    EXPECT_EQ((QStringList{header->text(0), header->text(1), header->text(2)}), (QStringList{"Type", "", "#"}));

    ASSERT_EQ(types->topLevelItemCount(), 4);
    const QStringList expected[] = {
        {"lonely", "value   ", "0"}, {"room", "value   ", "2"}, {"ticket", "null   ", "1"}, {"user", "value   ", "3"}};
    for (int index = 0; index < 4; ++index)
    {
        QTreeWidgetItem* row = types->topLevelItem(index);
        EXPECT_EQ((QStringList{row->text(0), row->text(1), row->text(2)}), expected[index]);
    }

    // Types declared or removed while it is open.
    d.NewType("later", Primary, false, true)->GetItem("x").Remove();
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

    dialog->show();
    dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(dialog.isNull());
    EXPECT_EQ(dataDialog, nullptr);
    d.GetType("user")->GetItem("after");
    alice.Remove();
}

TEST_F(StoreBrowser, TheItemListFollowsTheSelectedTypeAndTheStore)
{
    ItemPtr ticket = d.GetType("ticket")->NewItem();
    ticket.Connect(alice);
    Open();
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

    Select("user");
    d.GetType("user")->GetItem("aaron");
    d.GetType("room")->GetItem("chess");
    EXPECT_EQ(TypeRow("user")->text(2), "4");
    EXPECT_EQ(TypeRow("room")->text(2), "3");
    EXPECT_EQ(ListTexts(), (QStringList{"aaron", "alice", "bob", "carol"}));

    // A valueless item made while its type is shown is listed by its empty value.
    ticket.Remove();
    Select("ticket");
    d.GetType("ticket")->NewItem();
    EXPECT_EQ(ListTexts(), QStringList{""});
    EXPECT_EQ(TypeRow("ticket")->text(2), "1");
}

TEST_F(StoreBrowser, TheConnectionTreeLoadsEachLevelOnceAndLosesRemovedItems)
{
    d.GetType("ticket")->NewItem().Connect(alice);
    Open();
    Select("user");
    Click("alice");
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    EXPECT_EQ(root->text(0), "alice");
    EXPECT_TRUE(root->isExpanded());
    EXPECT_EQ(ChildTexts(root), (QStringList{"[room] lobby", "[room] music", "[ticket, null]"}));

    QTreeWidgetItem* musicRow = Child(root, "[room] music");
    ASSERT_NE(musicRow, nullptr);
    EXPECT_EQ(ChildTexts(musicRow), QStringList{"~~unloaded~~"});
    EXPECT_FALSE(musicRow->isExpanded());
    musicRow->setExpanded(true);
    EXPECT_EQ(ChildTexts(musicRow), (QStringList{"[user] alice", "[user] bob", "[user] carol"}))
        << "its own type left out, the parent included";
    EXPECT_EQ(tree->currentItem(), musicRow);
    QTreeWidgetItem* carolRow = Child(musicRow, "[user] carol");
    ASSERT_NE(carolRow, nullptr);
    musicRow->setExpanded(false);
    musicRow->setExpanded(true);
    EXPECT_EQ(musicRow->childCount(), 3);
    EXPECT_EQ(Child(musicRow, "[user] carol"), carolRow) << "not loaded a second time";
    carolRow->setExpanded(true);
    EXPECT_EQ(ChildTexts(carolRow), QStringList{"[room] music"});

    Child(root, "[room] lobby")->setExpanded(true);
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
    EXPECT_EQ(ChildTexts(root), (QStringList{"[room] lobby", "[ticket, null]"}));
    EXPECT_EQ(TypeRow("room")->text(2), "1");

    // Carol's rows went with music's; removing her now touches nothing that is gone.
    carol.Remove();
    EXPECT_EQ(ListTexts(), QStringList{"alice"});
    alice.Remove();
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    EXPECT_TRUE(ListTexts().isEmpty());
    lobby.Remove();
    d.GetType("user")->GetItem("dave");
    Select("room");
    EXPECT_TRUE(ListTexts().isEmpty());
}
