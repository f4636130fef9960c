#include <QAccessible>
#include <QAccessibleInterface>
#include <QHeaderView>
#include <QProgressBar>

#include <tuple>

#include "ColorChoiceFixture.h"
#include "TransfersWindowFixture.h"
#include "shell/UIFunctions.h"

namespace
{
// One list of the whole client's transfers page, with the platform's colours or dark ones stored.
class TransferBarsPictured : public TransfersWindowFixture, public ::testing::WithParamInterface<std::tuple<bool, bool>>
{
protected:
    bool Dark() const { return std::get<0>(GetParam()); }
    bool Upload() const { return std::get<1>(GetParam()); }

    // The progress cell of a row as the list shows it.
    static QImage Cell(QTreeWidget* ip_list, QTreeWidgetItem* ip_row)
    {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const QRect l_row = ip_list->visualItemRect(ip_row);
        const QRect l_cell(ip_list->header()->sectionViewportPosition(4), l_row.y(),
                           ip_list->header()->sectionSize(4), l_row.height());
        return ip_list->viewport()->grab(l_cell).toImage();
    }

    // The cell with, in place of the bar the list draws, a real bar widget of the same text and
    // value, at most 14 pixels high, where the list places a widget of that cell.
    static QImage WidgetCell(QTreeWidget* ip_list, QTreeWidgetItem* ip_row)
    {
        const QString l_text = ip_row->data(4, TransferBarDelegate::TextRole).toString();
        const int l_value = ip_row->data(4, TransferBarDelegate::ValueRole).toInt();
        TransferBarDelegate::Forget(ip_row, 4);
        auto* lp_bar = new QProgressBar;
        lp_bar->setMaximumHeight(14);
        lp_bar->setFormat(l_text);
        lp_bar->setValue(l_value);
        ip_list->setItemWidget(ip_row, 4, lp_bar);
        const QImage l_cell = Cell(ip_list, ip_row);
        ip_list->removeItemWidget(ip_row, 4);
        TransferBarDelegate::Keep(ip_row, 4, l_text, l_value);
        return l_cell;
    }

    // The visual row of a list row, as the list counts rows for accessibility: the rows shown
    // above it, all of their parents open.
    static int ShownRow(QTreeWidget* ip_list, QTreeWidgetItem* ip_row)
    {
        int l_shown = 0;
        for (QTreeWidgetItemIterator l_it(ip_list); *l_it; ++l_it)
        {
            bool l_seen = true;
            for (QTreeWidgetItem* lp_up = (*l_it)->parent(); lp_up; lp_up = lp_up->parent())
                l_seen &= lp_up->isExpanded();
            if (*l_it == ip_row)
                return l_seen ? l_shown : -1;
            l_shown += l_seen ? 1 : 0;
        }
        return -1;
    }

    // What accessibility reads as the name of the row's progress cell.
    static QString AccessibleName(QTreeWidget* ip_list, QTreeWidgetItem* ip_row)
    {
        QAccessibleInterface* lp_list = QAccessible::queryAccessibleInterface(ip_list);
        QAccessibleTableInterface* lp_table = lp_list ? lp_list->tableInterface() : nullptr;
        QAccessibleInterface* lp_cell = lp_table ? lp_table->cellAt(ShownRow(ip_list, ip_row), 4) : nullptr;
        return lp_cell ? lp_cell->text(QAccessible::Name) : QString("(no cell)");
    }

    PlatformPalette m_platform;
};
} // namespace

INSTANTIATE_TEST_SUITE_P(LightOrDark, TransferBarsPictured, ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<bool, bool>>& i_info) {
                             return std::string(std::get<0>(i_info.param) ? "Dark" : "Light") +
                                    (std::get<1>(i_info.param) ? "Uploads" : "Downloads");
                         });

