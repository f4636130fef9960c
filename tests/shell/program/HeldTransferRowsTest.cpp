#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QScrollBar>
#include <QStyleHints>
#include <QTabWidget>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <functional>
#include <tuple>
#include <utility>

#include "TransfersWindowFixture.h"
#include "shell/ActionSetToolBar.h"
#include "shell/Desktop.h"
#include "shell/RowNodes.h"
#include "shell/UIFunctions.h"
#include "store/Settings.h"
#include "views/chat/ChatsForm.h"

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
        {"a click where the row will come selects nothing, one on the row once painted selects it, and Delete "
         "removes a download",
         [&] {
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
             EXPECT_TRUE(Shown()->selectedItems().isEmpty());
             ASSERT_TRUE(AllJoin());
             QCoreApplication::processEvents();
             QTest::mouseClick(Shown()->viewport(), Qt::LeftButton, {}, l_file);
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

namespace
{
QStringList Names(const QString& i_prefix, int i_from, int i_count)
{
    QStringList l_names;
    for (int l_file = i_from; l_file < i_from + i_count; ++l_file)
        l_names << QString("%1%2.dat").arg(i_prefix).arg(l_file, 2, 10, QChar('0'));
    return l_names;
}

// How the list stands: carol's and dave's files listed below bulk's, and how many more each
// asks for later. A list longer than its window scrolls to where the user reads; one that fits
// has bulk's row closed and nothing to scroll; a short one takes its rows at once.
struct Length
{
    const char* name;
    bool fits;
    // Bulk's files that go first, leaving the list too short to hold rows back.
    int bulkGone;
    int reading;
    int later;
};
const Length Lengths[] = {
    {"a list longer than its window", false, 0, 40, 12},
    {"a list that fits its window", true, 0, 3, 3},
    // Last, as bulk's files do not come back.
    {"a short list, whose rows come at once", false, 100, 40, 12},
};
const int MostFiles = 52;

// What the user does while rows come: rests the pointer on a row or away from the list; clicks;
// double clicks with rows that came before it, or between its two clicks; chooses an entry of
// the row's menu.
enum class Act
{
    StillPointer,
    PointerElsewhere,
    Click,
    DoubleClick,
    RowsBetweenClicks,
    MessageUser,
    RemoveDownload
};
} // namespace

// Rows come above what is shown, in view above the pointer, or below what is shown, while the
// user points at a row or away from the list. Wherever they join, the row under the pointer, or
// the first row shown, stays where it was painted, on a list that scrolls by rows or by pixels;
// rows that join in view show where they belong, and on a list with nothing to scroll they push
// down the rows below them. The pointer acts on the row painted under it, and no row joins
// between the two clicks of a double click.
class RowsJoining : public RowsHeldBack
{
protected:
    void ActWhileRowsJoin(const Length& i_length)
    {
        ASSERT_NO_FATAL_FAILURE(Begin());
        if (Upload())
        {
            ASSERT_NO_FATAL_FAILURE(ShareFiles("BulkMore", Names("more", 0, MostFiles), 1000000));
            ASSERT_NO_FATAL_FAILURE(ShareFiles("CarolFiles", Names("carol", 0, MostFiles), 1000000));
            ASSERT_NO_FATAL_FAILURE(ShareFiles("DaveFiles", Names("dave", 0, MostFiles), 1000000));
        }
        QStyleHints* lp_hints = QGuiApplication::styleHints();
        const int l_usualInterval = lp_hints->mouseDoubleClickInterval();
        // A second click is a double click within this time of the first; one user sets it longer.
        const int l_interval = 200;
        const int l_slowInterval = 60000;
        lp_hints->setMouseDoubleClickInterval(l_interval);

        struct Where
        {
            const char* name;
            const char* pointedUser;
            const char* laterUser;
            const char* laterFolder;
            const char* laterPrefix;
        };
        const Where l_wheres[] = {
            {"rows above what is shown", "dave", "bulk", "BulkMore", "more"},
            {"rows in view above the pointer", "dave", "carol", "CarolFiles", "carol"},
            {"rows below what is shown", "carol", "dave", "DaveFiles", "dave"},
        };
        std::vector<Act> l_acts = {Act::StillPointer,      Act::PointerElsewhere, Act::Click, Act::DoubleClick,
                                   Act::RowsBetweenClicks, Act::MessageUser};
        if (!Upload())
            l_acts.push_back(Act::RemoveDownload);
        QString l_chosen;
        QPoint l_menuAt;
        Desktop::SetPopupMenu([&l_chosen, &l_menuAt](QMenu& io_menu, const QPoint& i_at) {
            l_menuAt = i_at;
            for (QAction* lp_action : io_menu.actions())
                if (lp_action->text() == l_chosen)
                    return lp_action->trigger();
            ADD_FAILURE() << "no menu entry " << l_chosen.toStdString();
        });
        const auto l_firstFile = [this](const QString& i_user) {
            return Shown()->findItems(i_user, Qt::MatchExactly).value(0)->child(0)->child(0);
        };
        const auto l_entryOf = [this](QTreeWidgetItem* ip_row) {
            return NodeOfRow(Upload() ? "upload_list_node" : "download_list_node",
                             ip_row)[Upload() ? "upload_entry" : "download_entry"];
        };
        QWidget* lp_viewport = Shown()->viewport();
        QScrollBar* lp_bar = Shown()->verticalScrollBar();

        for (int l_gone = 0; l_gone < i_length.bulkGone; ++l_gone)
        {
            Remove(m_bulk.back(), Upload());
            m_bulk.pop_back();
        }
        std::vector<ItemPtr> l_reading;
        for (const char* l_user : {"carol", "dave"})
            for (const QString& l_name : Names(l_user, 0, i_length.reading))
                l_reading.push_back(Queue(Upload(), l_user, l_user == QString("carol") ? "CarolFiles" : "DaveFiles", l_name, 1000000));
        ASSERT_TRUE(AllJoin());
        Shown()->findItems("bulk", Qt::MatchExactly).value(0)->setExpanded(!i_length.fits);
        QCoreApplication::processEvents();
        const bool l_holds = i_length.bulkGone == 0;

        for (const auto l_scrolling : {QAbstractItemView::ScrollPerItem, QAbstractItemView::ScrollPerPixel})
            for (const Where& l_where : l_wheres)
                for (const Act l_act : l_acts)
                {
                    SCOPED_TRACE(QString("%1, %2, act %3, scrolled per %4")
                                     .arg(i_length.name, l_where.name)
                                     .arg(int(l_act))
                                     .arg(l_scrolling == QAbstractItemView::ScrollPerItem ? "row" : "pixel")
                                     .toStdString());
                    Shown()->setVerticalScrollMode(l_scrolling);
                    FocusWidgetAndParents(Shown());
                    Shown()->clearSelection();
                    QTreeWidgetItem* lp_pointed = l_firstFile(l_where.pointedUser);
                    const ItemPtr l_pointed = l_entryOf(lp_pointed);
                    const QString l_pointedName = lp_pointed->text(2);
                    Shown()->scrollToItem(lp_pointed, QAbstractItemView::PositionAtCenter);
                    QCoreApplication::processEvents();
                    ASSERT_EQ(lp_bar->maximum() == 0, i_length.fits);
                    const QPoint l_pointer(Shown()->header()->sectionViewportPosition(2) + 10,
                                           Shown()->visualItemRect(lp_pointed).center().y());
                    ASSERT_EQ(Shown()->itemAt(l_pointer), lp_pointed);
                    QTreeWidgetItem* lp_first = Shown()->itemAt(0, 0);
                    const int l_firstTop = Shown()->visualItemRect(lp_first).top();
                    const int l_rowHeight = Shown()->visualItemRect(lp_pointed).height();
                    const int l_entries = Entries();
                    QTreeWidgetItem* lp_carolFolder = l_firstFile("carol")->parent();
                    QTreeWidgetItem* lp_lastInFolder = lp_carolFolder->child(lp_carolFolder->childCount() - 1);
                    if (l_act == Act::PointerElsewhere)
                        QTest::mouseMove(mp_window.get(), QPoint(2, 2));
                    else
                        QTest::mouseMove(lp_viewport, l_pointer);

                    const QString l_picture = QString("held-rows-%1-%2-%3-%4-%5.png")
                                                  .arg(Upload() ? "uploads" : "downloads", l_where.laterUser)
                                                  .arg(int(l_act))
                                                  .arg(int(l_scrolling))
                                                  .arg(int(&i_length - Lengths));
                    std::vector<ItemPtr> l_later;
                    const auto l_rowsCome = [&](bool i_held) {
                        for (const QString& l_name : Names(l_where.laterPrefix, l_where.laterUser == QString("bulk") ? 0 : i_length.reading,
                                                           i_length.later))
                            l_later.push_back(Queue(Upload(), l_where.laterUser, l_where.laterFolder, l_name, 1000000));
                        for (ItemPtr l_entry : l_later)
                            ASSERT_NE(Listed(l_entry), i_held);
                        Picture(mp_window.get(), "before-" + l_picture);
                    };
                    const auto l_rightClick = [&](const char* i_entry) {
                        l_chosen = i_entry;
                        l_menuAt = QPoint();
                        l_rowsCome(l_holds);
                        QTest::mousePress(lp_viewport, Qt::RightButton, {}, l_pointer);
                        QContextMenuEvent l_menu(QContextMenuEvent::Mouse, l_pointer, lp_viewport->mapToGlobal(l_pointer));
                        QCoreApplication::sendEvent(lp_viewport, &l_menu);
                        QTest::mouseRelease(lp_viewport, Qt::RightButton, {}, l_pointer);
                        // The menu opens at the pointer.
                        const QPoint l_at = lp_viewport->mapToGlobal(l_pointer);
                        EXPECT_EQ(std::make_pair(l_menuAt.x(), l_menuAt.y()), std::make_pair(l_at.x(), l_at.y()));
                    };
                    const int l_opened = m_opened.size();
                    switch (l_act)
                    {
                    case Act::StillPointer:
                    case Act::PointerElsewhere:
                        l_rowsCome(l_holds);
                        break;
                    case Act::Click:
                        l_rowsCome(l_holds);
                        QTest::mouseClick(lp_viewport, Qt::LeftButton, {}, l_pointer);
                        EXPECT_EQ(Shown()->selectedItems(), QList<QTreeWidgetItem*>{lp_pointed});
                        break;
                    case Act::DoubleClick:
                        l_rowsCome(l_holds);
                        QTest::mouseClick(lp_viewport, Qt::LeftButton, {}, l_pointer);
                        QTest::mouseDClick(lp_viewport, Qt::LeftButton, {}, l_pointer);
                        QTest::mouseRelease(lp_viewport, Qt::LeftButton, {}, l_pointer);
                        break;
                    case Act::RowsBetweenClicks:
                        lp_hints->setMouseDoubleClickInterval(l_slowInterval);
                        QTest::mouseClick(lp_viewport, Qt::LeftButton, {}, l_pointer);
                        l_rowsCome(true);
                        // Long past the time the rows would have joined had nobody clicked.
                        QTest::qWait(3 * HeldTransferRows::JoinAfterMs);
                        for (ItemPtr l_entry : l_later)
                            EXPECT_FALSE(Listed(l_entry));
                        QTest::mouseDClick(lp_viewport, Qt::LeftButton, {}, l_pointer);
                        QTest::mouseRelease(lp_viewport, Qt::LeftButton, {}, l_pointer);
                        lp_hints->setMouseDoubleClickInterval(l_interval);
                        break;
                    case Act::MessageUser:
                        l_rightClick("Message user");
                        EXPECT_TRUE(chatsForm->TabWidget()->tabText(chatsForm->TabWidget()->currentIndex()).startsWith(l_where.pointedUser))
                            << chatsForm->TabWidget()->tabText(chatsForm->TabWidget()->currentIndex()).toStdString();
                        break;
                    case Act::RemoveDownload:
                        l_rightClick("Remove download");
                        EXPECT_FALSE(g("download_entry").Contains(l_pointed));
                        EXPECT_EQ(Entries(), l_entries + i_length.later - 1);
                        break;
                    }
                    if (l_act == Act::DoubleClick || l_act == Act::RowsBetweenClicks)
                    {
                        EXPECT_EQ(Shown()->selectedItems(), QList<QTreeWidgetItem*>{lp_pointed});
                        if (!Upload())
                        {
                            ASSERT_EQ(m_opened.size(), l_opened + 1);
                            const QString l_target = transferQueueManager->GetDownloadTargetPath(l_pointed, true);
                            EXPECT_EQ(m_opened.last(),
                                      QUrl::fromLocalFile(QString(l_target).replace('\\', '/')).toString(QUrl::FullyEncoded));
                        }
                    }

                    // Once every row has joined and the list is seen again.
                    ASSERT_TRUE(AllJoin());
                    FocusWidgetAndParents(Shown());
                    QCoreApplication::processEvents();
                    Picture(mp_window.get(), "after-" + l_picture);
                    const bool l_inView = l_where.laterUser == QString("carol");
                    // Rows that came in view above the row kept push it down; with nothing to
                    // scroll, so do rows in view above the pointer.
                    const bool l_pushed = l_inView && (l_act == Act::PointerElsewhere || i_length.fits);
                    if (l_act == Act::PointerElsewhere)
                    {
                        EXPECT_EQ(Shown()->itemAt(0, 0), lp_first);
                        EXPECT_EQ(Shown()->visualItemRect(lp_first).top(), l_firstTop);
                    }
                    if (l_act != Act::RemoveDownload)
                    {
                        EXPECT_EQ(Shown()->visualItemRect(lp_pointed).center().y(),
                                  l_pointer.y() + (l_pushed ? i_length.later * l_rowHeight : 0));
                    }
                    if (l_act == Act::Click)
                    {
                        EXPECT_EQ(Shown()->selectedItems(), QList<QTreeWidgetItem*>{lp_pointed});
                    }
                    if (l_inView)
                    {
                        // Right after the folder's rows, the last of them just above dave's rows.
                        EXPECT_EQ(Shown()->visualItemRect(RowOf(l_later.front(), Upload())).top(),
                                  Shown()->visualItemRect(lp_lastInFolder).bottom() + 1);
                        const QRect l_last = Shown()->visualItemRect(RowOf(l_later.back(), Upload()));
                        EXPECT_TRUE(l_pushed || (l_last.top() >= 0 && l_last.bottom() < lp_viewport->height()));
                        if (l_act != Act::RemoveDownload)
                        {
                            EXPECT_EQ(l_last.bottom() + 1 + 2 * l_rowHeight, Shown()->visualItemRect(lp_pointed).top());
                        }
                    }
                    EXPECT_EQ(lp_bar->maximum() == 0, i_length.fits);

                    for (ItemPtr l_entry : l_later)
                        Remove(l_entry, Upload());
                    if (l_act == Act::RemoveDownload)
                    {
                        const ItemPtr l_again = Queue(false, l_where.pointedUser,
                                                      l_where.pointedUser == QString("dave") ? "DaveFiles" : "CarolFiles",
                                                      l_pointedName, 1000000);
                        std::replace(l_reading.begin(), l_reading.end(), l_pointed, l_again);
                    }
                    ASSERT_TRUE(AllJoin());
                    // A short list takes rows at once again when no second click can come.
                    if (!l_holds && l_act >= Act::Click)
                        QTest::qWait(l_interval);
                    QCoreApplication::processEvents();
                }
        for (ItemPtr l_entry : l_reading)
            Remove(l_entry, Upload());
        ASSERT_TRUE(AllJoin());
        lp_hints->setMouseDoubleClickInterval(l_usualInterval);
    }
};

INSTANTIATE_TEST_SUITE_P(Lists, RowsJoining, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& i_info) { return i_info.param ? "Uploads" : "Downloads"; });

TEST_P(RowsJoining, KeepWhatIsShownOnAListLongerThanItsWindow)
{
    ActWhileRowsJoin(Lengths[0]);
}

TEST_P(RowsJoining, KeepWhatIsShownOnAListThatFitsItsWindow)
{
    ActWhileRowsJoin(Lengths[1]);
}

TEST_P(RowsJoining, KeepWhatIsShownOnAShortListWhoseRowsComeAtOnce)
{
    ActWhileRowsJoin(Lengths[2]);
}

// What the list, the toolbar and the keys do while rows are held: each reaches the held rows as
// it would have reached them in the list, had they joined at once.
TEST_P(RowsHeldBack, TheListItsKeysAndItsToolbarTreatHeldRowsAsListedOnes)
{
    ASSERT_NO_FATAL_FAILURE(Begin());
    if (Upload())
    {
        ASSERT_NO_FATAL_FAILURE(ShareFiles("Eve", {"one.dat"}, 2000000));
    }
    auto* lp_pages = Form()->findChild<QTabWidget*>("transfersTabControl");
    ASSERT_TRUE(lp_pages);
    const auto l_users = [this] {
        QStringList l_names;
        for (int l_top = 0; l_top < Shown()->topLevelItemCount(); ++l_top)
            l_names << Shown()->topLevelItem(l_top)->text(0);
        return l_names;
    };
    const auto l_held = [this](const char* i_user, const char* i_folder, const char* i_file) {
        const ItemPtr l_entry = Queue(Upload(), i_user, i_folder, i_file, 2000000);
        EXPECT_FALSE(Listed(l_entry));
        return l_entry;
    };
    const auto l_action = [this](const QString& i_text) {
        FocusWidgetAndParents(Shown());
        for (QAction* lp_action : actionBar->actions())
            if (lp_action->text() == i_text)
                return lp_action->trigger();
        ADD_FAILURE() << "no action " << i_text.toStdString();
    };
    const std::pair<const char*, std::function<void()>> l_cases[] = {
        {"a row made once the list is hidden goes after the rows held so far", [&] {
             const ItemPtr l_dave = l_held("dave", "Dave", "one.dat");
             lp_pages->setCurrentIndex(Upload() ? 0 : 1);
             const ItemPtr l_eve = Queue(Upload(), "eve", "Eve", "one.dat", 2000000);
             EXPECT_EQ(l_users(), (QStringList{"bulk", "dave", "eve"}));
             Remove(l_dave, Upload());
             Remove(l_eve, Upload());
             FocusWidgetAndParents(Shown());
         }},
        {"a row made once a removal took the list under a thousand files goes after the rows held so far", [&] {
             const ItemPtr l_dave = l_held("dave", "Dave", "one.dat");
             std::vector<QString> l_names;
             for (int l_removed = 0; l_removed < 2; ++l_removed)
             {
                 l_names.push_back(RowOf(m_bulk.back(), Upload())->text(2));
                 Remove(m_bulk.back(), Upload());
                 m_bulk.pop_back();
             }
             const ItemPtr l_eve = Queue(Upload(), "eve", "Eve", "one.dat", 2000000);
             EXPECT_EQ(l_users(), (QStringList{"bulk", "dave", "eve"}));
             Remove(l_dave, Upload());
             Remove(l_eve, Upload());
             for (const QString& l_name : l_names)
                 m_bulk.push_back(Queue(Upload(), "bulk", "Bulk", l_name, 1000000));
         }},
        {"a file held in a closed listed folder of complete files shows the folder and user queued", [&] {
             std::vector<ItemPtr> l_carol = {Queue(Upload(), "carol", "CarolA", "one.dat", 2000000),
                                             Queue(Upload(), "carol", "CarolA", "two.dat", 2000000)};
             ASSERT_TRUE(AllJoin());
             for (ItemPtr l_entry : l_carol)
                 SetStatus(l_entry, Upload(), Complete);
             QTreeWidgetItem* lp_folder = RowOf(l_carol[0], Upload())->parent();
             lp_folder->setExpanded(false);
             lp_folder->parent()->setExpanded(false);
             ASSERT_EQ(lp_folder->text(3), Complete);
             const QColor l_complete = lp_folder->foreground(0).color();
             l_carol.push_back(l_held("carol", "CarolA", "three.dat"));
             ASSERT_TRUE(AllJoin());
             QCoreApplication::processEvents();
             for (QTreeWidgetItem* lp_group : {lp_folder, lp_folder->parent()})
             {
                 EXPECT_EQ(lp_group->text(3), Queued);
                 EXPECT_NE(lp_group->foreground(0).color(), l_complete);
                 EXPECT_EQ(lp_group->foreground(0).color(), RowOf(l_carol.back(), Upload())->foreground(0).color());
             }
             for (ItemPtr l_entry : l_carol)
                 Remove(l_entry, Upload());
         }},
        {"folders closed from the toolbar close the held ones too, and open them again", [&] {
             const ItemPtr l_dave = l_held("dave", "Dave", "one.dat");
             l_action("Expand Folders [on]");
             ASSERT_TRUE(AllJoin());
             EXPECT_FALSE(RowOf(l_dave, Upload())->parent()->isExpanded());
             EXPECT_FALSE(RowOf(m_bulk.front(), Upload())->parent()->isExpanded());
             const ItemPtr l_more = l_held("dave", "Dave", "two.dat");
             l_action("Expand Folders [off]");
             ASSERT_TRUE(AllJoin());
             EXPECT_TRUE(RowOf(l_more, Upload())->parent()->isExpanded());
             Remove(l_dave, Upload());
             Remove(l_more, Upload());
         }},
        {"a click on a user row and Delete remove the user's held downloads with the listed ones", [&] {
             if (Upload())
                 return;
             const ItemPtr l_listed = Queue(false, "dave", "Dave", "one.dat", 2000000);
             ASSERT_TRUE(AllJoin());
             QCoreApplication::processEvents();
             QTreeWidgetItem* lp_dave = RowOf(l_listed, false)->parent()->parent();
             Shown()->scrollToItem(lp_dave);
             const QPoint l_pointer = Shown()->visualItemRect(lp_dave).center();
             l_held("dave", "Dave", "two.dat");
             l_held("dave", "Other", "three.dat");
             QTest::mouseClick(Shown()->viewport(), Qt::LeftButton, {}, l_pointer);
             EXPECT_EQ(Shown()->selectedItems(), QList<QTreeWidgetItem*>{lp_dave});
             QTest::keyClick(Shown(), Qt::Key_Delete);
             EXPECT_TRUE(QTest::qWaitFor(
                 [] { return d.GetType("user")->GetItem("dave").GetItems("download_entry").Empty(); }, 60000));
         }},
        // Last, as Delete leaves no downloads.
        {"End goes to the last row held; Ctrl+A selects the rows held, and Delete removes them with the others", [&] {
             const ItemPtr l_dave = l_held("dave", "Dave", "one.dat");
             QTest::keyClick(Shown(), Qt::Key_End);
             EXPECT_EQ(Shown()->currentItem(), RowOf(l_dave, Upload()));
             const ItemPtr l_bulk = l_held("bulk", "Bulk", QString("bulk%1.dat").arg(BulkFiles).toUtf8());
             if (Upload())
             {
                 for (ItemPtr l_entry : {l_dave, l_bulk})
                     Remove(l_entry, true);
                 return;
             }
             QTest::keyClick(Shown(), Qt::Key_A, Qt::ControlModifier);
             EXPECT_TRUE(Listed(l_bulk) && RowOf(l_bulk, false)->isSelected());
             int l_rows = 0;
             for (QTreeWidgetItemIterator l_it(Shown()); *l_it; ++l_it)
                 ++l_rows;
             EXPECT_EQ(Shown()->selectedItems().size(), l_rows);
             QTest::keyClick(Shown(), Qt::Key_Delete);
             EXPECT_TRUE(QTest::qWaitFor([] { return g("download_entry").Empty(); }, 60000));
             m_bulk.clear();
         }},
    };
    for (const auto& [l_name, l_act] : l_cases)
    {
        SCOPED_TRACE(l_name);
        l_act();
        ASSERT_TRUE(AllJoin());
        QCoreApplication::processEvents();
        EXPECT_EQ(l_users(), m_bulk.empty() ? QStringList() : QStringList{"bulk"});
        EXPECT_EQ(ListedFileRows(), int(m_bulk.size()));
        EXPECT_EQ(d.GetType(Upload() ? "upload_list_node" : "download_list_node")->ItemCount(), m_bulk.size());
    }
}
