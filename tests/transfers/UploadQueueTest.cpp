#include "UploadFixture.h"

using namespace transfer_status;

class UploadQueue : public UploadFixture
{
protected:
    void SetUp() override
    {
        UploadFixture::SetUp();
        Share({{"a.mp3", 10}, {"b.mp3", 10}, {"c.mp3", 10}, {"d.mp3", 10}});
    }

    static ItemPtr InGroup(const QString& i_user, const QString& i_group, const char* i_priority)
    {
        const ItemPtr l_group = d.GetType("user_list_group")->GetItem(i_group);
        User(i_user).NewItem("in_user_list") += l_group;
        if (i_priority)
            l_group += d.GetType("group_download_priority")->GetItem(i_priority);
        return l_group;
    }
};

// Nobody is online, so every accepted request stays "queued".
TEST_F(UploadQueue, RequestsAreDeniedUnlessSharedWithTheUserAndBelowThePerUserLimit)
{
    const auto l_ask = [&](const QString& i_name) { mp_manager->OnQueueUploadRequested("bob", Remote(i_name)); };
    const struct
    {
        const char* name;
        std::function<void()> setup;
        QStringList asked;
        QStringList sent;
        QStringList statuses; // of a, b and c afterwards
    } l_cases[] = {
        {"unknown file", [] {}, {"nothing.mp3"}, {"50 nothing.mp3 File not shared."}, {"", "", ""}},
        {"folder for the user list only", [&] { m_folder.Disconnect("shared_public"); m_folder.NewItem("shared_userlist"); },
         {"a.mp3"}, {"50 a.mp3 File not shared."}, {"", "", ""}},
        {"user unshared", [&] { mp_manager->UnshareUser("bob"); }, {"a.mp3"}, {"50 a.mp3 File not shared."}, {"", "", ""}},
        {"limit 2 at its edge", [] { SetSetting("max_queued_uploads_per_user", "2"); }, {"a.mp3", "b.mp3", "c.mp3"},
         {"50 c.mp3 Too many files"}, {Queued, Queued, ""}},
        {"a finished entry does not count", [&] { SetSetting("max_queued_uploads_per_user", "1"); l_ask("a.mp3");
             mp_manager->SetUploadEntryStatus(Entry("bob", "a.mp3"), Complete); }, {"b.mp3"}, {}, {Complete, Queued, ""}},
        {"limit 0, yet a finished entry is queued again", [&] { l_ask("a.mp3"); mp_manager->SetUploadEntryStatus(Entry("bob", "a.mp3"), Aborted);
             SetSetting("max_queued_uploads_per_user", "0"); }, {"a.mp3", "b.mp3"}, {"50 b.mp3 Too many files"}, {Queued, "", ""}},
        {"the same file twice", [] {}, {"a.mp3", "a.mp3"}, {}, {Queued, "", ""}},
    };
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.name);
        mp_manager->ReshareUser("bob");
        for (ItemPtr l_entry : g("upload_entry"))
            mp_manager->RemoveUpload(l_entry);
        SetSetting("max_queued_uploads_per_user", "200");
        m_folder.NewItem("shared_public");
        l_case.setup();
        static_cast<void>(Told("bob"));
        for (const QString& l_name : l_case.asked)
            l_ask(l_name);
        EXPECT_EQ(Told("bob"), l_case.sent);
        EXPECT_EQ(QStringList({Status(Entry("bob", "a.mp3")), Status(Entry("bob", "b.mp3")), Status(Entry("bob", "c.mp3"))}),
                  l_case.statuses);
    }
    EXPECT_EQ(Logged("Already queued"), 1);
    EXPECT_EQ(Logged("aborted, re-queueing"), 1);
}

TEST_F(UploadQueue, QueueOrderIsGroupPriorityThenPrivilegeThenArrivalAsMessage44Tells)
{
    InGroup("carl", "friends", "5");
    InGroup("carl", "others", "-3");
    InGroup("erin", "plain", nullptr);
    User("dave").NewItem("is_privileged");
    const std::pair<const char*, const char*> l_requests[] = {
        {"bob", "a.mp3"}, {"dave", "b.mp3"}, {"carl", "c.mp3"}, {"bob", "d.mp3"}, {"erin", "a.mp3"}};
    for (const auto& [l_user, l_name] : l_requests)
        mp_manager->OnQueueUploadRequested(l_user, Remote(l_name));
    EXPECT_EQ(mp_manager->GetUserGroupDownloadPriority("carl"), 5);
    EXPECT_EQ(mp_manager->GetUserGroupDownloadPriority("erin"), 0);

    const auto l_places = [&] {
        QStringList l_answers;
        for (const auto& [l_user, l_name] : l_requests)
        {
            mp_manager->OnUploadPlaceInLineRequested(l_user, Remote(l_name));
            l_answers += Told(l_user);
        }
        return l_answers;
    };
    // New entries are numbered from 1; one that goes last is appended without renumbering.
    EXPECT_EQ(l_places(), QStringList({"44 a.mp3 3", "44 b.mp3 2", "44 c.mp3 1", "44 d.mp3 4", "44 a.mp3 5"}));
    mp_manager->DetermineUploadsEffectiveOrder();
    EXPECT_EQ(l_places(), QStringList({"44 a.mp3 2", "44 b.mp3 1", "44 c.mp3 0", "44 d.mp3 3", "44 a.mp3 4"}));
    // Starting renumbers the queued uploads of online users from 0.
    Online("bob");
    Online("erin");
    mp_manager->StartNewUploads();
    static_cast<void>(Told("bob"));
    EXPECT_EQ(l_places(), QStringList({"44 a.mp3 0", "44 b.mp3 1", "44 c.mp3 0", "44 d.mp3 1", "44 a.mp3 2"}));
    mp_manager->OnUploadPlaceInLineRequested("bob", Remote("c.mp3"));
    EXPECT_EQ(Told("bob"), QStringList()) << "not bob's";
    EXPECT_EQ(mp_manager->QueuedUploadCount(), 4);
}

