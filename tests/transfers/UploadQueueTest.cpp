#include "TransferFixture.h"

#include <map>
#include <optional>
#include <random>
#include "support/support/ByteNamedTree.h"
#include "support/support/FileNameEncoding.h"
#include "support/support/QtPrinters.h"

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

// The upload queue's order written out the plain way: every entry's status and number, renumbered
// by walking and sorting as the queue's rules say, with no shortcut.
class PlainUploadQueue
{
public:
    struct Upload
    {
        ItemPtr entry;
        QString user;
        QString file;
        QString status;
        std::optional<qint64> place;
        int order = 0;
    };
    std::vector<Upload> uploads;
    std::map<QString, bool> online;
    std::map<QString, bool> privileged;
    std::map<QString, int> priority;
    int uploadSlots = 1;
    qint64 limit = 200;
    qint64 counter = 1;
    int last = -1;

    Upload* Find(const QString& i_user, const QString& i_file)
    {
        for (Upload& l_upload : uploads)
            if (l_upload.user == i_user && l_upload.file == i_file)
                return &l_upload;
        return nullptr;
    }
    bool IsActive(const QString& i_status) const { return i_status == Requesting || i_status == Connecting || i_status == Uploading; }
    bool GoesBefore(const Upload& i_a, const Upload& i_b)
    {
        if (priority[i_a.user] != priority[i_b.user])
            return priority[i_a.user] > priority[i_b.user];
        if (privileged[i_a.user] != privileged[i_b.user])
            return privileged[i_a.user];
        return i_a.order < i_b.order;
    }
    // Ascending by number, equal numbers in the store's identity order.
    std::vector<int> SortedByPlace(const std::function<bool(const Upload&)>& i_which)
    {
        std::vector<int> l_sorted;
        for (int l_at = 0; l_at < int(uploads.size()); ++l_at)
            if (uploads[std::size_t(l_at)].place && i_which(uploads[std::size_t(l_at)]))
                l_sorted.push_back(l_at);
        std::sort(l_sorted.begin(), l_sorted.end(), [&](int i_a, int i_b) {
            const Upload& l_a = uploads[std::size_t(i_a)];
            const Upload& l_b = uploads[std::size_t(i_b)];
            return *l_a.place != *l_b.place ? *l_a.place < *l_b.place : l_a.entry < l_b.entry;
        });
        return l_sorted;
    }
    void OrderNew(int i_new)
    {
        Upload& l_new = uploads[std::size_t(i_new)];
        std::vector<int> l_sorted;
        bool l_loaded = false;
        if (last < 0)
        {
            l_sorted = SortedByPlace([](const Upload&) { return true; });
            l_loaded = true;
            if (l_sorted.empty())
            {
                l_new.place = 1;
                last = i_new;
                return;
            }
            last = l_sorted.back();
        }
        if (GoesBefore(uploads[std::size_t(last)], l_new))
        {
            l_new.place = *uploads[std::size_t(last)].place + 1;
            last = i_new;
            return;
        }
        if (!l_loaded)
            l_sorted = SortedByPlace([](const Upload&) { return true; });
        last = l_sorted.back();
        const auto l_before = std::find_if(l_sorted.begin(), l_sorted.end(),
                                           [&](int i_other) { return GoesBefore(l_new, uploads[std::size_t(i_other)]); });
        l_sorted.insert(l_before, i_new);
        qint64 l_place = 1;
        for (int l_at : l_sorted)
            uploads[std::size_t(l_at)].place = l_place++;
    }
    // Returns the uploads started, in the order they were asked for.
    void StartNew()
    {
        int l_free = uploadSlots - int(std::count_if(uploads.begin(), uploads.end(), [&](const Upload& i_upload) { return IsActive(i_upload.status); }));
        if (l_free <= 0)
            return;
        qint64 l_place = 0;
        for (int l_at : SortedByPlace([&](const Upload& i_upload) { return i_upload.status == Queued && online[i_upload.user]; }))
        {
            Upload& l_upload = uploads[std::size_t(l_at)];
            l_upload.place = l_place++;
            if (l_free <= 0)
                continue;
            const bool l_busy = std::any_of(uploads.begin(), uploads.end(), [&](const Upload& i_other) {
                return i_other.user == l_upload.user && IsActive(i_other.status);
            });
            if (l_busy)
                continue;
            l_upload.status = Requesting;
            --l_free;
        }
    }
    void Request(const QString& i_user, const QString& i_file, const std::function<ItemPtr()>& i_entry)
    {
        if (Upload* lp_upload = Find(i_user, i_file))
        {
            if (lp_upload->status == Queued || IsActive(lp_upload->status))
                return;
            lp_upload->status = Queued;
            StartNew();
            return;
        }
        const auto l_queued = std::count_if(uploads.begin(), uploads.end(), [&](const Upload& i_upload) {
            return i_upload.user == i_user && i_upload.status == Queued;
        });
        if (l_queued >= limit)
            return;
        uploads.push_back({i_entry(), i_user, i_file, Queued, std::nullopt, int(counter++)});
        OrderNew(int(uploads.size()) - 1);
        StartNew();
    }
    void Remove(int i_at)
    {
        if (last == i_at)
            last = -1;
        else if (last > i_at)
            --last;
        uploads.erase(uploads.begin() + i_at);
    }
};

