// The columns and boxes of figures in the assembled window: sizes, speeds, counts, queues, times
// left, progress and completion times show whole in the font the desktop gives the lists, unless
// the user chose a width of his own.
#include <QDir>
#include <QScrollBar>
#include <QSplitter>
#include <QStyleOption>

#include <climits>

#include "ColorChoiceFixture.h"
#include "peer/PeerMessenger.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/ColorSettings.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "views/chat/RoomForm.h"
#include "views/chat/UserInfoForm.h"
#include "views/chat/UserListForm.h"
#include "views/search/SearchForm.h"
#include "views/search/SearchResultsForm.h"
#include "views/search/SharesForm.h"
#include "views/transfers/CompleteDownloadsForm.h"
#include "views/transfers/TransferBarDelegate.h"
#include "views/transfers/TransfersForm.h"

namespace
{
// Users of a crowded room as the server reports them: the largest sharers and the fastest.
const struct RoomUser
{
    const char* name;
    qint32 bytesPerSecond;
    qint32 files;
    const char* country;
} g_roomUsers[] = {
    {"bob", 1023999898, 9999999, "de"},  {"marisol", 48128, 123456, "es"}, {"ozwald", 12800, 12345, "gb"},
    {"quill", 784549888, 7340032, "nl"}, {"tamsin", 0, 1234, "fr"},
};
// Enough more users that the room's list scrolls, whose names sort after the ones above.
const int VisitorCount = 44;

// Files alice shares with bob, large ones kept sparse on disk; the upload each goes in, bytes
// sent and bytes a second: a large file at a low limit, one at a kilobyte a second, and last a
// fast one on the local network, whose speed the folder's time left is then reckoned at.
const struct SharedFile
{
    const char* name;
    qint64 size;
    qint64 sent;
    qint32 bytesPerSecond;
} g_uploads[] = {
    {"Lackluster - Container (complete sessions).flac", 21234567890LL, 1024000000LL, 39125},
    {"Lackluster - Live at the Pier.flac", 21234567890LL, 0, 1024},
    {"Lackluster - Container (studio masters).wav", 8589934592LL, 1234567890LL, 784549888},
};

class FigureColumns : public ProgramFixture
{
protected:
    // The window as a user leaves it: many rooms, one joined that is crowded, a search tab,
    // alice's files shared and uploaded to bob, bob's shares and an upload tab for him, his user
    // information, the completed downloads opened from the transfers toolbar.
    void OpenEverything()
    {
        StartLoggedIn();
        ASSERT_NO_FATAL_FAILURE(ShareLargeFiles());
        mp_window->resize(1280, 720);
        mp_window->show();
        QApplication::setActiveWindow(mp_window.get());
        ASSERT_NO_FATAL_FAILURE(SendRoomsAndJoinACrowdedOne());
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
        userListForm->GetUserInfoForm("bob");
        emit peerMessenger->UserInfoReceived("bob", "", false, QByteArray(), 999999, 999999, false);
    }

    void ShareLargeFiles()
    {
        ASSERT_TRUE(QDir(Home()).mkpath("Share/Lackluster"));
        for (const SharedFile& l_file : g_uploads)
        {
            QFile l_disk(SharedPath(l_file.name));
            ASSERT_TRUE(l_disk.open(QIODevice::WriteOnly) && l_disk.resize(l_file.size));
        }
        sharedFoldersManager->AddSharedFolder(Home() + "/Share").NewItem("shared_public");
    }
    QString SharedPath(const QString& i_name) const { return Home() + "/Share/Lackluster/" + i_name; }

