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
    // A record announced again: a new row for it, the old one without a record goes last.
    emit mp_manager->CompleteDownloadAdded(l_middle);
    EXPECT_EQ(Listed().replaceInStrings(QRegularExpression("\\|.*"), ""),
              (QStringList{"newest.mp3", "alpha.mp3", "middle.mp3", "zebra.mp3", "middle.mp3"}));
}
