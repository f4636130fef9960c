#include "PeerLinkFixture.h"

using PeerShareMessages = PeerLinkFixture;

TEST_F(PeerShareMessages, ShareMessagesAsTheyArrive)
{
    const QByteArray l_list = WireFields().Int32(2).Text("music\\Beatles").Raw(Files(
        {{"Help.mp3", 4000000, {{0, 320}}}, {"", -1, {}}, {"Yesterday.mp3", 7, {}}})).Text("video").Raw(Files({}));
    const QString l_share = "UserShare|bob|music\\Beatles:Help.mp3/4000000/0=320,Yesterday.mp3/7;video:|";
    const Frame l_frames[] = {
        {"a list with its name table", Word(5) + Deflated(l_list + WireFields().Int32(1).Int32(0).Text("bitrate")), true,
         l_share + "0=bitrate"},
        {"a list without its name table", Word(5) + Deflated(l_list), true, l_share},
        {"a cut name table", Word(5) + Deflated(l_list + Word(2)), true, l_share},
        {"a decompression bomb", Bomb(5), true, {}},
        {"a list that is not compressed", Word(5) + l_list, false, {}},
        {"a cut list", Word(5) + Deflated(l_list.left(40)), false, {}},
        {"too many folders", Word(5) + Deflated(WireFields().Int32(131073)), false, {}},
        {"nothing after the code", Word(5), false, {}},
        {"our list asked for", Word(4), true, "SharedFileListRequested|bob"},
        {"one folder asked for", WireFields().UInt32(36).UInt32(12).Text("music\\Beatles"), true,
         "SharedFilesInFolderRequested|bob|12|music\\Beatles"},
        {"a folder request without its folder", WireFields().UInt32(36).UInt32(12), false, {}},
    };
    for (const Frame& l_frame : l_frames)
        Run(l_frame);
}

TEST_F(PeerShareMessages, WhatALargeListOrReplyHeldGoesBackToTheSystemAtTheNextHalfMinuteOnce)
{
    PeerMessengerTesting::SetReturnedBytes(*mp_messenger, 1024 * 1024);
    // Ten thousand records hold well over the lowered threshold while they are read, though
    // their frame is a few kilobytes; ten hold far less.
    const auto l_records = [](int i_count) {
        std::vector<ShareFile> l_files;
        for (int l_index = 0; l_index < i_count; ++l_index)
            l_files.push_back({"music\\" + QByteArray::number(l_index) + ".mp3", l_index, {{0, 320}}});
        return l_files;
    };
    const auto l_list = [](const std::vector<ShareFile>& i_files) {
        return WireFields().Int32(1).Text("music").Raw(Files(i_files)).Bytes();
    };
    const QByteArray l_large = l_list(l_records(10000));
    // Every file filtered out: the records were read, nothing of them is kept.
    d.GetType("search_request")->NewItem(Value(7u)) += d.GetType("search_request_text")->GetItem("nothing");
    const std::tuple<const char*, QByteArray, bool, bool> l_cases[] = {
        {"a large list", Word(5) + Deflated(l_large), true, true},
        {"a small list", Word(5) + Deflated(l_list(l_records(10))), true, false},
        {"a large list cut at its end", Word(5) + Deflated(l_large.chopped(2)), false, true},
        {"a large search reply", Reply(7, l_records(10000)), true, true},
        {"a small search reply", Reply(7, l_records(10)), true, false},
        {"a decompression bomb", Bomb(5), true, true},
    };
    for (const auto& [l_name, l_body, l_keeps, l_returns] : l_cases)
    {
        SCOPED_TRACE(l_name);
        if (!mp_bob || !BobConnected())
            ConnectBob();
        mp_messenger->EveryHalfMinute();
        const quint64 l_before = PeerMessengerTesting::MemoryReturns(*mp_messenger);
        EXPECT_EQ(SendKeeps(l_body), l_keeps);
        mp_messenger->EveryHalfMinute();
        EXPECT_EQ(PeerMessengerTesting::MemoryReturns(*mp_messenger), l_before + (l_returns ? 1 : 0));
        // Counted once: the half-minute after it has nothing more to hand back.
        mp_messenger->EveryHalfMinute();
        EXPECT_EQ(PeerMessengerTesting::MemoryReturns(*mp_messenger), l_before + (l_returns ? 1 : 0));
    }
}

TEST(PeerInflater, StopsAtItsCeiling)
{
    const QByteArray l_text(1000, 'a');
    const QByteArray l_stream = Deflated(l_text);
    const std::tuple<const char*, QByteArray, int, Inflater::Result> l_cases[] = {
        {"exactly the ceiling", l_stream, 1000, Inflater::Inflated},
        {"one byte past it", l_stream, 999, Inflater::TooLarge},
        {"bytes after the stream", l_stream + "junk", 1000, Inflater::Inflated},
        {"a cut stream", l_stream.chopped(2), 1000, Inflater::Broken},
        {"no stream", "not zlib", 1000, Inflater::Broken},
        {"nothing", QByteArray(), 1000, Inflater::Broken},
    };
    for (const auto& [l_name, l_input, l_ceiling, l_result] : l_cases)
    {
        SCOPED_TRACE(l_name);
        QByteArray l_out("left over");
        EXPECT_EQ(Inflater::Inflate(l_input.constData(), l_input.size(), l_out, l_ceiling), l_result);
        EXPECT_EQ(l_out, l_result == Inflater::Inflated ? l_text : QByteArray());
    }
}
