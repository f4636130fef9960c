#include <QHeaderView>
#include <QTabWidget>
#include <QTest>

#include <functional>
#include <tuple>

#include "TransfersWindowFixture.h"
#include "shell/UIFunctions.h"
#include "store/Settings.h"

using namespace transfer_status;

namespace
{
const int BulkFiles = 1000;

// The whole client with a thousand transfers of bulk's in one list of its shown window, the first
// of them running: new rows then wait apart from the list and join it together.
class RowsHeldBack : public TransfersWindowFixture, public ::testing::WithParamInterface<bool>
{
protected:
    bool Upload() const { return GetParam(); }
    QTreeWidget* Shown() const { return List(Upload()); }

    void Begin()
    {
        ASSERT_NO_FATAL_FAILURE(StartLoggedIn());
        mp_window->resize(1100, 600);
        mp_window->show();
        FocusWidgetAndParents(Shown());
        QStringList l_bulk;
        for (int l_file = 0; l_file < BulkFiles + 2; ++l_file)
            l_bulk << QString("bulk%1.dat").arg(l_file, 4, 10, QChar('0'));
        if (Upload())
        {
            ASSERT_NO_FATAL_FAILURE(ShareFiles("Bulk", l_bulk, 1000000));
            for (const char* l_folder : {"CarolA", "CarolB", "BulkNew", "Dave"})
                ASSERT_NO_FATAL_FAILURE(ShareFiles(l_folder, {"one.dat", "two.dat", "three.dat"}, 2000000));
        }
        for (int l_file = 0; l_file < BulkFiles; ++l_file)
            m_bulk.push_back(Queue(Upload(), "bulk", "Bulk", l_bulk[l_file], 1000000));
        Run(m_bulk.front(), Upload(), 0, 1000);
        Report(m_bulk.front(), Upload(), 250000);
        QCoreApplication::processEvents();
        ASSERT_EQ(ListedFileRows(), BulkFiles);
    }

    // The file rows the list holds now, held ones not counted.
    int ListedFileRows() const
    {
        int l_rows = 0;
        for (QTreeWidgetItemIterator l_it(Shown()); *l_it; ++l_it)
            l_rows += (*l_it)->parent() && (*l_it)->parent()->parent() ? 1 : 0;
        return l_rows;
    }
    int Entries() const { return int(g(Upload() ? "upload_entry" : "download_entry").Size()); }
    bool Listed(ItemPtr i_entry) const
    {
        QTreeWidgetItem* lp_row = RowOf(i_entry, Upload());
        return lp_row && lp_row->treeWidget() == Shown();
    }
    // Waits for the held rows to join, a tenth of a second after they came.
    bool AllJoin() const
    {
        return QTest::qWaitFor([this] { return ListedFileRows() == Entries(); }, 5000);
    }

    // Every row depth first: "+" for an open one, the columns it has with their texts and
    // colours, and its bar.
    QStringList Dump() const
    {
        QStringList l_rows;
        for (QTreeWidgetItemIterator l_it(Shown()); *l_it; ++l_it)
        {
            int l_depth = 0;
            for (QTreeWidgetItem* lp_up = (*l_it)->parent(); lp_up; lp_up = lp_up->parent())
                ++l_depth;
            QStringList l_cells;
            for (int l_column = 0; l_column < (*l_it)->columnCount(); ++l_column)
                l_cells << (*l_it)->text(l_column) + "@" +
                               ((*l_it)->foreground(l_column).style() == Qt::NoBrush
                                    ? QString("-")
                                    : (*l_it)->foreground(l_column).color().name());
            l_rows << QString(l_depth * 2, ' ') + ((*l_it)->isExpanded() ? "+" : "") + l_cells.join('|') + " " +
                          BarOf(*l_it);
        }
        return l_rows;
    }

