#include <QDir>

#include "shares/SharedFoldersManager.h"
#include "shell/program/ProgramFixture.h"
#include "views/search/AddSharedFolderDialog.h"
#include "views/search/SharedFilesRescannedDialog.h"

namespace
{
// The share settings' dialogs as the main window's panels open them.
class ShareSettingsWindow : public ProgramFixture
{
protected:
    void SetUp() override
    {
        ProgramFixture::SetUp();
        StartLoggedIn();
        for (const char* l_group : {"work", "friends", "Zed"})
            Groups()->GetItem(l_group);
        ASSERT_TRUE(QDir(Home()).mkpath("Music") && QDir(Home()).mkpath("Books"));
    }

    static Type* Groups() { return d.GetType("user_list_group"); }
    static Type* Folders() { return d.GetType("shared_folder"); }
    // The window's newest folder dialog.
    AddSharedFolderDialog* Newest() const { return mp_window->findChildren<AddSharedFolderDialog*>().last(); }
    AddSharedFolderDialog* NewFolder()
    {
        mp_window->OnToolBarActionTriggered(nullptr, "share_folder");
        return Newest();
    }
    AddSharedFolderDialog* Permissions(const QString& i_folder)
    {
        mp_ui->sharedFoldersList->clearSelection();
        mp_ui->sharedFoldersList->findItems(i_folder, Qt::MatchExactly).value(0)->setSelected(true);
        mp_window->OnSetFolderPermissions();
        return Newest();
    }
    static void Click(QWidget* ip_dialog, const char* i_button) { Child<QAbstractButton>(ip_dialog, i_button)->click(); }
    static void Ok(QWidget* ip_dialog)
    {
        Child<QDialogButtonBox>(ip_dialog, "buttonBox")->button(QDialogButtonBox::Ok)->click();
    }
    static QStringList Groups(QWidget* ip_dialog)
    {
        auto* lp_list = Child<QListWidget>(ip_dialog, "groupsListWidget");
        QStringList l_rows;
        for (int l_row = 0; l_row < lp_list->count(); ++l_row)
            l_rows << lp_list->item(l_row)->text() + (lp_list->item(l_row)->checkState() == Qt::Checked ? "+" : "");
        return l_rows;
    }
    static void Tick(QWidget* ip_dialog, const QString& i_group)
    {
        Child<QListWidget>(ip_dialog, "groupsListWidget")->findItems(i_group, Qt::MatchExactly).value(0)->setCheckState(Qt::Checked);
    }
    // Each shared folder's row: path, then who may see it.
    QStringList Shared() const
    {
        QStringList l_rows;
        for (int l_row = 0; l_row < mp_ui->sharedFoldersList->topLevelItemCount(); ++l_row)
            l_rows << mp_ui->sharedFoldersList->topLevelItem(l_row)->text(0).mid(Home().size() + 1) + ": " +
                          mp_ui->sharedFoldersList->topLevelItem(l_row)->text(1);
        return l_rows;
    }
};
} // namespace

// A folder is shared once whatever way it is chosen; its dialog goes when it stops being shared
// and writes nothing, and a group deleted meanwhile stays deleted.
TEST_F(ShareSettingsWindow, TheFolderDialogSharesOnceAndLetsGoOfFoldersAndGroupsThatGo)
{
    QPointer<AddSharedFolderDialog> lp_dialog = NewFolder();
    EXPECT_EQ(Groups(lp_dialog), QStringList({"Zed", "friends", "work"}));
    Ok(lp_dialog);
    EXPECT_TRUE(lp_dialog->isVisible());
    Click(lp_dialog, "selectFolderButton");
    EXPECT_EQ(m_boxes, QStringList("Select Folder to Share (folder)"));
    Ok(lp_dialog);
    EXPECT_TRUE(lp_dialog->isVisible());
    m_chosen = QStringList(Home() + "/Music");
    Click(lp_dialog, "selectFolderButton");
    Ok(lp_dialog);
    FlushDeletes();
    EXPECT_TRUE(lp_dialog.isNull());
    EXPECT_EQ(Shared(), QStringList("Music: Everyone"));

    // Chosen again, the shared folder takes the new audience.
    lp_dialog = NewFolder();
    Click(lp_dialog, "selectFolderButton");
    Click(lp_dialog, "everyoneCheckBox");
    Ok(lp_dialog);
    EXPECT_EQ(Shared(), QStringList("Music: User List"));

    // Unshared while its dialog is open: the dialog closes, and an OK on its way writes nothing.
    lp_dialog = Permissions(Home() + "/Music");
    Click(lp_dialog, "userListCheckBox");
    Tick(lp_dialog, "work");
    mp_window->OnUnshareFolder();
    EXPECT_FALSE(lp_dialog->isVisible());
    QMetaObject::invokeMethod(lp_dialog, "accept");
    FlushDeletes();
    EXPECT_TRUE(lp_dialog.isNull());
    EXPECT_EQ(Folders()->ItemCount(), 0u);
    EXPECT_TRUE(Shared().isEmpty());

    // A group deleted while the dialog is open is not made again; the others are written.
    ItemPtr l_books = sharedFoldersManager->AddSharedFolder(Home() + "/Books");
    l_books += Groups()->GetItem("friends");
    lp_dialog = Permissions(Home() + "/Books");
    EXPECT_EQ(Groups(lp_dialog), QStringList({"Zed", "friends+", "work"}));
    Tick(lp_dialog, "work");
    Tick(lp_dialog, "Zed");
    Groups()->HasItem("work").Remove();
    Ok(lp_dialog);
    EXPECT_FALSE(Groups()->HasItem("work"));
    EXPECT_EQ(Shared(), QStringList("Books: Zed, friends"));
    // Cancel writes nothing.
    lp_dialog = Permissions(Home() + "/Books");
    Click(lp_dialog, "everyoneCheckBox");
    Click(lp_dialog, "everyoneCheckBox");
    Child<QDialogButtonBox>(lp_dialog, "buttonBox")->button(QDialogButtonBox::Cancel)->click();
    EXPECT_EQ(Shared(), QStringList("Books: Zed, friends"));
}

// Every rescan has its own report.
TEST_F(ShareSettingsWindow, EachRescanOpensItsOwnReport)
{
    sharedFoldersManager->AddSharedFolder(Home() + "/Music").NewItem("shared_public");
    const auto l_write = [this](const char* i_name) { return WriteFile(Home() + "/Music/" + i_name, "x"); };
    ASSERT_TRUE(l_write("a.mp3") && l_write("b.mp3"));
    mp_window->OnToolBarActionTriggered(nullptr, "rescan_shares");
    ASSERT_TRUE(QTest::qWaitFor([this] { return mp_window->findChildren<SharedFilesRescannedDialog*>().size() == 1; }, 5000));
    ASSERT_TRUE(QFile::remove(Home() + "/Music/a.mp3"));
    mp_window->OnToolBarActionTriggered(nullptr, "rescan_shares");
    ASSERT_TRUE(QTest::qWaitFor([this] { return mp_window->findChildren<SharedFilesRescannedDialog*>().size() == 2; }, 5000));
    QStringList l_reports;
    for (SharedFilesRescannedDialog* lp_report : mp_window->findChildren<SharedFilesRescannedDialog*>())
        l_reports << lp_report->windowTitle() + ": " + lp_report->Text() + (lp_report->isVisible() ? "" : " (hidden)");
    EXPECT_EQ(l_reports, QStringList({"Shared Files Rescanned: 2 files added.\n0 files removed.",
                                      "Shared Files Rescanned: 0 files added.\n1 files removed."}));
}
