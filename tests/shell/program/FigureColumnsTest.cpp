// The columns of figures in the assembled window: sizes, speeds, counts, times left, progress and
// completion times show whole in the font the desktop gives the lists, unless the user chose a
// width of his own.
#include <climits>

#include "ProgramFixture.h"
#include "peer/PeerMessenger.h"
#include "shell/ActionSetToolBar.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "views/chat/RoomForm.h"
#include "views/search/SearchForm.h"
#include "views/search/SearchResultsForm.h"
#include "views/search/SharesForm.h"
#include "views/transfers/CompleteDownloadsForm.h"
#include "views/transfers/TransfersForm.h"

namespace
{
class FigureColumns : public ProgramFixture
{
protected:
    // The window as a user leaves it: a room joined with bob in it, a search tab, bob's shares
    // and an upload tab for him, the completed downloads opened from the transfers toolbar.
    void OpenEverything()
    {
        StartLoggedIn();
        mp_window->resize(1200, 700);
        mp_window->show();
        QApplication::setActiveWindow(mp_window.get());
        m_server.SendFrame(64, WireFields().Texts({"lobby"}).Int32s({9999}).Texts({}).Int32s({}).Texts({}).Int32s({}).Texts({}));
        m_server.SendFrame(14, WireFields().Text("lobby").Texts({"bob"}).Int32s({1}).Int32(1).Int32(102399898).Int32(0)
                                   .Int32(0).Int32(9999).Int32(1).Int32s({}).Texts({"de"}));
        ASSERT_TRUE(QTest::qWaitFor([&] { return mp_window->findChild<RoomForm*>(); }, 5000));
        auto* lp_entry = Child<QLineEdit>(searchForm, "searchEdit");
        lp_entry->setText("container");
        QTest::keyClick(lp_entry, Qt::Key_Return);
        sharesForm->OpenShareBrowse("bob");
        sharesForm->OpenUploadBrowse("bob");
        FocusWidgetAndParents(mp_ui->transfersForm->DownloadsList());
        for (QAction* lp_action : actionBar->actions())
            if (lp_action->text() == "Completed Downloads")
                lp_action->trigger();
        ASSERT_TRUE(completeDownloadsForm);
    }
    static QTreeWidget* SearchResults()
    {
        return qobject_cast<SearchResultsForm*>(Child<QTabWidget>(searchForm, "searchTabControl")->widget(0))->searchResults();
    }
    QTreeWidget* List(const QString& i_name) const
    {
        if (i_name == "search results")
            return SearchResults();
        if (i_name == "downloads" || i_name == "uploads")
            return i_name == "uploads" ? mp_ui->transfersForm->UploadsList() : mp_ui->transfersForm->DownloadsList();
        if (i_name == "completed")
            return completeDownloadsForm->List();
        if (i_name == "room users")
            return Child<QTreeWidget>(mp_window->findChild<RoomForm*>(), "userList");
        if (i_name == "rooms")
            return mp_ui->roomList;
        const char* l_form = i_name == "browse files" ? "ShareForm" : "UploadForm";
        for (QWidget* lp_form : mp_ui->sharesForm->findChildren<QWidget*>())
            if (lp_form->inherits(l_form))
                return Child<QTreeWidget>(lp_form, "fileList");
        return nullptr;
    }
    // The window showing the page, pictured.
    void PictureOf(QWidget* ip_page, const QString& i_name)
    {
        FocusWidgetAndParents(ip_page);
        QCoreApplication::processEvents();
        Picture(mp_window.get(), i_name);
    }
};

QStringList CompletionTimes()
{
    QStringList l_times;
    for (const char* l_day : {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"})
        for (const char* l_month : {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"})
            l_times << QString("%1 %2 30 23:59:59 2026").arg(l_day, l_month);
    return l_times;
}
} // namespace

// Each column of figures is at least as wide as it was designed and shows its largest ordinary
// figure whole, with the margins the style keeps around a cell's text (and a bar's border).
TEST_F(FigureColumns, EveryColumnOfFiguresHoldsItsLargestOrdinaryFigureWhole)
{
    m_store.Valueless("complete_download");
    for (const auto& [l_record, l_file, l_size, l_time] :
         {std::tuple{"1", "01 Container.mp3", "7340032", "Wed Sep 30 23:59:59 2026"},
          {"2", "Container (2001).flac", "21234567890", "Mon Dec 7 14:43:49 2026"}})
        for (const auto& [l_type, l_value] : {std::pair<const char*, const char*>{"user", "bob"}, {"complete_download_filename", l_file},
                                             {"complete_download_relative_folder", "Lackluster"}, {"complete_download_file_size", l_size},
                                             {"complete_download_completion_time", l_time}})
            m_store.Link("complete_download", l_record, l_type, l_value);
    OpenEverything();
    // A reply with sizes of 7 and 11 digits, a download at a four-digit speed, both pictured.
    const ItemPtr l_reply = d.GetType("search_results")->NewItem();
    for (const auto& [l_name, l_size] : {std::pair{"01 Container.mp3", 7340032LL}, {"Container (2001).flac", 21234567890LL}})
    {
        ItemPtr l_result = d.GetType("search_result")->NewItem();
        l_result += l_reply;
        l_result += d.GetType("search_result_file_name")->GetItem(l_name);
        l_result += d.GetType("search_result_file_folder")->GetItem("music\\Lackluster");
        l_result += d.GetType("file_size")->GetItem(Value(l_size));
    }
    l_reply += *d.GetType("search_request")->GetItems().begin();
    for (const auto& [l_type, l_value] : {std::pair<const char*, const char*>{"user", "bob"}, {"search_results_user_available", "no"},
                                         {"search_results_user_speed", "102399898"}, {"search_results_uploads_in_queue", "9999"}})
        l_reply += d.GetType(l_type)->GetItem(l_value);
    emit peerMessenger->SearchResults(l_reply);
    PictureOf(SearchResults(), "search-results-sizes.png");
    const ItemPtr l_entry = transferQueueManager->AddDownload("bob", "Container (2001).flac", "music\\Lackluster", 21234567890LL, 0);
    transferQueueManager->AttachObject(l_entry, "write_position", new qint64(9876543210));
    transferQueueManager->SetDownloadEntryStatus(l_entry, transfer_status::Downloading);
    transferQueueManager->AttachObject(l_entry, "last_receipt_time", new QDateTime(QDateTime::currentDateTime()));
    transferQueueManager->AttachObject(l_entry, "bytes_per_second", new qint32(1264128));
    emit transferQueueManager->DownloadProgressed(l_entry);
    PictureOf(List("downloads"), "downloads-speed.png");
    PictureOf(List("completed"), "completed-downloads-times.png");

    const QString l_size = "99,999,999,999", l_speed = "99999.9";
    const struct
    {
        const char* list;
        int column, least;
        QStringList figures;
        bool bar;
    } l_columns[] = {
        {"search results", 1, 40, {"Y", "9999"}, false}, {"search results", 2, 40, {l_speed}, false},
        {"search results", 5, 70, {l_size}, false},
        {"downloads", 4, 140, {l_size + " (100.0%)"}, true}, {"downloads", 5, 80, {"   99h:59m:59s"}, false},
        {"downloads", 6, 40, {l_speed}, false}, {"downloads", 7, 90, {l_size}, false}, {"downloads", 8, 40, {"9999"}, false},
        {"uploads", 4, 140, {l_size + " (100.0%)"}, true}, {"uploads", 5, 80, {"   99h:59m:59s"}, false},
        {"uploads", 6, 40, {l_speed}, false}, {"uploads", 7, 90, {l_size}, false},
        {"completed", 3, 100, {"99999999999"}, false}, {"completed", 4, 150, CompletionTimes(), false},
        {"room users", 4, 50, {"9,999"}, false}, {"room users", 5, 40, {l_speed}, false},
        {"rooms", 1, 30, {"9999"}, false},
        {"browse files", 1, 70, {l_size}, false}, {"upload files", 1, 70, {l_size}, false},
    };
    QStringList l_cut;
    for (const auto& l_row : l_columns)
    {
        QTreeWidget* lp_list = List(l_row.list);
        ASSERT_TRUE(lp_list) << l_row.list;
        FocusWidgetAndParents(lp_list);
        QCoreApplication::processEvents();
        QProgressBar l_bar(lp_list->viewport());
        const QFontMetrics l_metrics = l_row.bar ? l_bar.fontMetrics() : lp_list->fontMetrics();
        int l_widest = 0;
        for (const QString& l_figure : l_row.figures)
            l_widest = std::max(l_widest, l_metrics.horizontalAdvance(l_figure));
        const int l_margins = 2 * (lp_list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, lp_list) + 1);
        const int l_needed = std::max(l_row.least, l_widest + l_margins + (l_row.bar ? 2 : 0));
        // What the list shows of the column, a stretching last one included; the browse tab's
        // list waits unseen for bob's files.
        const int l_width = std::min(lp_list->header()->sectionSize(l_row.column),
                                     lp_list->isVisible() ? lp_list->viewport()->width() - lp_list->header()->sectionViewportPosition(l_row.column)
                                                          : INT_MAX);
        if (l_width < l_needed)
            l_cut << QString("%1 column %2: %3 wide, needs %4").arg(l_row.list).arg(l_row.column).arg(l_width).arg(l_needed);
    }
    EXPECT_EQ(l_cut, QStringList());
}

// Widths the user gave the columns are kept: the Kbs column of the downloads and the size column
// of every search tab as they were left.
TEST_F(FigureColumns, WidthsTheUserChoseStillWin)
{
    m_store.Valueless("sizer_tree_column");
    for (const auto& [l_entry, l_tree, l_column, l_width] : {std::tuple{"1", "download_list", "6", "45"}, {"2", "search_results", "5", "51"}})
    {
        m_store.Link("sizer_tree_column", l_entry, "sizer_tree", l_tree);
        m_store.Link("sizer_tree_column", l_entry, "sizer_tree_column_number", l_column);
        m_store.Link("sizer_tree_column", l_entry, "sizer_size", l_width);
    }
    OpenEverything();
    EXPECT_EQ(List("downloads")->header()->sectionSize(6), 45);
    EXPECT_EQ(SearchResults()->header()->sectionSize(5), 51);
    EXPECT_GT(List("uploads")->header()->sectionSize(6), 40);
}