    // carol's, dave's and a few more of bulk's transfers, come in turns while bulk's first one
    // runs, some of them moving on meanwhile. The entries made.
    std::vector<ItemPtr> Arrive()
    {
        std::vector<ItemPtr> l_new;
        const auto l_turn = [this](qint64 i_position) {
            Report(m_bulk.front(), Upload(), i_position);
            QCoreApplication::processEvents();
        };
        for (const auto& [l_folder, l_file] : {std::pair{"CarolA", "one.dat"}, {"CarolA", "two.dat"}, {"CarolB", "one.dat"}})
            l_new.push_back(Queue(Upload(), "carol", l_folder, l_file, 2000000));
        l_turn(300000);
        l_new.push_back(Queue(Upload(), "bulk", "Bulk", QString("bulk%1.dat").arg(BulkFiles), 1000000));
        l_new.push_back(Queue(Upload(), "bulk", "BulkNew", "one.dat", 2000000));
        l_turn(350000);
        Run(l_new[0], Upload(), 0, 2000);
        Report(l_new[0], Upload(), 500000);
        if (!Upload())
            l_new[1] += d.GetType("denial_reason")->GetItem("Queue Full");
        SetStatus(l_new[1], Upload(), Denied);
        SetStatus(l_new[4], Upload(), Complete);
        SetStatus(l_new[3], Upload(), Aborted);
        l_turn(400000);
        l_new.push_back(Queue(Upload(), "dave", "Dave", "one.dat", 2000000));
        Report(l_new[0], Upload(), 1500000);
        l_turn(450000);
        return l_new;
    }

    std::vector<ItemPtr> m_bulk;
};
} // namespace

INSTANTIATE_TEST_SUITE_P(Lists, RowsHeldBack, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& i_info) { return i_info.param ? "Uploads" : "Downloads"; });

// The same transfers come twice, a few at a time while a bar runs: with the list out of sight,
// where each row goes in at once, and with the list shown, where they are held; once they have
// joined, both lists are alike row for row, with their folder rows open and then closed.
TEST_P(RowsHeldBack, RowsHeldBackJoinAsRowsTakenAtOnceWouldStand)
{
    ASSERT_NO_FATAL_FAILURE(Begin());
    auto* lp_pages = Form()->findChild<QTabWidget*>("transfersTabControl");
    ASSERT_TRUE(lp_pages);
    for (const bool l_foldersOpen : {true, false})
    {
        SCOPED_TRACE(l_foldersOpen ? "folders open" : "folders closed");
        if (!l_foldersOpen)
            Form()->OnActionBarTriggered(nullptr, Upload() ? "expand_upload_folders" : "expand_download_folders");
        lp_pages->setCurrentIndex(Upload() ? 0 : 1);
        ASSERT_FALSE(Shown()->isVisible());
        std::vector<ItemPtr> l_new = Arrive();
        for (ItemPtr l_entry : l_new)
            EXPECT_TRUE(Listed(l_entry));
        const QStringList l_atOnce = Dump();
        for (ItemPtr l_entry : l_new)
            Remove(l_entry, Upload());
        QCoreApplication::processEvents();
        EXPECT_EQ(ListedFileRows(), BulkFiles);

        FocusWidgetAndParents(Shown());
        ASSERT_TRUE(Shown()->isVisible());
        l_new = Arrive();
        EXPECT_FALSE(Listed(l_new.back()));
        EXPECT_EQ(ListedFileRows(), BulkFiles);
        // Held rows are found from their entries as listed ones are.
        EXPECT_EQ(Form()->GetNodeDownloadEntryItems(RowOf(l_new.back(), false)).Size(), Upload() ? 0u : 1u);
        EXPECT_EQ(Form()->GetNodeUploadEntryItems(RowOf(l_new.back(), true)).Size(), Upload() ? 1u : 0u);
        ASSERT_TRUE(AllJoin());
        QCoreApplication::processEvents();
        EXPECT_EQ(Dump(), l_atOnce);
        Shown()->scrollToBottom();
        Picture(mp_window.get(), QString("held-rows-joined-%1-folders-%2.png")
                                     .arg(Upload() ? "uploads" : "downloads", l_foldersOpen ? "open" : "closed"));
        for (ItemPtr l_entry : l_new)
            Remove(l_entry, Upload());
        QCoreApplication::processEvents();
    }
}

