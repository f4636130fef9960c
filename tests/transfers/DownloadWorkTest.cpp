#include <map>
#include <string>
#include <vector>

#include "TransferFixture.h"

// What uploaders are asked for while the download work waits between its slices, and after the
// downloads it counts have ended or gone: each uploader on a messaging connection of its own, so
// what it is asked for is read off the wire.
class DownloadWorkTurns : public TransferFixture
{
protected:
    void TearDown() override
    {
        DownloadWork::SetStepsPerSlice(0);
        m_uploaders.clear();
        TransferFixture::TearDown();
    }

    // The user, online, with a messaging connection to us.
    void Connect(const QString& i_user)
    {
        m_uploaders[i_user].peer = Accepted(false, i_user);
        Online(i_user);
    }

    // What the user's connection received since the last look, as "code path" for the messages
    // that carry one path and "code" and hex otherwise, in standard texts, which failures print
    // as text. A message that asks nothing, sent last, fences it.
    using Lines = std::vector<std::string>;
    Lines News(const QString& i_user)
    {
        Uploader& l_uploader = m_uploaders[i_user];
        MemStream l_fence;
        l_fence.Write(FenceCode);
        mp_messenger->SendMessage(i_user, l_fence);
        const auto l_fenced = [&] {
            const QList<QByteArray>& l_bodies = l_uploader.peer->Bodies();
            for (int l_at = l_uploader.seen; l_at < l_bodies.size(); ++l_at)
                if (l_bodies[l_at] == Word(FenceCode))
                    return l_at;
            return -1;
        };
        EXPECT_TRUE(QTest::qWaitFor([&] { return l_fenced() >= 0; }, 5000)) << i_user.toStdString();
        const int l_end = l_fenced();
        Lines l_news;
        for (int l_at = l_uploader.seen; l_at < l_end; ++l_at)
            l_news.push_back(Text(l_uploader.peer->Bodies()[l_at]).toStdString());
        l_uploader.seen = l_end + 1;
        return l_news;
    }
    static QString Text(const QByteArray& i_body)
    {
        const quint32 l_code = qFromLittleEndian<quint32>(i_body.constData());
        const QByteArray l_rest = i_body.mid(4);
        if ((l_code == 43 || l_code == 51) && l_rest.size() >= 4 &&
            qFromLittleEndian<quint32>(l_rest.constData()) == quint32(l_rest.size() - 4))
            return QString("%1 %2").arg(l_code).arg(QString::fromUtf8(l_rest.mid(4)));
        return QString("%1 %2").arg(l_code).arg(QString::fromLatin1(l_rest.toHex()));
    }
    static Lines Asked(const std::string& i_folder, const Lines& i_files)
    {
        Lines l_asked;
        for (const std::string& l_file : i_files)
            l_asked.push_back("43 " + i_folder + "\\" + l_file);
        return l_asked;
    }
    static std::string StatusText(ItemPtr i_entry) { return Status(i_entry).toStdString(); }

    // Runs the download work a slice at a time until the log holds the line; each call of the
    // posted slices runs one, since a slice posts the next one only as it ends.
    bool SliceUntilLogged(const QString& i_line)
    {
        for (int l_slice = 0; l_slice < 40 && Logged(i_line) == 0; ++l_slice)
            QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        return Logged(i_line) > 0;
    }
    static bool WorkDone()
    {
        return QTest::qWaitFor([] { return !transferQueueManager->IsDownloadWorkPending(); }, 20000);
    }
    static void RemoveAll()
    {
        for (ItemPtr l_entry : g("download_entry"))
            transferQueueManager->RemoveDownload(l_entry);
    }

    static constexpr quint32 FenceCode = 52;
    struct Uploader
    {
        std::unique_ptr<FakePeer> peer;
        int seen = 0;
    };
    std::map<QString, Uploader> m_uploaders;
};