    void SendRoomsAndJoinACrowdedOne()
    {
        SendRooms();
        JoinCrowded("lobby");
        ASSERT_TRUE(QTest::qWaitFor([&] { return List("lobby users"); }, 5000));
    }
    void SendRooms()
    {
        QStringList l_rooms = {"lobby", "everyone"};
        QList<qint32> l_counts = {2048, 104857};
        for (const char* l_genre : {"ambient", "bluegrass", "blues", "breakbeat", "chiptune", "classical", "country",
                                    "dub", "electronic", "folk", "funk", "gospel", "hip hop", "house", "indie", "jazz",
                                    "jungle", "krautrock", "lounge", "metal", "new wave", "opera", "punk", "reggae",
                                    "rock", "ska", "soul", "techno", "trance", "world"})
            for (const char* l_kind : {"", " lovers"})
            {
                l_rooms << QString(l_genre) + l_kind;
                l_counts << (l_rooms.size() * 7919) % 4000;
            }
        m_server.SendFrame(64, WireFields().Texts(l_rooms).Int32s(l_counts).Texts({}).Int32s({}).Texts({}).Int32s({}).Texts({}));
    }
    void JoinCrowded(const QString& i_room)
    {
        QStringList l_names, l_countries;
        QList<qint32> l_statuses;
        WireFields l_stats;
        l_stats.Int32(std::size(g_roomUsers) + VisitorCount);
        const auto l_add = [&](const QString& i_name, qint32 i_speed, qint32 i_files, const QString& i_country) {
            l_names << i_name;
            l_statuses << 2;
            l_stats.Int32(i_speed).Int32(0).Int32(0).Int32(i_files).Int32(i_files / 100);
            l_countries << i_country;
        };
        for (const RoomUser& l_user : g_roomUsers)
            l_add(l_user.name, l_user.bytesPerSecond, l_user.files, l_user.country);
        for (int l_visitor = 1; l_visitor <= VisitorCount; ++l_visitor)
            l_add(QString("visitor%1").arg(l_visitor, 2, 10, QChar('0')), l_visitor * 3072, l_visitor * 2711, "se");
        m_server.SendFrame(14, WireFields().Text(i_room).Texts(l_names).Int32s(l_statuses).Raw(l_stats.Bytes())
                                   .Int32s({}).Texts(l_countries));
    }

    // Each shared file queued for bob and under way, as the transfer queues set a running
    // upload up, and one block reported.
    void UploadToBob()
    {
        for (const SharedFile& l_file : g_uploads)
        {
            const QString l_asked = QString(SharedPath(l_file.name)).replace('/', '\\');
            transferQueueManager->AddUpload("bob", l_asked);
            ItemPtr l_entry;
            for (ItemPtr l_upload : d.GetType("upload_entry")->GetItems())
                if (l_upload["filename_as_requested"].AsString() == l_asked)
                    l_entry = l_upload;
            ASSERT_TRUE(l_entry) << l_file.name;
            transferQueueManager->AttachObject(l_entry, "read_position", new qint64(l_file.sent));
            transferQueueManager->SetUploadEntryStatus(l_entry, transfer_status::Uploading);
            transferQueueManager->AttachObject(l_entry, "last_receipt_time", new QDateTime(QDateTime::currentDateTime()));
            transferQueueManager->AttachObject(l_entry, "bytes_per_second", new qint32(l_file.bytesPerSecond));
            emit transferQueueManager->UploadProgressed(l_entry);
        }
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
        if (i_name.endsWith(" users"))
        {
            for (RoomForm* lp_room : mp_window->findChildren<RoomForm*>())
                if (lp_room->RoomName() + " users" == i_name)
                    return Child<QTreeWidget>(lp_room, "userList");
            return nullptr;
        }
        if (i_name == "rooms")
            return mp_ui->roomList;
        const char* l_form = i_name == "browse files" ? "ShareForm" : "UploadForm";
        for (QWidget* lp_form : mp_ui->sharesForm->findChildren<QWidget*>())
            if (lp_form->inherits(l_form))
                return Child<QTreeWidget>(lp_form, "fileList");
        return nullptr;
    }
    QLineEdit* UserInfoBox(const char* i_name) const
    {
        return Child<QLineEdit>(userListForm->GetUserInfoForm("bob"), i_name);
    }

    // What the list shows of a column, a stretching last one included, up to the viewport's edge.
    static int ShownWidth(QTreeWidget* ip_list, int i_column)
    {
        return std::min(ip_list->header()->sectionSize(i_column),
                        ip_list->isVisible() ? ip_list->viewport()->width() - ip_list->header()->sectionViewportPosition(i_column)
                                             : INT_MAX);
    }
    // The margins the style keeps around a cell's text.
    static int CellMargins(QTreeWidget* ip_list)
    {
        return 2 * (ip_list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, ip_list) + 1);
    }

