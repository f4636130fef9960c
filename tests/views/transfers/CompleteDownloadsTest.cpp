#include "TransfersFixture.h"
#include "transfers/TransferQueueManager.h"
#include "views/transfers/CompleteDownloadsForm.h"

class CompleteDownloads : public TransfersFixture
{
protected:
    // A record as the transfer queues keep one for a finished download, finished that many
    // seconds after the start of the test; announced as they announce it when asked to.
    ItemPtr Record(const QString& i_user, const QString& i_file, int i_second, bool i_announce)
    {
        const ItemPtr l_record = d.GetType("complete_download")->NewItem();
        l_record += User(i_user);
        const std::pair<const char*, QString> l_parts[] = {
            {"complete_download_folder", m_dir.filePath("complete/Album").replace('/', '\\')},
            {"complete_download_relative_folder", "Album"},
            {"complete_download_filename", i_file},
            {"complete_download_file_size", "1048576"},
            {"complete_download_completion_time", TransferTimeStamp(m_start.addSecs(i_second))}};
        for (const auto& [l_type, l_value] : l_parts)
            l_record += d.GetType(l_type)->GetItem(l_value);
        if (i_announce)
            emit mp_manager->CompleteDownloadAdded(l_record);
        return l_record;
    }
    QStringList Listed() const
    {
        QStringList l_rows;
        QTreeWidget* lp_list = completeDownloadsForm->List();
        for (int l_row = 0; l_row < lp_list->topLevelItemCount(); ++l_row)
        {
            QStringList l_cells;
            for (int l_column = 0; l_column < lp_list->columnCount(); ++l_column)
                l_cells << lp_list->topLevelItem(l_row)->text(l_column);
            l_rows << l_cells.join('|');
        }
        return l_rows;
    }
    QString Time(int i_second) const { return TransferTimeStamp(m_start.addSecs(i_second)); }

    // The user's file fetched whole from a scripted uploader into the complete folder "Album";
    // then the user takes the file and the download away, so that it can be fetched again.
    void Finish(const QString& i_user, const std::string& i_file, int i_size, const char* i_search)
    {
        const ItemPtr l_entry = Add(i_user, "Music\\Album", i_file, i_size);
        if (i_search)
            l_entry += d.GetType("search_request_text")->GetItem(i_search);
        const quint32 l_req = ++m_req;
        emit mp_messenger->FileTransferRequested(i_user, 1, l_req, "Music\\Album\\" + i_file, i_size);
        FakePeer l_uploader;
        mp_manager->OnFileConnection(i_user, l_uploader.Linked(), l_req);
        ASSERT_TRUE(QTest::qWaitFor([&] { return l_uploader.Raw().size() == 8; }, 5000)) << "the offset";
        l_uploader.SendRaw(QByteArray(i_size, 'x'));
        ASSERT_TRUE(QTest::qWaitFor([&] { return Status(l_entry) == Complete; }, 10000));
        EXPECT_TRUE(QFile::remove(m_dir.filePath("complete/Album/" + QString::fromStdString(i_file))));
        mp_manager->RemoveDownload(l_entry);
    }
    // Each row's cells, checked against the record its node reaches: no row without a record,
    // and no record without its row.
    QStringList Shown() const
    {
        QTreeWidget* lp_list = completeDownloadsForm->List();
        for (int l_row = 0; l_row < lp_list->topLevelItemCount(); ++l_row)
        {
            QTreeWidgetItem* lp_row = lp_list->topLevelItem(l_row);
            const ItemPtr l_record = d.GetType("complete_download_node")->HasItem(Value(lp_row))["complete_download"];
            EXPECT_TRUE(l_record) << "row " << l_row;
            EXPECT_EQ(lp_row->text(0), l_record["complete_download_filename"].AsString());
            EXPECT_EQ(lp_row->text(4), l_record["complete_download_completion_time"].AsString());
        }
        EXPECT_EQ(std::size_t(lp_list->topLevelItemCount()), g("complete_download").Size());
        return Listed();
    }
    // Whether the time was stamped since the test began.
    bool Now(const QString& i_time) const
    {
        const QDateTime l_time = QDateTime::fromString(i_time, Qt::TextDate);
        return l_time.isValid() && l_time >= m_start.addSecs(-1) && l_time <= QDateTime::currentDateTime();
    }

    quint32 m_req = 0;
};