// A denial that comes while the user's re-queue waits for its next slice holds: the re-queue
// reads each download's status when that download's turn comes, whatever started it. Asked for
// again meanwhile, the download the re-queue holds is kept as it is: only a Delete's holding
// makes it anew.
TEST_F(DownloadWorkTurns, ADownloadDeniedWhileItsUsersRequeueWaitsStaysDeniedAndIsNotAskedFor)
{
    enum Trigger
    {
        ComingOnline,
        HalfMinuteCheck,
        RequeueAsked
    };
    // The uploader, what starts the re-queue, the log line after which the denial comes, the
    // download denied, the downloads then asked for.
    const std::tuple<const char*, Trigger, const char*, const char*, Lines> l_cases[] = {
        {"bob", ComingOnline, "Requeueing downloads from user bob", "a.mp3", {"b.mp3", "c.mp3"}},
        {"carl", ComingOnline, "Queueing a.mp3", "c.mp3", {"a.mp3", "b.mp3"}},
        {"dave", HalfMinuteCheck, "Requeueing downloads from user dave", "b.mp3", {"a.mp3", "c.mp3"}},
        {"erin", HalfMinuteCheck, "Queueing b.mp3", "c.mp3", {"a.mp3", "b.mp3"}},
        {"fred", RequeueAsked, "Requeueing downloads from user fred", "c.mp3", {"a.mp3", "b.mp3"}},
        {"gina", RequeueAsked, "Queueing a.mp3", "b.mp3", {"a.mp3", "c.mp3"}},
    };
    for (const auto& [l_user, l_trigger, l_after, l_denied, l_asked] : l_cases)
    {
        SCOPED_TRACE(l_user);
        DownloadWork::SetStepsPerSlice(0);
        m_lines.clear();
        const std::string l_folder = std::string("Music\\") + l_user;
        std::map<QString, ItemPtr> l_entries;
        for (const char* l_file : {"a.mp3", "b.mp3", "c.mp3"})
            l_entries[l_file] = mp_manager->AddDownload(l_user, l_file, l_folder, 100, 0);
        if (l_trigger == ComingOnline)
            m_uploaders[l_user].peer = Accepted(false, l_user);
        else
        {
            Connect(l_user);
            ASSERT_TRUE(WorkDone());
            News(l_user);
            m_lines.clear();
        }

        // One step a slice: the first runs at once, every later one from the event loop.
        DownloadWork::SetStepsPerSlice(1);
        if (l_trigger == ComingOnline)
            Online(l_user);
        else if (l_trigger == HalfMinuteCheck)
        {
            Restamp(User(l_user), "last_queue_request_time", QDateTime::currentDateTime().addSecs(-601));
            mp_manager->EveryHalfMinute();
        }
        else
            mp_manager->RequeueUserDownloads(User(l_user));
        ASSERT_TRUE(SliceUntilLogged(l_after));
        ASSERT_TRUE(mp_manager->IsDownloadWorkPending()) << "the re-queue was over before the denial";
        emit mp_messenger->UploadDenied(l_user, l_folder + "\\" + l_denied, "File not shared.");
        const int l_order = l_entries[l_denied]["download_order"].AsInt();
        ASSERT_EQ(mp_manager->AddDownload(l_user, l_denied, l_folder, 100, 0)["download_order"].AsInt(), l_order)
            << "made anew";
        ASSERT_TRUE(WorkDone());

        EXPECT_EQ(News(l_user), Asked(l_folder, l_asked));
        for (const auto& [l_file, l_entry] : l_entries)
        {
            EXPECT_EQ(StatusText(l_entry), l_file == l_denied ? Denied : Queued) << l_file.toStdString();
            EXPECT_EQ(l_entry["denial_reason"].AsStdString(), l_file == l_denied ? "File not shared." : "");
        }
        RemoveAll();
    }
}