TEST_F(UploadQueue, UnsharingAUserDeniesAndRemovesAllItsUploadsUntilReshared)
{
    Online("bob");
    mp_manager->OnQueueUploadRequested("bob", Remote("a.mp3"));
    mp_manager->OnQueueUploadRequested("bob", Remote("b.mp3"));
    ASSERT_EQ(Status(Entry("bob", "a.mp3")), Requesting);
    static_cast<void>(Told("bob"));
    mp_manager->UnshareUser("bob");
    QStringList l_sent = Told("bob");
    l_sent.sort();
    EXPECT_EQ(l_sent, QStringList({"50 a.mp3 File not shared.", "50 b.mp3 File not shared."}));
    EXPECT_TRUE(g("upload_entry").Empty());
    mp_manager->OnQueueUploadRequested("bob", Remote("a.mp3"));
    EXPECT_EQ(Told("bob"), QStringList({"50 a.mp3 File not shared."}));
    mp_manager->ReshareUser("bob");
    mp_manager->OnQueueUploadRequested("bob", Remote("a.mp3"));
    EXPECT_EQ(Told("bob"), QStringList({"40 1 2 a.mp3 10"}));
}

TEST_F(UploadQueue, AnEmptyShareCheckAsksOnceAndWarnsOnlyAnEmptyShareOutsideTheUserList)
{
    SetSetting("check_for_empty_shares", "yes");
    InGroup("carl", "friends", nullptr);
    QSignalSpy l_chats(mp_server.get(), &Server::PrivateChatSent);
    for (const char* l_user : {"bob", "carl", "dave", "erin"})
    {
        mp_manager->OnQueueUploadRequested(l_user, Remote("a.mp3"));
        mp_manager->OnQueueUploadRequested(l_user, Remote("b.mp3"));
    }
    EXPECT_EQ(Told("bob"), QStringList({"4"}));
    EXPECT_EQ(Told("carl"), QStringList());
    FileInfoMap l_empty, l_oneEmptyFolder{{"Music", {}}};
    AttributeTranslationTable l_attributes;
    mp_manager->OnUserShare("bob", l_empty, l_attributes);
    mp_manager->OnUserShare("bob", l_empty, l_attributes);
    mp_manager->OnUserShare("dave", l_oneEmptyFolder, l_attributes);
    mp_manager->OnUserShare("carl", l_empty, l_attributes);
    SetSetting("check_for_empty_shares", "no");
    mp_manager->OnUserShare("erin", l_empty, l_attributes);

    ASSERT_EQ(l_chats.count(), 1);
    EXPECT_EQ(l_chats[0][0].toString(), "bob");
    EXPECT_EQ(l_chats[0][1].toString(), Setting("empty_share_message"));
    EXPECT_EQ(User("bob")["sent_empty_share_warning_message"].AsString(), Setting("empty_share_message"));
    const QStringList l_checks = {User("bob")["empty_share_check_status"].AsString(), User("carl")["empty_share_check_status"].AsString(),
                                  User("dave")["empty_share_check_status"].AsString(), User("erin")["empty_share_check_status"].AsString()};
    EXPECT_EQ(l_checks, QStringList({"empty", "", "not_empty", "empty"}));
    EXPECT_EQ(Logged("Sent empty share warning message to user bob"), 1);
    EXPECT_EQ(g("upload_entry").Size(), 8u) << "the uploads themselves stay";
}

TEST_F(UploadQueue, ALocalOfferAsksThePeerAndQueuesWithoutTheLimit)
{
    SetSetting("max_queued_uploads_per_user", "0");
    mp_manager->AddUpload("bob", Remote("a.mp3"));
    mp_manager->AddUpload("bob", Remote("a.mp3"));
    mp_manager->AddUpload("bob", Remote("nothing.mp3"));
    EXPECT_EQ(Told("bob"), QStringList({"60 a.mp3 10", "60 a.mp3 10"}));
    EXPECT_EQ(Status(Entry("bob", "a.mp3")), Queued);
    EXPECT_EQ(Logged("Can't upload, file is either not shared or not shared with that particular user."), 1);
}
