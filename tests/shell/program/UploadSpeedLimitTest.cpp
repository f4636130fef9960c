#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStyleOptionButton>
#include <QtEndian>

#include <vector>

#include "ProgramFixture.h"
#include "shares/SharedFoldersManager.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "views/transfers/TransfersForm.h"

namespace
{
// What the user does at the foot of the uploads page.
enum class Step
{
    Type32,
    Untick,
    Tick
};

const struct LimitCase
{
    const char* name;
    // The store written before the start; nullptr: neither setting stored.
    const char* storedLimit;
    const char* storedEnabled;
    std::vector<Step> steps;
    bool limited;
} g_cases[] = {
    {"TypedThenUnticked", nullptr, nullptr, {Step::Type32, Step::Untick}, false},
    {"TypedUntickedAndTickedAgain", nullptr, nullptr, {Step::Type32, Step::Untick, Step::Tick}, true},
    {"StoredWithTheBoxOff", "32", "no", {}, false},
    {"StoredWithTheBoxOffThenTicked", "32", "no", {Step::Tick}, true},
    {"StoredWithTheBoxOnThenUnticked", "32", "yes", {Step::Untick}, false},
};
void PrintTo(const LimitCase& i_case, std::ostream* op_out) { *op_out << i_case.name; }

// Long enough that at the limit it takes 16 s, short enough that unlimited it is gone at once.
const int FileBytes = 512 * 1024;
const int LimitBytesPerSecond = 32 * 1024;
// However loaded the machine, the whole file unlimited comes well within this, and a quarter of
// the file at the limit does not.
const int UnlimitedMs = 4000;

// Its period divides no block, so a misplaced block shows.
QByteArray Pattern(int i_size)
{
    return QByteArray("0123456789abcdefghijklmnopqrstuvwxyz").repeated(i_size / 36 + 1).left(i_size);
}
QByteArray Int64(qint64 i_value)
{
    return WireFields().UInt32(quint32(i_value)).UInt32(quint32(quint64(i_value) >> 32));
}
} // namespace

class UploadSpeedLimit : public ProgramFixture, public ::testing::WithParamInterface<LimitCase>
{
protected:
    QCheckBox* Box() const { return Child<QCheckBox>(mp_ui->transfersForm, "uploadLimitCheckBox"); }
    QSpinBox* Spin() const { return Child<QSpinBox>(mp_ui->transfersForm, "uploadLimitSpinBox"); }

    void Do(Step i_step)
    {
        if (i_step == Step::Type32)
        {
            QTest::keyClick(Spin(), Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(Spin(), "32");
            QTest::keyClick(Spin(), Qt::Key_Return);
            return;
        }
        ASSERT_EQ(Box()->isChecked(), i_step == Step::Untick);
        QStyleOptionButton l_option;
        l_option.initFrom(Box());
        const QRect l_indicator = Box()->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &l_option, Box());
        QTest::mouseClick(Box(), Qt::LeftButton, Qt::NoModifier, l_indicator.center());
    }

    // alice shares a song; bob, a stranger on this machine whom the server reports online and at
    // the port of his file listener, opens a messaging connection to her and asks for it.
    void AskForTheSong()
    {
        ASSERT_TRUE(QDir(Home()).mkpath("Share"));
        QFile l_file(Home() + "/Share/song.bin");
        ASSERT_TRUE(l_file.open(QIODevice::WriteOnly) && l_file.write(Pattern(FileBytes)) == FileBytes);
        l_file.close();
        sharedFoldersManager->AddSharedFolder(Home() + "/Share").NewItem("shared_public");

        const ItemPtr l_bob = d.GetType("user")->GetItem("bob");
        const quint16 l_filePort = m_bobFiles.Listen();
        m_server.SendFrame(7, WireFields().Text("bob").Int32(2).Byte(0));
        m_server.SendFrame(3, WireFields().Text("bob").UInt32(0x7f000001u).Int32(l_filePort).Int32(0));
        ASSERT_TRUE(QTest::qWaitFor([&] { return l_bob.IsConnected("is_online") && l_bob["user_port"].AsInt() == l_filePort; }, 5000));

        ASSERT_TRUE(m_bob.ConnectTo(static_cast<quint16>(GetSettingInt("listening_port"))));
        m_bob.SendFrame(FakePeer::InitBody("bob", "P"));
        m_bob.SendFrame(WireFields().UInt32(43).Text(SongAsAsked()));
    }

