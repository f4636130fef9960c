#include "PeerLinkFixture.h"

using PeerDispatch = PeerLinkFixture;

namespace
{
QByteArray UserInfo(const QByteArray& i_picturePart)
{
    return WireFields().UInt32(16).Text("hi there").Raw(i_picturePart);
}
} // namespace

TEST_F(PeerDispatch, EachFrameKeepsOrEndsItsConnectionAndGivesItsSignal)
{
    Listen();
    // Another user's connection must come through every bad frame of bob's untouched.
    std::unique_ptr<FakePeer> lp_carl = Accepted(false, "carl");
    const QByteArray l_tail = WireFields().Int32(2).Int32(5).Byte(1);
    const Frame l_frames[] = {
        {"empty frame", {}, false, {}},
        {"nothing", Word(52), true, {}},
        {"unknown code", Word(2), true, {}},
        {"ignored code with junk", Word(8) + "junk", true, {}},
        {"queue download", WireFields().UInt32(60).Text("a.mp3").Raw(Int64(5)), true,
         "QueueDownloadRequested|bob|a.mp3|5"},
        {"user info request", Word(15), true, "UserInfoRequested|bob"},
        {"user info with picture",
         UserInfo(WireFields().Byte(1).Int32(3).Raw("\x01\x02\x03").Raw(l_tail)), true,
         "UserInfoReceived|bob|hi there|1|010203|2|5|1"},
        {"user info without picture, trailing bytes",
         UserInfo(WireFields().Byte(0).Raw(l_tail).Raw("extra")), true,
         "UserInfoReceived|bob|hi there|0||2|5|1"},
        {"user info with an empty picture", UserInfo(WireFields().Byte(1).Int32(0).Raw(l_tail)),
         true, "UserInfoReceived|bob|hi there|1||2|5|1"},
        {"user info cut after slots", UserInfo(WireFields().Byte(0).Int32(2)), false, {}},
        {"user info cut in the description", WireFields().UInt32(16).UInt32(50).Raw("hi"), false, {}},
        {"negative picture length",
         UserInfo(WireFields().Byte(1).Int32(-1).Raw(l_tail)), false, {}},
        {"huge picture length",
         UserInfo(WireFields().Byte(1).Int32(0x7fffffff).Raw(l_tail)), false, {}},
        {"picture longer than the frame",
         UserInfo(WireFields().Byte(1).Int32(64).Raw(l_tail)), false, {}},
    };
    for (const Frame& l_frame : l_frames)
        Run(l_frame);

    EXPECT_EQ(Logged("Could not read message code on connection to user bob, disposing of socket"),
              1);
    EXPECT_EQ(Logged("Received 2 (unknown) message from user bob"), 1);
    EXPECT_EQ(Logged("Received 60 (unknown) message from user bob"), 1);
    EXPECT_EQ(Logged("Received PM_FILE_SEARCH_REQUEST message from user bob"), 1);
    EXPECT_EQ(Logged("Received PM_USER_INFO_REPLY message from user bob"), 8);
    // Malformed messages end their connection without a line of their own.
    EXPECT_EQ(Logged("disposing of socket"), 1);

    EXPECT_EQ(Count("peer_socket"), 1u);
    lp_carl->SendFrame(Word(15));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return m_signals.contains("UserInfoRequested|carl"); }, 5000));
}
