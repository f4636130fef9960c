#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <QTreeWidget>

#include "ProgramFixture.h"
#include "shares/SharedFoldersManager.h"
#include "store/TimerManager.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "views/transfers/TransfersForm.h"

using namespace transfer_status;

namespace
{
// The file rows of a list, sorted.
QStringList FileRows(QTreeWidget* ip_list)
{
    QStringList l_files;
    for (QTreeWidgetItemIterator l_it(ip_list); *l_it; ++l_it)
        if ((*l_it)->childCount() == 0 && !(*l_it)->text(2).isEmpty())
            l_files << (*l_it)->text(2);
    l_files.sort();
    return l_files;
}
} // namespace

// The uploads page as the user has it, "Clear Complete/Aborted Uploads" ticked, with an upload
// that waits and one that runs, which no clearing takes.
class UploadsClearing : public ProgramFixture
{
protected:
    void SetUp() override
    {
        ProgramFixture::SetUp();
        StartLoggedIn();
        mp_window->resize(1100, 520);
        mp_window->show();
        QApplication::setActiveWindow(mp_window.get());
        mp_ui->tabControl->setCurrentWidget(mp_ui->transfersForm);
        mp_uploads = mp_ui->transfersForm->UploadsList();
        ASSERT_TRUE(QDir(Home()).mkpath("shared"));
        for (const char* l_name : {"waits.mp3", "runs.mp3", "engine.mp3", "button.mp3", "ticked.mp3"})
        {
            QFile l_file(Home() + "/shared/" + l_name);
            ASSERT_TRUE(l_file.open(QIODevice::WriteOnly) && l_file.write("0123456789") == 10);
        }
        sharedFoldersManager->AddSharedFolder(Home() + "/shared").NewItem("shared_public");
        auto* lp_box = Child<QCheckBox>(mp_ui->transfersForm, "clearUploadsCheckBox");
        if (!lp_box->isChecked())
            lp_box->click();
        ASSERT_EQ(GetSetting("clear_complete_aborted_uploads"), "yes");

        Idle(Upload("waits.mp3"), Queued);
        const ItemPtr l_runs = Upload("runs.mp3");
        transferQueueManager->AttachObject(l_runs, "read_position", new qint64(4));
        transferQueueManager->SetUploadEntryStatus(l_runs, Uploading);
        transferQueueManager->AttachObject(l_runs, "last_receipt_time", new QDateTime(QDateTime::currentDateTime()));
        transferQueueManager->AttachObject(l_runs, "bytes_per_second", new qint32(100));
        Idle(l_runs, Uploading);
    }

    // bob's upload of the shared file, as the queues make it.
    ItemPtr Upload(const QString& i_name)
    {
        const QString l_path = QString(Home() + "/shared/" + i_name).replace('/', '\\');
        transferQueueManager->AddUpload("bob", l_path);
        const ItemPtr l_asked = d.GetType("filename_as_requested")->HasItem(l_path);
        return l_asked ? l_asked["upload_entry"] : ItemPtr();
    }
    // The status, changed six minutes ago, so that a clearing reads the upload.
    static void Idle(ItemPtr i_entry, const QString& i_status)
    {
        if (i_entry["upload_entry_status"].AsString() != i_status)
            transferQueueManager->SetUploadEntryStatus(i_entry, i_status);
        i_entry += d.GetType("last_status_change_time")
                       ->GetItem(TransferTimeStamp(QDateTime::currentDateTime().addSecs(-360)));
    }
    // The half-minute tick, with the rows it leaves once they have left the list.
    QStringList Tick(const QStringList& i_left)
    {
        QMetaObject::invokeMethod(timerManager->halfMinuteTimer, "timeout");
        static_cast<void>(QTest::qWaitFor([&] { return FileRows(mp_uploads) == i_left; }, 5000));
        return FileRows(mp_uploads);
    }
    void ClearCompleteAndAborted()
    {
        FocusWidgetAndParents(mp_uploads);
        QAction* lp_clear = nullptr;
        for (QAction* lp_action : actionBar->actions())
            if (lp_action->text() == "Clear Complete and Aborted")
                lp_clear = lp_action;
        ASSERT_TRUE(lp_clear);
        lp_clear->trigger();
    }

    QTreeWidget* mp_uploads = nullptr;
};

// However a finished upload leaves the store, the next half-minute clearings read only uploads
// that are there: under the address sanitizer the store's freed slots are poisoned, so a read of
// a removed one stops the test.
TEST_F(UploadsClearing, TheClearingsAfterAnUploadLeftReadOnlyTheUploadsStillThere)
{
    const QStringList l_kept{"runs.mp3", "waits.mp3"};
    // How the upload, finished six minutes ago, leaves.
    enum How
    {
        Engine,
        Button,
        Clearing
    };
    const std::tuple<const char*, const char*, How> l_cases[] = {
        {"engine.mp3", Complete, Engine},
        {"button.mp3", Aborted, Button},
        {"ticked.mp3", Complete, Clearing},
    };
    for (const auto& [l_name, l_status, l_how] : l_cases)
    {
        SCOPED_TRACE(l_name);
        const ItemPtr l_entry = Upload(l_name);
        ASSERT_TRUE(l_entry);
        Idle(l_entry, l_status);
        QStringList l_shown = QStringList(l_kept) << l_name;
        l_shown.sort();
        ASSERT_EQ(FileRows(mp_uploads), l_shown);
        if (l_how == Engine)
            transferQueueManager->RemoveUpload(l_entry);
        else if (l_how == Button)
            ASSERT_NO_FATAL_FAILURE(ClearCompleteAndAborted());
        else
            EXPECT_EQ(Tick(l_kept), l_kept);
        ASSERT_TRUE(QTest::qWaitFor([&] { return FileRows(mp_uploads) == l_kept; }, 5000)) << l_name;
        EXPECT_EQ(g("upload_entry").Size(), 2u);
        // Two clearings, with nothing made in between that could take the removed upload's place.
        EXPECT_EQ(Tick(l_kept), l_kept);
        EXPECT_EQ(Tick(l_kept), l_kept);
    }
}
