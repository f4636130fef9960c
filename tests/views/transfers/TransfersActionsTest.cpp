#include <QCheckBox>
#include <QSpinBox>

#include "TransfersFixture.h"
#include "shell/ActionSetToolBar.h"
#include "store/TimerManager.h"

class TransfersActions : public TransfersFixture
{
protected:
    void SetUp() override
    {
        TransfersFixture::SetUp();
        Load();
    }
    // The toolbar's texts while the list has the focus.
    QStringList ToolbarTexts(QWidget* ip_list)
    {
        mp_actions->OnApplicationFocusChanged(nullptr, ip_list);
        return VisibleActionTexts(mp_actions.get());
    }
    // "+" for an expanded row, "-" for a collapsed one, depth first.
    static QString Expansion(QTreeWidget* ip_list)
    {
        QString l_marks;
        for (QTreeWidgetItemIterator l_it(ip_list); *l_it; ++l_it)
            if ((*l_it)->childCount() > 0)
                l_marks += (*l_it)->isExpanded() ? '+' : '-';
        return l_marks;
    }
};

TEST_F(TransfersActions, ExpandTogglesShowTheirStateAndDecideHowLaterRowsOpen)
{
    Add("bob", "Music\\Album", "a.mp3");
    Add("bob", "Music\\Other", "b.mp3");
    EXPECT_EQ(ToolbarTexts(mp_downloads),
              (QStringList{"Expand Folders [on]", "Expand Users [on]", "Clear Complete", "Completed Downloads"}));
    EXPECT_EQ(ToolbarTexts(mp_uploads),
              (QStringList{"Expand Folders [on]", "Expand Users [on]", "Clear Complete and Aborted"}));
    // Each toggle, the list it acts on, the toolbar texts of that list, and the rows' marks
    // (user, then its folders) with a download of a new user and folder added afterwards.
    Trigger(mp_downloads, "expand_download_folders");
    EXPECT_EQ(ToolbarTexts(mp_downloads).mid(0, 2), (QStringList{"Expand Folders [off]", "Expand Users [on]"}));
    EXPECT_EQ(Expansion(mp_downloads), "+--");
    Add("carl", "Music\\New", "c.mp3");
    EXPECT_EQ(Expansion(mp_downloads), "+--+-");
    Trigger(mp_downloads, "expand_download_users");
    EXPECT_EQ(ToolbarTexts(mp_downloads).mid(0, 2), (QStringList{"Expand Folders [off]", "Expand Users [off]"}));
    EXPECT_EQ(Expansion(mp_downloads), "-----");
    Trigger(mp_downloads, "expand_download_folders");
    EXPECT_EQ(Expansion(mp_downloads), "-++-+");
    // The uploads list keeps its own.
    EXPECT_EQ(ToolbarTexts(mp_uploads).mid(0, 2), (QStringList{"Expand Folders [on]", "Expand Users [on]"}));
    Trigger(mp_uploads, "expand_upload_users");
    Share({{"up.mp3", 10}});
    Upload("dave", "up.mp3");
    EXPECT_EQ(Expansion(mp_uploads), "-+");
    EXPECT_EQ(ToolbarTexts(mp_uploads).mid(0, 2), (QStringList{"Expand Folders [on]", "Expand Users [off]"}));
}

TEST_F(TransfersActions, ClearingTakesFinishedTransfersOnlyAndTheUploadSettingsReachTheQueues)
{
    const ItemPtr l_complete = Add("bob", "Music", "a.mp3");
    SetStatus(l_complete, false, Complete);
    Add("bob", "Music", "b.mp3");
    Trigger(mp_downloads, "clear_complete_downloads");
    EXPECT_EQ(Rows(mp_downloads, 2), (QStringList{"+", "  +", "    2=b.mp3 3=queued 7=2,097,152"}));

    const char* const l_statuses[] = {Queued, Uploading, Complete, Aborted, Denied, LocalError};
    std::vector<std::pair<QString, qint64>> l_files;
    for (const char* l_status : l_statuses)
        l_files.push_back({QString(l_status).replace(' ', '_') + ".mp3", 10});
    Share(l_files);
    for (std::size_t l_at = 0; l_at < l_files.size(); ++l_at)
        SetStatus(Upload("carl", l_files[l_at].first), true, l_statuses[l_at]);
    Trigger(mp_uploads, "clear_complete_and_aborted_uploads");
    EXPECT_EQ(Rows(mp_uploads, 2), (QStringList{"+", "  +", "    2=queued.mp3 3=queued 7=10",
                                                "    2=uploading.mp3 3=uploading 7=10"}));

    auto* lp_limit = Child<QSpinBox>(mp_form, "uploadLimitSpinBox");
    auto* lp_limited = Child<QCheckBox>(mp_form, "uploadLimitCheckBox");
    lp_limit->setValue(25);
    EXPECT_TRUE(lp_limited->isChecked());
    EXPECT_EQ(Setting("upload_speed_limit") + " " + Setting("upload_speed_limit_enabled"), "25 yes");
    EXPECT_EQ(mp_manager->GetUploadSpeed(), 25);
    lp_limit->setValue(0);
    EXPECT_FALSE(lp_limited->isChecked());
    EXPECT_EQ(Setting("upload_speed_limit") + " " + Setting("upload_speed_limit_enabled"), "0 no");
    lp_limit->setValue(40);
    lp_limited->click();
    EXPECT_EQ(Setting("upload_speed_limit") + " " + Setting("upload_speed_limit_enabled"), "40 no");
    Child<QSpinBox>(mp_form, "uploadSlotsSpinBox")->setValue(4);
    EXPECT_EQ(Setting("upload_slots"), "4");
    // The clear boxes: "yes", or no value at all.
    for (const char* l_pair : {"clearDownloadsCheckBox=clear_complete_downloads",
                               "clearUploadsCheckBox=clear_complete_aborted_uploads"})
    {
        auto* lp_box = Child<QCheckBox>(mp_form, QString(l_pair).section('=', 0, 0).toUtf8().constData());
        const QString l_key = QString(l_pair).section('=', 1);
        lp_box->click();
        EXPECT_EQ(GetSetting(l_key), "yes");
        lp_box->click();
        EXPECT_FALSE(SettingValueItem(l_key));
    }
}