// A transfer a third of the way, in a folder of its own beside a queued file: its bar and its
// folder's look exactly as a bar widget in their place would, while it runs and once it has
// finished or failed, and accessibility reads each bar's text as the name of its cell.
TEST_P(TransferBarsPictured, EveryBarLooksAsABarWidgetInItsPlaceAndReadsAsItsText)
{
    if (Dark())
        for (int l_i = 0; l_i < ColorSettings::PaletteCount; ++l_i)
            m_store.Setting(ColorSettings::Entries()[l_i].key, g_darkColors[l_i]);
    ASSERT_NO_FATAL_FAILURE(StartLoggedIn());
    mp_window->resize(1100, 520);
    mp_window->show();
    QTreeWidget* lp_list = List(Upload());
    FocusWidgetAndParents(lp_list);
    const bool l_wasActive = QAccessible::isActive();
    QAccessible::setActive(true);
    // How the transfer ends, and what its file's and its folder's bars show meanwhile.
    const std::tuple<const char*, const char*, const char*, const char*> l_cases[] = {
        {"Finished", transfer_status::Complete, "1,048,576 (33.3%) [33]", "1,048,576 (25.0%) [25]"},
        {"Failed", transfer_status::Aborted, "1,048,576 (33.3%) [33]", "1,048,576 (25.0%) [25]"}};
    for (const auto& [l_folder, l_end, l_fileBar, l_folderBar] : l_cases)
    {
        SCOPED_TRACE(l_end);
        if (Upload())
        {
            ASSERT_NO_FATAL_FAILURE(ShareFiles(l_folder, {"song.mp3"}, 3145728));
            ASSERT_NO_FATAL_FAILURE(ShareFiles(l_folder, {"next.mp3"}, 1048576));
        }
        const ItemPtr l_entry = Queue(Upload(), "bob", l_folder, "song.mp3", 3145728);
        Queue(Upload(), "bob", l_folder, "next.mp3", 1048576);
        Run(l_entry, Upload(), 0, 102400);
        Report(l_entry, Upload(), 1048576);
        QTreeWidgetItem* lp_row = RowOf(l_entry, Upload());
        ASSERT_TRUE(lp_row);
        QTreeWidgetItem* lp_folder = lp_row->parent();
        lp_list->setCurrentItem(nullptr);
        lp_list->clearSelection();
        lp_list->scrollToItem(lp_row);
        for (const char* l_state : {"running", "stopped"})
        {
            SCOPED_TRACE(l_state);
            EXPECT_EQ(BarOf(lp_row), l_fileBar);
            EXPECT_EQ(BarOf(lp_folder), l_folderBar);
            EXPECT_TRUE(lp_list->viewport()->findChildren<QProgressBar*>().isEmpty());
            for (QTreeWidgetItem* lp_barRow : {lp_row, lp_folder})
            {
                const QImage l_drawn = Cell(lp_list, lp_barRow);
                EXPECT_TRUE(WidgetCell(lp_list, lp_barRow) == l_drawn);
                EXPECT_TRUE(Cell(lp_list, lp_barRow) == l_drawn);
                EXPECT_EQ(AccessibleName(lp_list, lp_barRow),
                          lp_barRow->data(4, TransferBarDelegate::TextRole).toString());
            }
            SetStatus(l_entry, Upload(), l_end);
        }
    }
    QAccessible::setActive(l_wasActive);
    Picture(mp_window.get(), QString("transfer-bars-stopped-%1-%2.png").arg(Upload() ? "uploads" : "downloads", Dark() ? "dark" : "light"));

    // A transfer running while more rows come, to be looked at.
    if (Upload())
    {
        ASSERT_NO_FATAL_FAILURE(ShareFiles("Running", {"a.mp3", "b.mp3", "c.mp3"}, 4200000));
    }
    const ItemPtr l_running = Queue(Upload(), "carol", "Running", "a.mp3", 4200000);
    Run(l_running, Upload(), 0, 51200);
    for (const char* l_name : {"b.mp3", "c.mp3"})
    {
        Report(l_running, Upload(), 1400000);
        Queue(Upload(), "carol", "Running", l_name, 4200000);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(BarOf(RowOf(l_running, Upload())), "1,400,000 (33.3%) [33]");
    Picture(mp_window.get(), QString("transfer-bars-running-%1-%2.png").arg(Upload() ? "uploads" : "downloads", Dark() ? "dark" : "light"));
}