    // Where a figure is shown: a column of a list by the list's name, or the user
    // information's box of that name.
    enum class Cell
    {
        Text,
        Bar,
        Box
    };
    struct Figures
    {
        const char* place;
        int column, least;
        QStringList figures;
        Cell cell;
    };

    // Why the place does not show the widest of its figures whole with the margins the style
    // keeps beside it, in the font drawn there; nothing when it does. The place is brought into
    // view first.
    QString Cut(const Figures& i_row) const
    {
        QWidget* lp_place = i_row.cell == Cell::Box ? static_cast<QWidget*>(UserInfoBox(i_row.place)) : List(i_row.place);
        if (!lp_place)
            return QString("%1: missing").arg(i_row.place);
        FocusWidgetAndParents(lp_place);
        QCoreApplication::processEvents();
        QProgressBar l_bar(lp_place);
        const QFontMetrics l_metrics = i_row.cell == Cell::Bar ? l_bar.fontMetrics() : lp_place->fontMetrics();
        int l_widest = 0;
        for (const QString& l_figure : i_row.figures)
            l_widest = std::max(l_widest, l_metrics.horizontalAdvance(l_figure));
        int l_width = 0, l_needed = 0;
        if (i_row.cell == Cell::Box)
        {
            // A box shows its text whole while the text and the cursor's pixel fit inside its
            // contents, two pixels in from either side.
            auto* lp_box = static_cast<QLineEdit*>(lp_place);
            QStyleOptionFrame l_option;
            l_option.initFrom(lp_box);
            l_option.lineWidth = lp_box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &l_option, lp_box);
            const QRect l_contents = lp_box->style()->subElementRect(QStyle::SE_LineEditContents, &l_option, lp_box)
                                         .marginsRemoved(lp_box->textMargins());
            l_width = lp_box->width();
            l_needed = l_width - l_contents.width() + 2 * 2 + l_widest + 1;
        }
        else
        {
            auto* lp_list = static_cast<QTreeWidget*>(lp_place);
            l_width = ShownWidth(lp_list, i_row.column);
            l_needed = std::max(i_row.least, l_widest + CellMargins(lp_list) + (i_row.cell == Cell::Bar ? 2 : 0));
        }
        return l_width >= l_needed
                   ? QString()
                   : QString("%1 column %2: %3 wide, needs %4").arg(i_row.place).arg(i_row.column).arg(l_width).arg(l_needed);
    }
    // The lists that grow long are long enough to scroll.
    bool Scrolls(const char* i_list) const
    {
        FocusWidgetAndParents(List(i_list));
        QCoreApplication::processEvents();
        return List(i_list)->verticalScrollBar()->isVisible();
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
// figure whole, with the margins the style keeps around a cell's text (and a bar's border),
// beside the scroll bar of a list with many rows; so do the user information's boxes of figures.
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
    // A reply with sizes of 7 and 11 digits and a queue of six; a download at a four-digit speed
    // and one waiting in a long queue: both pictured.
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
                                         {"search_results_user_speed", "1023999898"}, {"search_results_uploads_in_queue", "999999"}})
        l_reply += d.GetType(l_type)->GetItem(l_value);
    emit peerMessenger->SearchResults(l_reply);
    PictureOf(SearchResults(), "search-results-sizes.png");
    const ItemPtr l_entry = transferQueueManager->AddDownload("bob", "Container (2001).flac", "music\\Lackluster", 21234567890LL, 0);
    transferQueueManager->AttachObject(l_entry, "write_position", new qint64(9876543210));
    transferQueueManager->SetDownloadEntryStatus(l_entry, transfer_status::Downloading);
    transferQueueManager->AttachObject(l_entry, "last_receipt_time", new QDateTime(QDateTime::currentDateTime()));
    transferQueueManager->AttachObject(l_entry, "bytes_per_second", new qint32(1264128));
    emit transferQueueManager->DownloadProgressed(l_entry);
    transferQueueManager->AddDownload("bob", "01 Container.mp3", "music\\Lackluster", 7340032, 0);
    transferQueueManager->OnDownloadPlaceInLine("bob", "music\\Lackluster\\01 Container.mp3", 54321);
    PictureOf(List("downloads"), "downloads-speed.png");
    PictureOf(List("completed"), "completed-downloads-times.png");
    ASSERT_NO_FATAL_FAILURE(UploadToBob());

    const QString l_size = "99,999,999,999", l_speed = "999999.9", l_left = "   9999h:59m:59s", l_queue = "999999";
    const Figures l_figures[] = {
        {"search results", 1, 40, {"Y", l_queue}, Cell::Text}, {"search results", 2, 40, {l_speed}, Cell::Text},
        {"search results", 5, 70, {l_size}, Cell::Text},
        {"downloads", 4, 140, {l_size + " (100.0%)"}, Cell::Bar}, {"downloads", 5, 80, {l_left}, Cell::Text},
        {"downloads", 6, 40, {l_speed}, Cell::Text}, {"downloads", 7, 90, {l_size}, Cell::Text},
        {"downloads", 8, 40, {l_queue}, Cell::Text},
        {"uploads", 4, 140, {l_size + " (100.0%)"}, Cell::Bar}, {"uploads", 5, 80, {l_left}, Cell::Text},
        {"uploads", 6, 40, {l_speed}, Cell::Text}, {"uploads", 7, 90, {l_size}, Cell::Text},
        {"completed", 3, 100, {"99999999999"}, Cell::Text}, {"completed", 4, 150, CompletionTimes(), Cell::Text},
        {"lobby users", 4, 50, {"9,999,999"}, Cell::Text}, {"lobby users", 5, 40, {l_speed}, Cell::Text},
        {"rooms", 1, 30, {l_queue}, Cell::Text},
        {"browse files", 1, 70, {l_size}, Cell::Text}, {"upload files", 1, 70, {l_size}, Cell::Text},
        {"uploadSlotsEdit", 0, 0, {l_queue}, Cell::Box}, {"queuedUploadsEdit", 0, 0, {l_queue}, Cell::Box},
    };
    QStringList l_cut;
    for (const Figures& l_row : l_figures)
        if (const QString l_why = Cut(l_row); !l_why.isEmpty())
            l_cut << l_why;
    EXPECT_EQ(l_cut, QStringList());
    for (const char* l_list : {"rooms", "lobby users"})
        EXPECT_TRUE(Scrolls(l_list)) << l_list;
    PictureOf(UserInfoBox("queuedUploadsEdit"), "user-info-figures.png");
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