// A user's running downloads are counted as they start and end: once one has completed, failed
// or gone, the half-minute check asks the user again for every download that may be asked for,
// as soon as 600 s have passed since the user was last asked, and not before.
TEST_F(DownloadWorkTurns, AUserWhoseDownloadEndedIsAskedAgainForTheQueuedOnesAfterTenMinutes)
{
    const int l_size = 30000;
    // The uploader, how the running download ends (the bytes sent before the uploader closes,
    // or -1 for a removal), its status then, and the downloads asked for again.
    const std::tuple<const char*, int, const char*, Lines> l_cases[] = {
        {"bob", l_size, Complete, {"q1.mp3", "q2.mp3"}},
        {"carl", l_size / 3, Aborted, {"run.mp3", "q1.mp3", "q2.mp3"}},
        {"dave", -1, nullptr, {"q1.mp3", "q2.mp3"}},
    };
    quint32 l_req = 0;
    for (const auto& [l_user, l_sent, l_ended, l_asked] : l_cases)
    {
        SCOPED_TRACE(l_user);
        const std::string l_folder = std::string("Music\\") + l_user;
        std::map<QString, ItemPtr> l_entries;
        for (const char* l_file : {"run.mp3", "q1.mp3", "q2.mp3"})
            l_entries[l_file] = mp_manager->AddDownload(l_user, l_file, l_folder, l_size, 0);
        Connect(l_user);
        ASSERT_TRUE(WorkDone());
        EXPECT_EQ(News(l_user), Asked(l_folder, {"run.mp3", "q1.mp3", "q2.mp3"})) << "coming online";

        // The uploader offers the first one on a file connection of its own.
        const ItemPtr l_run = l_entries["run.mp3"];
        emit mp_messenger->FileTransferRequested(l_user, 1, ++l_req, l_folder + "\\run.mp3", l_size);
        FakePeer l_files;
        mp_manager->OnFileConnection(l_user, l_files.Linked(), l_req);
        ASSERT_TRUE(QTest::qWaitFor([&] { return l_files.Raw() == Int64(0); }, 5000)) << "the offset";
        ASSERT_EQ(StatusText(l_run), Downloading);
        if (l_sent < 0)
            mp_manager->RemoveDownload(l_run);
        else
        {
            l_files.SendRaw(Pattern(l_sent));
            l_files.Close();
            ASSERT_TRUE(QTest::qWaitFor([&, l_status = QString(l_ended)] { return Status(l_run) == l_status; }, 10000))
                << Status(l_run).toStdString();
        }
        for (const std::string& l_news : News(l_user))
            EXPECT_NE(l_news.substr(0, 3), "43 ") << l_news;

        // Not yet: the user was asked when it came online, or when its download ended.
        mp_manager->EveryHalfMinute();
        ASSERT_TRUE(WorkDone());
        EXPECT_EQ(News(l_user), Lines()) << "asked again before 600 s had passed";

        Restamp(User(l_user), "last_queue_request_time", QDateTime::currentDateTime().addSecs(-600));
        mp_manager->EveryHalfMinute();
        ASSERT_TRUE(WorkDone());
        EXPECT_EQ(News(l_user), Asked(l_folder, l_asked));
        for (const char* l_file : {"q1.mp3", "q2.mp3"})
            EXPECT_EQ(StatusText(l_entries[l_file]), Queued) << l_file;
        if (l_sent >= 0)
        {
            EXPECT_EQ(StatusText(l_run), l_sent == l_size ? Complete : Queued);
        }
        RemoveAll();
    }
}

// A download removed while a re-queue holds it is skipped, and a download made afterwards where
// it lay, for another user, is not the old re-queue's business: neither uploader hears of it
// from that re-queue.
TEST_F(DownloadWorkTurns, ADownloadRemovedWhileItsRequeueWaitsIsSkippedAndOneMadeWhereItLayIsNotAskedFor)
{
    // Whether a download of carl's is made at once where the removed one lay.
    for (const bool l_reused : {false, true})
    {
        SCOPED_TRACE(l_reused ? "made again where it lay" : "removed only");
        User("bob").GetItems("is_online").Remove();
        std::map<QString, ItemPtr> l_entries;
        for (const char* l_file : {"a.mp3", "b.mp3", "c.mp3"})
            l_entries[l_file] = mp_manager->AddDownload("bob", l_file, "Music\\Album", 100, 0);
        if (!m_uploaders.count("bob"))
            m_uploaders["bob"].peer = Accepted(false, "bob");
        m_lines.clear();

        DownloadWork::SetStepsPerSlice(1);
        Online("bob");
        ASSERT_TRUE(SliceUntilLogged("Requeueing downloads from user bob"));
        ASSERT_TRUE(SliceUntilLogged("Queueing a.mp3"));
        Item* const lp_removed = l_entries["b.mp3"].Get();
        mp_manager->RemoveDownload(l_entries["b.mp3"]);
        // The store gives back the slots it freed last first; a few downloads of carl's reach it.
        std::vector<ItemPtr> l_carls;
        for (int l_made = 0; l_reused && l_made < 16 && (l_carls.empty() || l_carls.back().Get() != lp_removed); ++l_made)
            l_carls.push_back(mp_manager->AddDownload("carl", "gift" + std::to_string(l_made) + ".mp3", "Gifts", 10, 0));
        if (l_reused)
        {
            ASSERT_EQ(l_carls.back().Get(), lp_removed) << "no download of carl's was made where bob's lay";
        }
        ASSERT_TRUE(mp_manager->IsDownloadWorkPending()) << "the re-queue was over before the removal";
        ASSERT_TRUE(WorkDone());

        EXPECT_EQ(News("bob"), Asked("Music\\Album", {"a.mp3", "c.mp3"}));
        EXPECT_EQ(Parked("carl").join('\n').toStdString(), "");
        for (ItemPtr l_gift : l_carls)
            EXPECT_EQ(StatusText(l_gift), Queued);
        EXPECT_EQ(Logged("Queueing gift"), 0);
        EXPECT_EQ(Lines({StatusText(l_entries["a.mp3"]), StatusText(l_entries["c.mp3"])}), Lines({Queued, Queued}));
        EXPECT_EQ(g("download_entry").Size(), 2 + l_carls.size());
        DownloadWork::SetStepsPerSlice(0);
        RemoveAll();
    }
}