// The list is made on demand, long after the load: it lists what the store holds at once.
TEST_F(CompleteDownloads, AreListedNewestFirstFromTheStoreAndAsTheyFinish)
{
    Record("bob", "zebra.mp3", 1, false);
    Record("carl", "alpha.mp3", 3, false);
    // Asked for twice, the list opens as one tab in front.
    auto* lp_tabs = Child<QTabWidget>(mp_form, "transfersTabControl");
    for (int l_ask = 0; l_ask < 2; ++l_ask)
        Trigger(mp_downloads, "complete_downloads");
    ASSERT_TRUE(completeDownloadsForm);
    EXPECT_EQ(lp_tabs->count(), 3);
    EXPECT_EQ(lp_tabs->currentWidget(), completeDownloadsForm);
    EXPECT_EQ(Listed(), (QStringList{"alpha.mp3|Album|carl|1048576|" + Time(3), "zebra.mp3|Album|bob|1048576|" + Time(1)}));

    const ItemPtr l_middle = Record("dave", "middle.mp3", 2, true);
    Record("erin", "newest.mp3", 5, true);
    EXPECT_EQ(Listed().join(',').count("|"), 16);
    EXPECT_EQ(Listed().replaceInStrings(QRegularExpression("\\|.*"), ""),
              (QStringList{"newest.mp3", "alpha.mp3", "middle.mp3", "zebra.mp3"}));
    // A record announced again with a later time: its one row, moved to its new place.
    l_middle += d.GetType("complete_download_completion_time")->GetItem(Time(7));
    emit mp_manager->CompleteDownloadAdded(l_middle);
    EXPECT_EQ(Listed().replaceInStrings(QRegularExpression("\\|.*"), ""),
              (QStringList{"middle.mp3", "newest.mp3", "alpha.mp3", "zebra.mp3"}));
    EXPECT_EQ(Listed()[0], "middle.mp3|Album|dave|1048576|" + Time(7));
}

// Records kept from an earlier session; files finishing now, some of them again. Each finished
// file's one row is at the top with the time it finished now, its size and no row left behind;
// the store saved and loaded at the next start lists the same.
TEST_F(CompleteDownloads, AFileFinishedAgainMovesItsOneRowToTheTopWithTheNewTime)
{
    Record("bob", "song.mp3", -3600, false);
    Record("carl", "other.mp3", -1800, false);
    Trigger(mp_downloads, "complete_downloads");
    ASSERT_TRUE(completeDownloadsForm);
    EXPECT_EQ(Shown(), (QStringList{"other.mp3|Album|carl|1048576|" + Time(-1800),
                                    "song.mp3|Album|bob|1048576|" + Time(-3600)}));

    // Uploader, file, size, the download's search (none when null), the files listed top down.
    const std::tuple<const char*, const char*, int, const char*, QStringList> l_steps[] = {
        {"bob", "song.mp3", 300, "song", {"song.mp3", "other.mp3"}},
        {"dave", "new.mp3", 200, nullptr, {"new.mp3", "song.mp3", "other.mp3"}},
        {"carl", "other.mp3", 500, nullptr, {"other.mp3", "new.mp3", "song.mp3"}},
        {"bob", "song.mp3", 400, "song live", {"song.mp3", "other.mp3", "new.mp3"}},
        {"bob", "song.mp3", 100, nullptr, {"song.mp3", "other.mp3", "new.mp3"}},
    };
    for (const auto& [l_user, l_file, l_size, l_search, l_files] : l_steps)
    {
        SCOPED_TRACE(QString("%1 %2 %3").arg(l_user, l_file).arg(l_size).toStdString());
        Finish(l_user, l_file, l_size, l_search);
        const QStringList l_shown = Shown();
        EXPECT_EQ(QStringList(l_shown).replaceInStrings(QRegularExpression("\\|.*"), ""), l_files);
        const QStringList l_top = l_shown.value(0).split('|');
        ASSERT_EQ(l_top.size(), 5);
        EXPECT_EQ(l_top.mid(0, 4), (QStringList{l_file, "Album", l_user, QString::number(l_size)}));
        EXPECT_TRUE(Now(l_top[4])) << l_top[4].toStdString();
        const ItemPtr l_record = d.GetItem(User(l_user), d.GetType("complete_download_filename")->HasItem(l_file),
                                           "complete_download");
        EXPECT_EQ(l_record["search_request_text"].AsString(), l_search ? l_search : "");
    }

    // The list closed, the store saved, emptied and loaded as at the next start, the list opened.
    const QStringList l_before = Shown();
    delete completeDownloadsForm;
    ASSERT_TRUE(mp_saver->Save(m_dir.filePath("store")));
    d.RemoveAllItems();
    mp_saver->Load(m_dir.filePath("store"));
    Trigger(mp_downloads, "complete_downloads");
    ASSERT_TRUE(completeDownloadsForm);
    const QStringList l_after = Shown();
    // Files finished within the same second may swap places.
    EXPECT_EQ(QSet<QString>(l_after.begin(), l_after.end()), QSet<QString>(l_before.begin(), l_before.end()));
}
