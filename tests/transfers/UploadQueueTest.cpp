#include "TransferFixture.h"
#include "support/support/ByteNamedTree.h"
#include "support/support/FileNameEncoding.h"

class UploadQueue : public TransferFixture
{
protected:
    void SetUp() override
    {
        TransferFixture::SetUp();
        Share({{"a.mp3", 10}, {"b.mp3", 10}, {"c.mp3", 10}, {"d.mp3", 10}});
    }
    static void InGroup(const QString& i_user, const QString& i_group, const char* i_priority)
    {
        const ItemPtr l_group = d.GetType("user_list_group")->GetItem(i_group);
        User(i_user).NewItem("in_user_list") += l_group;
        if (i_priority)
            l_group += d.GetType("group_download_priority")->GetItem(i_priority);
    }
    void Ask(const QString& i_user, const QString& i_name) { mp_manager->OnQueueUploadRequested(i_user, Remote(i_name)); }
};

// Nobody is online, so every accepted request stays "queued".
TEST_F(UploadQueue, RequestsAreDeniedUnlessSharedWithTheUserAndBelowThePerUserLimit)
{
    const auto l_end = [&](const char* i_status) { mp_manager->SetUploadEntryStatus(Entry("bob", "a.mp3"), i_status); };
    // What is set up, the files asked for, what bob is told, the statuses of a, b and c afterwards.
    const std::tuple<const char*, std::function<void()>, QStringList, QStringList, QStringList> l_cases[] = {
        {"unknown file", [] {}, {"x.mp3"}, {"50 x.mp3 File not shared."}, {"", "", ""}},
        {"limit 2 at its edge", [] { SetSetting("max_queued_uploads_per_user", "2"); }, {"a.mp3", "b.mp3", "c.mp3"},
         {"50 c.mp3 Too many files"}, {Queued, Queued, ""}},
        {"a finished entry does not count", [&] { SetSetting("max_queued_uploads_per_user", "1"); Ask("bob", "a.mp3"); l_end(Complete); },
         {"b.mp3"}, {}, {Complete, Queued, ""}},
        {"limit 0, a finished entry queued again", [&] { Ask("bob", "a.mp3"); l_end(Aborted); SetSetting("max_queued_uploads_per_user", "0"); },
         {"a.mp3", "b.mp3"}, {"50 b.mp3 Too many files"}, {Queued, "", ""}},
        {"the same file twice", [] {}, {"a.mp3", "a.mp3"}, {}, {Queued, "", ""}},
        // Only queued entries count, however many finished ones the user holds beside them.
        {"finished entries past the limit", [&] { SetSetting("max_queued_uploads_per_user", "1"); Ask("bob", "a.mp3");
             l_end(Complete); Ask("bob", "b.mp3"); mp_manager->SetUploadEntryStatus(Entry("bob", "b.mp3"), Denied); },
         {"c.mp3", "d.mp3"}, {"50 d.mp3 Too many files"}, {Complete, Denied, Queued}},
        {"a negative limit", [] { SetSetting("max_queued_uploads_per_user", "-1"); }, {"a.mp3"},
         {"50 a.mp3 Too many files"}, {"", "", ""}},
    };
    for (const auto& [l_name, l_setup, l_asked, l_told, l_statuses] : l_cases)
    {
        SCOPED_TRACE(l_name);
        for (ItemPtr l_entry : g("upload_entry"))
            mp_manager->RemoveUpload(l_entry);
        SetSetting("max_queued_uploads_per_user", "200");
        l_setup();
        Parked();
        for (const QString& l_file : l_asked)
            Ask("bob", l_file);
        EXPECT_EQ(Parked(), l_told);
        EXPECT_EQ(QStringList({Status(Entry("bob", "a.mp3")), Status(Entry("bob", "b.mp3")), Status(Entry("bob", "c.mp3"))}), l_statuses);
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
    const std::pair<const char*, const char*> l_asked[] = {{"bob", "a.mp3"}, {"dave", "b.mp3"}, {"carl", "c.mp3"}, {"bob", "d.mp3"}, {"erin", "a.mp3"}};
    for (const auto& [l_user, l_name] : l_asked)
        Ask(l_user, l_name);
    const auto l_places = [&] {
        QStringList l_answers;
        for (const auto& [l_user, l_name] : l_asked)
        {
            mp_manager->OnUploadPlaceInLineRequested(l_user, Remote(l_name));
            l_answers += Parked(l_user).join("").remove("44 ");
        }
        return l_answers.join(", ");
    };
    // New entries are numbered from 1; one that goes last is appended without renumbering.
    EXPECT_EQ(l_places(), "a.mp3 3, b.mp3 2, c.mp3 1, d.mp3 4, a.mp3 5");
    mp_manager->DetermineUploadsEffectiveOrder();
    EXPECT_EQ(l_places(), "a.mp3 2, b.mp3 1, c.mp3 0, d.mp3 3, a.mp3 4");
    // Starting renumbers the queued uploads of online users from 0, once a slot is free.
    SetSetting("upload_slots", "0");
    Online("bob");
    Online("erin");
    SetSetting("upload_slots", "1");
    mp_manager->StartNewUploads();
    Parked();
    EXPECT_EQ(l_places(), "a.mp3 0, b.mp3 1, c.mp3 0, d.mp3 1, a.mp3 2");
    mp_manager->OnUploadPlaceInLineRequested("bob", Remote("c.mp3"));
    EXPECT_EQ(Parked(), QStringList()) << "not bob's";
    EXPECT_EQ(mp_manager->QueuedUploadCount(), 4);
}

TEST_F(UploadQueue, UnsharingAUserDeniesAndRemovesItsUploadsUntilResharedAndALocalOfferAsksThePeer)
{
    Online("bob");
    for (const char* l_name : {"a.mp3", "b.mp3"})
        Ask("bob", l_name);
    ASSERT_EQ(Status(Entry("bob", "a.mp3")), Requesting);
    Parked();
    mp_manager->UnshareUser("bob");
    Ask("bob", "a.mp3");
    mp_manager->AddUpload("bob", Remote("a.mp3"));
    EXPECT_EQ(Parked(), QStringList({"50 a.mp3 File not shared.", "50 b.mp3 File not shared.", "50 a.mp3 File not shared."}));
    EXPECT_TRUE(g("upload_entry").Empty());
    EXPECT_EQ(Logged("Can't upload, file is either not shared or not shared with that particular user."), 1);
    // No per-user limit on our own offers.
    mp_manager->ReshareUser("bob");
    SetSetting("max_queued_uploads_per_user", "0");
    mp_manager->AddUpload("bob", Remote("a.mp3"));
    EXPECT_EQ(Parked(), QStringList({"60 a.mp3 10", "40 1 2 a.mp3 10"}));
}

TEST_F(UploadQueue, SlotsStartOneUploadPerUserTheNextWhenOneEndsAndNeverAFileNoLongerShared)
{
    const std::pair<const char*, const char*> l_all[] = {{"bob", "a.mp3"}, {"bob", "b.mp3"}, {"carl", "c.mp3"}, {"dave", "d.mp3"}};
    for (const auto& [l_user, l_name] : l_all)
    {
        Online(l_user);
        Ask(l_user, l_name);
    }
    const auto l_answer = [&](const char* i_user, const char* i_name, bool i_accepted) {
        mp_manager->OnFileTransferResponse(i_user, Entry(i_user, i_name)["transfer_req"].AsUInt(), i_accepted, false, 0, "Cancelled");
    };
    // What happens, then the statuses of the four uploads.
    const std::pair<std::function<void()>, std::string> l_steps[] = {
        {[&] { for (int l_slots : {0, 100, -1}) mp_manager->SetUploadSlots(l_slots); }, "requesting queued queued queued"},
        {[&] { mp_manager->SetUploadSlots(2); }, "requesting queued requesting queued"},
        {[&] { l_answer("bob", "a.mp3", false); }, "denied requesting requesting queued"},
        {[&] { QFile::remove(m_dir.filePath("shared/b.mp3")); l_answer("bob", "b.mp3", true); },
         "denied local error requesting requesting"},
        {[&] { m_folder.Disconnect("shared_public"); l_answer("dave", "d.mp3", true); }, "denied local error requesting denied"},
        // bob's first, asked for again while carl's runs, is unshared while queued.
        {[&] { m_folder.NewItem("shared_public"); mp_manager->SetUploadSlots(1); Ask("bob", "a.mp3");
             m_folder.Disconnect("shared_public"); l_answer("carl", "c.mp3", false); },
         "denied local error denied denied"},
    };
    for (const auto& [l_step, l_statuses] : l_steps)
    {
        SCOPED_TRACE(l_statuses);
        l_step();
        QStringList l_now;
        for (const auto& [l_user, l_name] : l_all)
            l_now << Status(Entry(l_user, l_name));
        EXPECT_EQ(l_now.join(' ').toStdString(), l_statuses);
    }
    EXPECT_EQ(Setting("upload_slots"), "1");
    EXPECT_EQ(Parked(), QStringList({"40 1 1 a.mp3 10", "40 1 3 b.mp3 10", "50 b.mp3 File read error.", "50 a.mp3 File not shared."}));
    EXPECT_EQ(Parked("dave"), QStringList({"40 1 4 d.mp3 10", "50 d.mp3 File not shared."}));
    EXPECT_EQ(Entry("dave", "d.mp3")["denial_reason"].AsString(), "File not shared.");
    EXPECT_FALSE(Entry("dave", "d.mp3")["upload_file"]) << "no file opened";
}

TEST_F(UploadQueue, AnEmptyShareCheckAsksOnceAndWarnsOnlyAnEmptyShareOutsideTheUserList)
{
    SetSetting("check_for_empty_shares", "yes");
    InGroup("carl", "friends", nullptr);
    QSignalSpy l_chats(mp_server.get(), &Server::PrivateChatSent);
    const QStringList l_users = {"bob", "carl", "dave", "erin"};
    for (const QString& l_user : l_users)
        for (const char* l_name : {"a.mp3", "b.mp3"})
            Ask(l_user, l_name);
    EXPECT_EQ(Parked() + Parked("carl"), QStringList({"4"}));
    FileInfoMap l_empty, l_oneEmptyFolder{{"Music", {}}};
    AttributeTranslationTable l_attributes;
    for (const char* l_user : {"bob", "bob", "carl"})
        mp_manager->OnUserShare(l_user, l_empty, l_attributes);
    mp_manager->OnUserShare("dave", l_oneEmptyFolder, l_attributes);
    SetSetting("check_for_empty_shares", "no");
    mp_manager->OnUserShare("erin", l_empty, l_attributes);
    ASSERT_EQ(l_chats.count(), 1);
    EXPECT_EQ(l_chats[0], QVariantList({"bob", Setting("empty_share_message")}));
    EXPECT_EQ(User("bob")["sent_empty_share_warning_message"].AsString(), Setting("empty_share_message"));
    QStringList l_checks;
    for (const QString& l_user : l_users)
        l_checks << User(l_user)["empty_share_check_status"].AsString();
    EXPECT_EQ(l_checks, QStringList({"empty", "", "not_empty", "empty"}));
    EXPECT_EQ(Logged("Sent empty share warning message to user bob"), 1);
    EXPECT_EQ(g("upload_entry").Size(), 8u) << "the uploads themselves stay";
}

// Nothing the shares leave out can be asked for: neither by its name, nor by the text a list
// would have shown of it, nor through a folder left out.
TEST_F(UploadQueue, NamesLeftOutOfTheSharesCannotBeAskedFor)
{
    FileNameEncoding l_utf8("UTF-8");
    const ByteNamedTree l_shared(m_dir.filePath("shared"));
    for (const char* l_name : {"back\\slash.txt", "a\\b/inside.txt", "caf\xe9.txt", "d\xe9j\xe0/inside.txt", "ok \xc3\xa9.txt", "dot.",
                               "line\nbreak.txt"})
        ASSERT_TRUE(l_shared.Write(l_name, "0123456789"));
    mp_shares->RescanShares();
    // What bob asks for below the shared folder, as paths go on the wire, and what he is told.
    const std::pair<QString, QStringList> l_cases[] = {
        {"back\\slash.txt", {"50 back\\slash.txt File not shared."}},
        {"a\\b\\inside.txt", {"50 a\\b\\inside.txt File not shared."}},
        {"caf\ufffd.txt", {"50 caf\ufffd.txt File not shared."}},
        {"d\ufffdj\ufffd\\inside.txt", {"50 d\ufffdj\ufffd\\inside.txt File not shared."}},
        {"ok \u00e9.txt", {}},
        {"dot.", {}},
        {"line\nbreak.txt", {}},
    };
    for (const auto& [l_name, l_told] : l_cases)
    {
        Parked();
        Ask("bob", l_name);
        EXPECT_EQ(Parked(), l_told) << l_name.toStdString();
        EXPECT_EQ(Status(Entry("bob", l_name)), l_told.isEmpty() ? Queued : "") << l_name.toStdString();
    }
}