// The first room joined leaves its panes and its list's columns saved; a room joined later lays
// itself out from them, here in a window of the size the program first opens at, and its figures
// still show whole beside the chat, as do the room list's.
TEST_F(FigureColumns, ARoomJoinedLaterKeepsItsFiguresWholeInTheSavedPanes)
{
    OpenEverything();
    mp_window->resize(1000, 600);
    JoinCrowded("jazz & blues");
    ASSERT_TRUE(QTest::qWaitFor([&] { return List("jazz & blues users"); }, 5000));
    const QString l_speed = "999999.9";
    const Figures l_figures[] = {
        {"jazz & blues users", 4, 50, {"9,999,999"}, Cell::Text},
        {"jazz & blues users", 5, 40, {l_speed}, Cell::Text},
        {"rooms", 1, 30, {"999999"}, Cell::Text},
    };
    QStringList l_cut;
    for (const Figures& l_row : l_figures)
        if (const QString l_why = Cut(l_row); !l_why.isEmpty())
            l_cut << l_why;
    EXPECT_EQ(l_cut, QStringList());
    EXPECT_TRUE(Scrolls("jazz & blues users"));
    PictureOf(List("jazz & blues users"), "room-joined-later.png");
    // Both rooms' panes are the saved ones, and the chat keeps a fair share of the room tab.
    auto* lp_jazz = qobject_cast<QSplitter*>(List("jazz & blues users")->parentWidget());
    auto* lp_lobby = qobject_cast<QSplitter*>(List("lobby users")->parentWidget());
    ASSERT_TRUE(lp_jazz && lp_lobby);
    EXPECT_EQ(lp_jazz->sizes().value(1), lp_lobby->sizes().value(1));
    EXPECT_GE(lp_jazz->sizes().value(0), lp_jazz->width() / 4);
}