// What the user and the transfer queues do to a row while it is held: the row joins first, or
// goes with its entry, and the list keeps one row for each entry.
TEST_P(RowsHeldBack, AHeldRowCanBeChosenRemovedAndCleared)
{
    ASSERT_NO_FATAL_FAILURE(Begin());
    const auto l_dave = [this] { return Queue(Upload(), "dave", "Dave", "one.dat", 2000000); };
    const std::pair<const char*, std::function<void()>> l_cases[] = {
        {"a click where the row comes selects it, and Delete removes a download", [&] {
             for (int l_top = 0; l_top < Shown()->topLevelItemCount(); ++l_top)
                 Shown()->topLevelItem(l_top)->setExpanded(false);
             QTreeWidgetItem* lp_last = Shown()->topLevelItem(Shown()->topLevelItemCount() - 1);
             const ItemPtr l_entry = l_dave();
             ASSERT_FALSE(Listed(l_entry));
             // dave's row, his folder's and then his file's.
             const QRect l_last = Shown()->visualItemRect(lp_last);
             const QPoint l_file(Shown()->header()->sectionViewportPosition(2) + 10,
                                 l_last.bottom() + 1 + 2 * l_last.height() + l_last.height() / 2);
             QTest::mouseClick(Shown()->viewport(), Qt::LeftButton, {}, l_file);
             ASSERT_TRUE(Listed(l_entry));
             EXPECT_TRUE(RowOf(l_entry, Upload())->isSelected());
             EXPECT_EQ(Shown()->selectedItems().size(), 1);
             if (Upload())
                 return Remove(l_entry, true);
             QTest::keyClick(Shown(), Qt::Key_Delete);
             EXPECT_FALSE(g("download_entry").Contains(l_entry));
         }},
        {"removed by the transfer queues", [&] {
             const ItemPtr l_entry = l_dave();
             ASSERT_FALSE(Listed(l_entry));
             Remove(l_entry, Upload());
         }},
        {"cleared from the toolbar once finished", [&] {
             const ItemPtr l_entry = l_dave();
             SetStatus(l_entry, Upload(), Complete);
             ASSERT_FALSE(Listed(l_entry));
             Form()->OnActionBarTriggered(nullptr, Upload() ? "clear_complete_and_aborted_uploads" : "clear_complete_downloads");
             EXPECT_FALSE(g(Upload() ? "upload_entry" : "download_entry").Contains(l_entry));
         }},
        // Last, as it leaves the list too short to hold rows back.
        {"removed together with a listed one and a neighbour held in a listed folder", [&] {
             const std::vector<ItemPtr> l_held = {
                 l_dave(), Queue(Upload(), "dave", "Dave", "two.dat", 2000000),
                 Queue(Upload(), "bulk", "Bulk", QString("bulk%1.dat").arg(BulkFiles), 1000000)};
             for (ItemPtr l_entry : l_held)
                 ASSERT_FALSE(Listed(l_entry));
             const TransfersForm::RowRemovals l_together;
             Remove(m_bulk.back(), Upload());
             m_bulk.pop_back();
             for (ItemPtr l_entry : l_held)
                 Remove(l_entry, Upload());
         }},
    };
    for (const auto& [l_name, l_act] : l_cases)
    {
        SCOPED_TRACE(l_name);
        l_act();
        ASSERT_TRUE(AllJoin());
        QCoreApplication::processEvents();
        EXPECT_TRUE(Shown()->findItems("dave", Qt::MatchExactly).isEmpty());
        EXPECT_EQ(ListedFileRows(), int(m_bulk.size()));
        EXPECT_EQ(d.GetType(Upload() ? "upload_list_node" : "download_list_node")->ItemCount(), m_bulk.size());
        for (ItemPtr l_entry : m_bulk)
            EXPECT_TRUE(Listed(l_entry));
    }
}