TEST_F(TransfersActions, FinishedUploadsGoFiveMinutesAfterTheirLastChangeOrBlockWhileTheBoxIsTicked)
{
    const QDateTime l_now = QDateTime::currentDateTime();
    // Status, minutes since its last change, minutes since its last block (none: -1), kept?
    const std::tuple<const char*, int, int, bool> l_cases[] = {
        {Complete, 6, -1, false}, {Complete, 4, -1, true}, {Aborted, 5, -1, false}, {Queued, 60, -1, true},
        {Uploading, 10, 0, true}, {Uploading, 10, 7, false}, {Uploading, 2, 9, true},
    };
    std::vector<std::pair<QString, qint64>> l_files;
    for (std::size_t l_at = 0; l_at < std::size(l_cases); ++l_at)
        l_files.push_back({QString("f%1.mp3").arg(l_at), 10});
    Share(l_files);
    std::vector<ItemPtr> l_entries;
    for (std::size_t l_at = 0; l_at < std::size(l_cases); ++l_at)
    {
        const auto& [l_status, l_changed, l_block, l_kept] = l_cases[l_at];
        const ItemPtr l_entry = Upload(QString("user%1").arg(l_at), l_files[l_at].first);
        SetStatus(l_entry, true, l_status);
        if (l_block >= 0)
        {
            Run(l_entry, 0, 0, true);
            *mp_manager->PeekObject<QDateTime>(l_entry["last_receipt_time"]) = l_now.addSecs(-60 * l_block);
        }
        Restamp(l_entry, "last_status_change_time", l_now.addSecs(-60 * l_changed));
        l_entries.push_back(l_entry);
    }
    Tick(mp_timers->halfMinuteTimer);
    EXPECT_EQ(g("upload_entry").Size(), std::size(l_cases)) << "nothing goes while the box is clear";
    Child<QCheckBox>(mp_form, "clearUploadsCheckBox")->click();
    Tick(mp_timers->halfMinuteTimer);
    for (std::size_t l_at = 0; l_at < std::size(l_cases); ++l_at)
        EXPECT_EQ(g("upload_entry").Contains(l_entries[l_at]), std::get<3>(l_cases[l_at])) << l_at;
}

TEST_F(TransfersActions, DeleteDoubleClickAndTheHiddenIdsActOnTheChosenRows)
{
    const ItemPtr l_a = Add("bob", "Music\\Album", "a.mp3");
    Add("bob", "Music\\Album", "b.mp3");
    const ItemPtr l_c = Add("bob", "Music\\Other", "c.mp3");
    const ItemPtr l_d = Add("bob", "Music\\Other", "d.mp3");
    const ItemPtr l_e = Add("carl", "Music\\Third", "e.mp3");

    // Double click: the file's place in the "complete" folder, finished or not; a group row: nothing.
    emit mp_downloads->itemDoubleClicked(RowOf(l_a)->parent(), 0);
    emit mp_downloads->itemDoubleClicked(RowOf(l_a), 3);
    EXPECT_EQ(m_desktop.m_opened,
              QStringList{QUrl::fromLocalFile(m_dir.filePath("complete/Album/a.mp3")).toString(QUrl::FullyEncoded)});

    // A folder row with a file row of another folder: only the file goes.
    mp_downloads->clearSelection();
    RowOf(l_a)->parent()->setSelected(true);
    RowOf(l_c)->setSelected(true);
    QTest::keyClick(mp_downloads, Qt::Key_Delete);
    EXPECT_EQ(g("download_entry").Size(), 4u);
    // A folder row alone: all of its files, then the row.
    mp_downloads->clearSelection();
    RowOf(l_a)->parent()->setSelected(true);
    QTest::keyClick(mp_downloads, Qt::Key_Delete);
    EXPECT_EQ(Rows(mp_downloads, 1), (QStringList{"+", "  +1=Other/Music", "    2=d.mp3 3=queued 7=2,097,152", "+",
                                                  "  +1=Third/Music", "    2=e.mp3 3=queued 7=2,097,152"}));
    // A user row alone, through the toolbar's hidden removal id.
    mp_downloads->clearSelection();
    mp_downloads->topLevelItem(0)->setSelected(true);
    Trigger(mp_downloads, "remove_download");
    EXPECT_EQ(g("download_entry").Size(), 1u);
    EXPECT_FALSE(g("download_entry").Contains(l_d));

    mp_downloads->clearSelection();
    RowOf(l_e)->setSelected(true);
    Trigger(mp_downloads, "dl_add_user");
    EXPECT_TRUE(User("carl").IsConnected("in_user_list"));
}