namespace
{
// The figures of real rows as they come, with the platform's colours or dark ones stored.
class FigureColumnsPictured : public FigureColumns, public ::testing::WithParamInterface<bool>
{
protected:
    // The shown texts of the columns that do not show whole, and of the rows' progress bars.
    QStringList CutTexts(const char* i_list, std::initializer_list<int> i_columns) const
    {
        QTreeWidget* lp_list = List(i_list);
        FocusWidgetAndParents(lp_list);
        QCoreApplication::processEvents();
        QStringList l_cut;
        // A bar draws its text as a bar widget in its place would, in that widget's font.
        const QProgressBar l_bar(lp_list->viewport());
        for (QTreeWidgetItemIterator l_row(lp_list); *l_row; ++l_row)
            for (const int l_column : i_columns)
            {
                const QVariant l_barText = (*l_row)->data(l_column, TransferBarDelegate::TextRole);
                const bool l_isBar = l_barText.isValid();
                const QString l_text = l_isBar ? l_barText.toString() : (*l_row)->text(l_column);
                const QFontMetrics l_metrics = l_isBar ? l_bar.fontMetrics() : lp_list->fontMetrics();
                const int l_needed = l_metrics.horizontalAdvance(l_text) + CellMargins(lp_list) + (l_isBar ? 2 : 0);
                if (!l_text.isEmpty() && ShownWidth(lp_list, l_column) < l_needed)
                    l_cut << QString("%1 in %2").arg(l_text).arg(ShownWidth(lp_list, l_column));
            }
        return l_cut;
    }

    PlatformPalette m_platform;
};
} // namespace

INSTANTIATE_TEST_SUITE_P(LightOrDark, FigureColumnsPictured, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& i_info) { return i_info.param ? "Dark" : "Light"; });

// A crowded room with the largest sharers and the fastest users, and uploads at a low limit, at
// one kilobyte a second and at local network speed: their counts, speeds, times left, sizes and
// progress show whole, as pictured.
TEST_P(FigureColumnsPictured, TheLargestSharersAndTheSlowestAndFastestUploadsShowWhole)
{
    if (GetParam())
        for (int l_i = 0; l_i < ColorSettings::PaletteCount; ++l_i)
            m_store.Setting(ColorSettings::Entries()[l_i].key, g_darkColors[l_i]);
    OpenEverything();
    ASSERT_NO_FATAL_FAILURE(UploadToBob());
    const QString l_suffix = GetParam() ? "-dark.png" : ".png";

    EXPECT_EQ(List("lobby users")->topLevelItem(0)->text(4), "9,999,999");
    EXPECT_EQ(CutTexts("lobby users", {4, 5}), QStringList());
    List("rooms")->scrollToItem(List("rooms")->findItems("everyone", Qt::MatchExactly).value(0), QAbstractItemView::PositionAtCenter);
    PictureOf(List("lobby users"), "room-users-files" + l_suffix);

    QTreeWidget* lp_uploads = List("uploads");
    QStringList l_files;
    for (QTreeWidgetItemIterator l_row(lp_uploads); *l_row; ++l_row)
        if (!(*l_row)->text(2).isEmpty())
            l_files << QString("%1|%2|%3").arg((*l_row)->text(5).trimmed(), (*l_row)->text(6), (*l_row)->text(7));
    EXPECT_EQ(l_files, QStringList({"143h:29m:24s|38.2|21,234,567,890", "5760h:14m:42s|1.0|21,234,567,890",
                                    "9s|766162.0|8,589,934,592"}));
    EXPECT_EQ(CutTexts("uploads", {4, 5, 6, 7}), QStringList());
    PictureOf(lp_uploads, "uploads-time-left" + l_suffix);
}