    // alice asks bob to take the song, he accepts, and on her file connection he answers her
    // transfer number with offset 0; from then on the clock runs.
    void AcceptTheSong()
    {
        QByteArray l_request;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            for (const QByteArray& l_body : m_bob.Bodies())
                if (qFromLittleEndian<quint32>(l_body.constData()) == 40)
                    l_request = l_body;
            return !l_request.isEmpty();
        }, 5000));
        const quint32 l_req = qFromLittleEndian<quint32>(l_request.constData() + 8);
        EXPECT_EQ(l_request, WireFields().UInt32(40).Int32(1).UInt32(l_req).Text(SongAsAsked()).Raw(Int64(FileBytes)).Bytes());
        m_bob.SendFrame(WireFields().UInt32(41).UInt32(l_req).Byte(1));

        m_head = FakePeer::Frame(FakePeer::InitBody("alice", "F")) + WireFields().UInt32(l_req).Bytes();
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_bobFiles.Raw().size() >= m_head.size(); }, 5000));
        ASSERT_EQ(m_bobFiles.Raw(), m_head);
        m_bobFiles.SendRaw(Int64(0));
        m_clock.start();
    }

    // Our own path in the backslash form that peers use.
    QString SongAsAsked() const { return QString(Home() + "/Share/song.bin").replace('/', '\\'); }
    qint64 Received() const { return m_bobFiles.Raw().size() - m_head.size(); }
    QString Status() const
    {
        return d.GetType("user")->GetItem("bob")["upload_entry"]["upload_entry_status"].AsString();
    }

    FakePeer m_bob, m_bobFiles;
    QByteArray m_head;
    QElapsedTimer m_clock;
};

INSTANTIATE_TEST_SUITE_P(Cases, UploadSpeedLimit, ::testing::ValuesIn(g_cases),
                         [](const ::testing::TestParamInfo<LimitCase>& i_info) { return std::string(i_info.param.name); });

// The limit holds only while its box is ticked, whether the user typed it or the store kept it:
// for the transfer queues and for the bytes on a real file connection.
TEST_P(UploadSpeedLimit, AppliesOnlyWhileItsBoxIsTicked)
{
    const LimitCase& l_case = GetParam();
    if (l_case.storedLimit)
        m_store.Setting("upload_speed_limit", l_case.storedLimit).Setting("upload_speed_limit_enabled", l_case.storedEnabled);
    StartLoggedIn();
    mp_window->show();
    mp_ui->tabControl->setCurrentWidget(mp_ui->transfersForm);
    Child<QTabWidget>(mp_ui->transfersForm, "transfersTabControl")->setCurrentIndex(1);
    const bool l_storedOn = l_case.storedEnabled && QByteArray(l_case.storedEnabled) == "yes";
    EXPECT_EQ(Box()->isChecked(), l_storedOn);
    EXPECT_EQ(Spin()->value(), l_case.storedLimit ? 32 : 0);
    EXPECT_EQ(transferQueueManager->GetUploadSpeed(), l_storedOn ? 32 : 0);

    for (const Step l_step : l_case.steps)
        Do(l_step);
    const int l_limit = l_case.limited ? 32 : 0;
    EXPECT_EQ(Box()->isChecked(), l_case.limited);
    EXPECT_EQ(Spin()->value(), 32) << "unticking keeps the number";
    EXPECT_EQ(GetSetting("upload_speed_limit"), "32");
    EXPECT_EQ(GetSetting("upload_speed_limit_enabled"), l_case.limited ? "yes" : "no");
    EXPECT_EQ(transferQueueManager->GetUploadSpeed(), l_limit);
    EXPECT_EQ(transferQueueManager->GetPerUploadSpeedLimit(), l_limit);

    ASSERT_NO_FATAL_FAILURE(AskForTheSong());
    ASSERT_NO_FATAL_FAILURE(AcceptTheSong());
    EXPECT_EQ(Status(), transfer_status::Uploading);
    EXPECT_EQ(transferQueueManager->GetPerUploadSpeedLimit(), l_limit) << "the one running upload has it all";
    if (l_case.limited)
    {
        // Every block is paid for before it goes, so a slow machine only sends less: the bound
        // is one-sided, give or take 5 %. Something must have gone, though.
        QTest::qWait(2000);
        const qint64 l_received = Received();
        EXPECT_GE(l_received, 8192);
        EXPECT_LE(l_received, qint64(LimitBytesPerSecond) * m_clock.elapsed() / 1000 * 105 / 100);
        // Unticked on the way, the rest goes unlimited at once.
        Do(Step::Untick);
        EXPECT_EQ(transferQueueManager->GetPerUploadSpeedLimit(), 0);
        m_clock.restart();
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return Received() >= FileBytes; }, UnlimitedMs))
        << Received() << " bytes in " << m_clock.elapsed() << " ms";
    EXPECT_TRUE(m_bobFiles.Raw() == m_head + Pattern(FileBytes)) << "the song whole, from its first byte";
    // bob has it all and closes, as a downloader does.
    m_bobFiles.Close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Status() == transfer_status::Complete; }, 5000)) << Status().toStdString();
}