// Seeded runs of everything that moves the upload queue, each step followed by a comparison of
// every upload's status and of every answer to a place-in-line question with the plain queue's.
TEST_F(UploadQueue, EveryStatusAndPlaceInLineIsWhatThePlainRenumberingGives)
{
    QStringList l_files;
    std::vector<std::pair<QString, qint64>> l_shared;
    for (int l_at = 0; l_at < 12; ++l_at)
    {
        l_files << QString("f%1.mp3").arg(l_at);
        l_shared.emplace_back(l_files.back(), 10);
    }
    Share(l_shared);
    mp_shares->RescanShares();
    const QStringList l_users = {"bob", "carl", "dave", "erin", "fred"};
    struct Mix
    {
        const char* name;
        // Weights of: request, finish, fail, refuse, online or offline, privilege, priority,
        // remove, slots, tick, limit.
        std::vector<int> weights;
    };
    const Mix l_mixes[] = {
        {"requests and ends", {40, 12, 6, 6, 6, 0, 0, 4, 3, 3, 2}},
        {"classes change", {35, 8, 4, 4, 6, 8, 8, 4, 3, 3, 2}},
        {"users come and go", {30, 8, 4, 4, 20, 3, 3, 6, 4, 3, 2}},
    };
    for (const Mix& l_mix : l_mixes)
        for (unsigned l_seed : {11u, 12u})
        {
            SCOPED_TRACE(::testing::Message() << l_mix.name << ", seed " << l_seed);
            for (ItemPtr l_entry : g("upload_entry"))
                mp_manager->RemoveUpload(l_entry);
            mp_manager->SetUploadSlots(1);
            SetSetting("max_queued_uploads_per_user", "200");
            PlainUploadQueue l_plain;
            l_plain.counter = GetSettingInt("transfer_order_counter");
            for (const QString& l_user : l_users)
            {
                User(l_user).Disconnect("is_online");
                User(l_user).Disconnect("is_privileged");
                InGroup(l_user, "group of " + l_user, "0");
                l_plain.online[l_user] = l_plain.privileged[l_user] = false;
                l_plain.priority[l_user] = 0;
            }
            std::mt19937 l_random(l_seed);
            const auto l_pick = [&](int i_below) { return int(l_random() % unsigned(i_below)); };
            const auto l_with = [&](const std::function<bool(const PlainUploadQueue::Upload&)>& i_which) {
                std::vector<int> l_found;
                for (int l_at = 0; l_at < int(l_plain.uploads.size()); ++l_at)
                    if (i_which(l_plain.uploads[std::size_t(l_at)]))
                        l_found.push_back(l_at);
                return l_found.empty() ? -1 : l_found[std::size_t(l_pick(int(l_found.size())))];
            };
            std::discrete_distribution<int> l_operation(l_mix.weights.begin(), l_mix.weights.end());
            for (int l_step = 0; l_step < 250; ++l_step)
            {
                const QString l_user = l_users[l_pick(int(l_users.size()))];
                const int l_what = l_operation(l_random);
                const int l_active = l_with([&](const auto& i_upload) { return l_plain.IsActive(i_upload.status); });
                const int l_requesting = l_with([](const auto& i_upload) { return i_upload.status == Requesting; });
                const int l_any = l_with([](const auto&) { return true; });
                if (l_what == 0)
                {
                    const QString l_file = l_files[l_pick(int(l_files.size()))];
                    Ask(l_user, l_file);
                    l_plain.Request(l_user, l_file, [&] { return Entry(l_user, l_file); });
                }
                else if ((l_what == 1 || l_what == 2) && l_active >= 0)
                {
                    // As the upload's thread reports its end.
                    auto& l_upload = l_plain.uploads[std::size_t(l_active)];
                    l_upload.status = l_what == 1 ? Complete : Aborted;
                    mp_manager->SetUploadEntryStatus(l_upload.entry, l_upload.status);
                    mp_manager->StartNewUploads();
                    l_plain.StartNew();
                }
                else if (l_what == 3 && l_requesting >= 0)
                {
                    auto& l_upload = l_plain.uploads[std::size_t(l_requesting)];
                    mp_manager->OnFileTransferResponse(l_upload.user, l_upload.entry["transfer_req"].AsUInt(), false, false, 0, "Queued");
                    l_upload.status = Denied;
                    l_plain.StartNew();
                }
                else if (l_what == 4)
                {
                    l_plain.online[l_user] = !l_plain.online[l_user];
                    if (l_plain.online[l_user])
                    {
                        Online(l_user);
                        l_plain.StartNew();
                    }
                    else
                        User(l_user).Disconnect("is_online");
                }
                else if (l_what == 5)
                {
                    l_plain.privileged[l_user] = !l_plain.privileged[l_user];
                    if (l_plain.privileged[l_user])
                        User(l_user).NewItem("is_privileged");
                    else
                        User(l_user).Disconnect("is_privileged");
                }
                else if (l_what == 6)
                {
                    // A negative priority counts as none.
                    const int l_value = l_pick(4) - (l_pick(2) ? 0 : 3);
                    d.GetType("user_list_group")->GetItem("group of " + l_user) +=
                        d.GetType("group_download_priority")->GetItem(QString::number(l_value));
                    l_plain.priority[l_user] = qMax(0, l_value);
                }
                else if (l_what == 7 && l_any >= 0)
                {
                    mp_manager->RemoveUpload(l_plain.uploads[std::size_t(l_any)].entry);
                    l_plain.Remove(l_any);
                }
                else if (l_what == 8)
                {
                    const int l_slots = l_pick(5);
                    mp_manager->SetUploadSlots(l_slots);
                    if (l_slots >= 1)
                    {
                        const bool l_more = l_slots > l_plain.uploadSlots;
                        l_plain.uploadSlots = l_slots;
                        if (l_more)
                            l_plain.StartNew();
                    }
                }
                else if (l_what == 9)
                {
                    mp_manager->EveryHalfMinute();
                    l_plain.StartNew();
                }
                else if (l_what == 10)
                {
                    l_plain.limit = 2 + l_pick(5);
                    SetSetting("max_queued_uploads_per_user", QString::number(l_plain.limit));
                }

                for (const QString& l_someone : l_users)
                    Parked(l_someone);
                QStringList l_expected, l_told;
                for (const auto& l_upload : l_plain.uploads)
                {
                    const QString l_name = l_upload.user + " " + l_upload.file + " ";
                    l_expected << l_name + l_upload.status << l_name + (l_upload.place ? QString::number(*l_upload.place) : "-");
                    l_told << l_name + Status(Entry(l_upload.user, l_upload.file));
                    mp_manager->OnUploadPlaceInLineRequested(l_upload.user, Remote(l_upload.file));
                    const QStringList l_answer = Parked(l_upload.user);
                    l_told << l_name + (l_answer.isEmpty() ? "-" : l_answer.join("|").section(' ', 2));
                }
                ASSERT_EQ(l_told, l_expected) << "step " << l_step;
                ASSERT_EQ(int(g("upload_entry").Size()), int(l_plain.uploads.size())) << "step " << l_step;
            }
        }
}
