#include "PeerLinkFixture.h"

using PeerTransferMessages = PeerLinkFixture;

TEST_F(PeerTransferMessages, SendersWriteTheirFieldsInOrderAndNumberTheirRequests)
{
    SetSetting("transfer_req_counter", "7");
    std::unique_ptr<FakePeer> lp_bob = Accepted(false, "bob");
    PeerMessenger* lp = mp_messenger.get();
    const std::pair<std::function<void()>, QByteArray> l_cases[] = {
        {[=] { lp->GetUserInfo("bob"); }, Word(15)},
        {[=] { lp->GetUserSharedFiles("bob"); }, Word(4)},
        {[=] { EXPECT_EQ(lp->RequestUpload("bob", "m\\\u00e9.mp3", 0x100000002LL), 7u); },
         Code(40).Int32(1).UInt32(7).Text("m\\\u00e9.mp3").Raw(Int64(0x100000002LL))},
        {[=] { lp->AcceptTransferRequest("bob", 9, true, 123); }, Code(41).UInt32(9).Byte(1).Raw(Int64(123))},
        {[=] { lp->AcceptTransferRequest("bob", 9, false, 123); }, Code(41).UInt32(9).Byte(1)},
        {[=] { lp->DenyTransferRequest("bob", 10, "Queued"); }, Code(41).UInt32(10).Byte(0).Text("Queued")},
        // Byte names go out unchanged, whatever their encoding.
        {[=] { lp->QueueDownload("bob", std::string("caf\xe9")); }, Code(43).UInt32(4).Raw("caf\xe9")},
        {[=] { lp->SendUploadPlaceInLine("bob", "\u00fc.mp3", 4); }, Code(44).Text("\u00fc.mp3").Int32(4)},
        {[=] { lp->DenyUpload("bob", "f", "Banned"); }, Code(50).Text("f").Text("Banned")},
        {[=] { lp->QueueUpload("bob", "f", -2); }, Code(60).Text("f").Raw(Int64(-2))},
    };
    QList<QByteArray> l_expected;
    for (const auto& [l_send, l_body] : l_cases)
        l_send(), l_expected << l_body;
    ASSERT_TRUE(lp_bob->WaitForBodies(l_expected.size()));
    EXPECT_EQ(lp_bob->Bodies(), l_expected);
    EXPECT_EQ(Setting("transfer_req_counter"), "8");
}

TEST_F(PeerTransferMessages, EachFrameKeepsOrEndsItsConnectionAndGivesItsSignal)
{
    // Another user's connection must come through every bad frame of bob's untouched.
    std::unique_ptr<FakePeer> lp_carl = Accepted(false, "carl");
    const QByteArray l_tail = WireFields().Int32(2).Int32(5).Byte(1);
    const auto UserInfo = [](quint8 i_hasPicture) { return Code(16).Text("hi there").Byte(i_hasPicture); };
    const Frame l_frames[] = {
        {"empty frame", {}, false, {}},
        {"unknown code", Word(2), true, {}},
        {"ignored code with junk", Word(8) + "junk", true, {}},
        {"upload", Code(40).Int32(1).UInt32(7).Text("a").Raw(Int64(9)), true, "FileTransferRequested|bob|1|7|a|9"},
        {"download, no size", Code(40).Int32(0).UInt32(8).Text("b"), true, "FileTransferRequested|bob|0|8|b|0"},
        {"upload without size", Code(40).Int32(1).UInt32(7).Text("a"), false, {}},
        {"allowed, sized", Code(41).UInt32(3).Byte(1).Raw(Int64(4096)), true, "FileTransferResponse|bob|3|1|1|4096|"},
        {"allowed without size", Code(41).UInt32(3).Byte(1), true, "FileTransferResponse|bob|3|1|0|0|"},
        {"refused", Code(41).UInt32(4).Byte(0).Text("Queued"), true, "FileTransferResponse|bob|4|0|0|0|Queued"},
        {"refused without reason", Code(41).UInt32(4).Byte(0), false, {}},
        {"response without its flag", Code(41).UInt32(4), false, {}},
        {"queue upload", Code(43).Text("d\\\u00e9"), true, "QueueUploadRequested|bob|d\\\u00e9"},
        {"place in line", Code(44).Text("e").Int32(12), true, "DownloadPlaceInLine|bob|e|12"},
        {"place in line without place", Code(44).Text("e"), false, {}},
        {"upload failed", Code(46).Text("f"), true, "UploadFailed|bob|f"},
        {"upload failed without file", Code(46).UInt32(3).Raw("ab"), false, {}},
        {"upload denied", Code(50).Text("g").Text("Banned"), true, "UploadDenied|bob|g|Banned"},
        {"upload denied without reason", Code(50).Text("g"), false, {}},
        {"place asked", Code(51).Text("h"), true, "UploadPlaceInLineRequested|bob|h"},
        {"queue download", Code(60).Text("a.mp3").Raw(Int64(5)), true, "QueueDownloadRequested|bob|a.mp3|5"},
        {"queue download without size", Code(60).Text("i").Raw(QByteArray("\0\0\0", 3)), false, {}},
        {"user info with picture", UserInfo(1).Int32(3).Raw("\x01\x02\x03").Raw(l_tail), true,
         "UserInfoReceived|bob|hi there|1|010203|2|5|1"},
        {"user info without picture, trailing bytes", UserInfo(0).Raw(l_tail).Raw("extra"), true,
         "UserInfoReceived|bob|hi there|0||2|5|1"},
        {"user info, empty picture", UserInfo(1).Int32(0).Raw(l_tail), true, "UserInfoReceived|bob|hi there|1||2|5|1"},
        {"user info cut after slots", UserInfo(0).Int32(2), false, {}},
        {"user info cut in the description", Code(16).UInt32(50).Raw("hi"), false, {}},
        {"negative picture length", UserInfo(1).Int32(-1).Raw(l_tail), false, {}},
        {"huge picture length", UserInfo(1).Int32(0x7fffffff).Raw(l_tail), false, {}},
        {"picture longer than the frame", UserInfo(1).Int32(64).Raw(l_tail), false, {}},
    };
    for (const Frame& l_frame : l_frames)
        Run(l_frame);

    EXPECT_EQ(Logged("Could not read message code on connection to user bob, disposing of socket"), 1);
    EXPECT_EQ(Logged("Received PM_FILE_SEARCH_REQUEST message from user bob"), 1);
    EXPECT_EQ(Logged("Received PM_USER_INFO_REPLY message from user bob"), 8);
    // Malformed messages end their connection without a line of their own.
    EXPECT_EQ(Logged("disposing of socket"), 1);

    lp_carl->SendFrame(Word(15));
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_signals.contains("UserInfoRequested|carl"); }, 5000));
}
