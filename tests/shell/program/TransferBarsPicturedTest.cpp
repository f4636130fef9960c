#include <QDateTime>
#include <QHeaderView>
#include <QProgressBar>

#include "ColorChoiceFixture.h"
#include "shell/UIFunctions.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "views/transfers/TransfersForm.h"

namespace
{
// The transfers page of the whole client with the platform's colours or dark ones stored.
class TransferBarsPictured : public ProgramFixture, public ::testing::WithParamInterface<bool>
{
protected:
    // The progress cell of a row as the list shows it, bar widget included.
    static QImage Cell(QTreeWidget* ip_list, QTreeWidgetItem* ip_row)
    {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const QRect l_row = ip_list->visualItemRect(ip_row);
        const QRect l_cell(ip_list->header()->sectionViewportPosition(4), l_row.y(),
                           ip_list->header()->sectionSize(4), l_row.height());
        return ip_list->viewport()->grab(l_cell).toImage();
    }

    PlatformPalette m_platform;
};
} // namespace

INSTANTIATE_TEST_SUITE_P(LightOrDark, TransferBarsPictured, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& i_info) { return i_info.param ? "Dark" : "Light"; });

// A download that finishes and one that fails, each reported a third of the way: once stopped
// their rows hold no bar widget, and each bar, the file's and its folder's, looks exactly as the
// live one did.
TEST_P(TransferBarsPictured, AStoppedTransfersBarLooksAsItsLiveBarDid)
{
    if (GetParam())
        for (int l_i = 0; l_i < ColorSettings::PaletteCount; ++l_i)
            m_store.Setting(ColorSettings::Entries()[l_i].key, g_darkColors[l_i]);
    StartLoggedIn();
    mp_window->resize(1100, 520);
    mp_window->show();
    QTreeWidget* lp_list = mp_ui->transfersForm->DownloadsList();
    FocusWidgetAndParents(lp_list);
    // Each in a folder of its own beside a queued file, so that the folder's bar shows a share.
    const std::pair<const char*, const char*> l_cases[] = {
        {"Music\\Finished", transfer_status::Complete}, {"Music\\Failed", transfer_status::Aborted}};
    for (const auto& [l_folder, l_status] : l_cases)
    {
        SCOPED_TRACE(l_status);
        const ItemPtr l_entry = transferQueueManager->AddDownload("bob", "song.mp3", l_folder, 3145728, 0);
        transferQueueManager->AddDownload("bob", "next.mp3", l_folder, 1048576, 0);
        transferQueueManager->AttachObject(l_entry, "write_position", new qint64(0));
        transferQueueManager->SetDownloadEntryStatus(l_entry, transfer_status::Downloading);
        transferQueueManager->AttachObject(l_entry, "last_receipt_time", new QDateTime(QDateTime::currentDateTime()));
        transferQueueManager->AttachObject(l_entry, "bytes_per_second", new qint32(102400));
        *transferQueueManager->PeekObject<qint64>(l_entry["write_position"]) = 1048576;
        emit transferQueueManager->DownloadProgressed(l_entry);
        auto* lp_row = l_entry["download_list_node"].AsPointer<QTreeWidgetItem>();
        QTreeWidgetItem* lp_folder = lp_row->parent();
        lp_list->setCurrentItem(nullptr);
        lp_list->clearSelection();
        ASSERT_TRUE(qobject_cast<QProgressBar*>(lp_list->itemWidget(lp_row, 4)));
        ASSERT_TRUE(qobject_cast<QProgressBar*>(lp_list->itemWidget(lp_folder, 4)));
        const QImage l_file = Cell(lp_list, lp_row), l_group = Cell(lp_list, lp_folder);

        transferQueueManager->SetDownloadEntryStatus(l_entry, l_status);
        EXPECT_EQ(lp_list->itemWidget(lp_row, 4), nullptr);
        EXPECT_EQ(lp_list->itemWidget(lp_folder, 4), nullptr);
        EXPECT_TRUE(Cell(lp_list, lp_row) == l_file);
        EXPECT_TRUE(Cell(lp_list, lp_folder) == l_group);
    }
    Picture(mp_window.get(), GetParam() ? "transfer-bars-stopped-dark.png" : "transfer-bars-stopped.png");
}
