#include "UsersFixture.h"
#include "transfers/TransferQueueManager.h"
#include "views/chat/UserInfoForm.h"

namespace
{
// The user list answering and asking for user information, with bob connected from 127.0.0.1.
class UserInfoTest : public UsersFixture
{
protected:
    void SetUp() override
    {
        UsersFixture::SetUp();
        mp_users->DataLoaded();
        SetSetting("upload_slots", "1");
        ConnectBob();
    }
    // Bob asks with the settings given ("key=value"); the answer is the next frame he receives.
    QByteArray Answer(const QStringList& i_settings = {})
    {
        for (const QString& l_setting : i_settings)
            SetSetting(l_setting.section('=', 0, 0).toUtf8().constData(), l_setting.section('=', 1));
        mp_bob->SendFrame(Word(15));
        EXPECT_TRUE(mp_bob->WaitForBodies(++m_answers));
        return mp_bob->Bodies().value(m_answers - 1);
    }
    int m_answers = 0;
    QString PictureFile(const QByteArray& i_bytes, const std::string& i_name = "picture")
    {
        const QString l_path = QString::fromStdString(m_home.File(i_name));
        QFile l_file(l_path);
        EXPECT_TRUE(l_file.open(QIODevice::WriteOnly) && l_file.write(i_bytes) == i_bytes.size());
        return l_path;
    }
    // Bob's answer as the messenger hands it on once read.
    void Reply(const QString& i_description, bool i_hasPicture = false, const QByteArray& i_picture = {})
    {
        emit mp_messenger->UserInfoReceived("bob", i_description, i_hasPicture, i_picture, 2, 5, true);
    }
    static QByteArray Png(int i_width, int i_height)
    {
        QByteArray l_bytes;
        QBuffer l_buffer(&l_bytes);
        QImage(i_width, i_height, QImage::Format_Mono).save(&l_buffer, "PNG");
        return l_bytes;
    }
    static QTextBrowser* Text(UserInfoForm* ip_form) { return ip_form->findChild<QTextBrowser*>(); }
};

TEST_F(UserInfoTest, TheAnswerCarriesTheDescriptionThePictureThatFitsAndTheQueue)
{
    const QByteArray l_tail = WireFields().Int32(1).Int32(0).Byte(1);
    const QByteArray l_none = Word(16) + WireFields().UInt32(0).Byte(0).Raw(l_tail).Bytes();
    const qint64 l_fitting = PeerMessenger::MaxFrameLength - l_none.size() - 4;
    const std::tuple<const char*, QStringList, QByteArray> l_rows[] = {
        {"nothing set", {}, l_none},
        {"description and picture",
         {"user_description=hé\nthere", "user_picture_file=" + PictureFile("\x89PNGxyz"), "upload_slots=0"},
         Word(16) + WireFields().Text("hé\nthere").Byte(1).Int32(7).Raw("\x89PNGxyz").Int32(0).Int32(0).Byte(0)
                        .Bytes()},
        {"missing file", {"user_picture_file=/nonexistent/picture.png"},
         Word(16) + WireFields().Text("hé\nthere").Byte(0).Int32(0).Int32(0).Byte(0).Bytes()},
        {"one byte too large to fit a frame",
         {"user_description=", "upload_slots=1",
          "user_picture_file=" + PictureFile(QByteArray(l_fitting + 1, 'p'), "large")},
         l_none}};
    for (const auto& [l_name, l_settings, l_body] : l_rows)
        EXPECT_EQ(Answer(l_settings).toHex(), l_body.toHex()) << l_name;
    // A picture that just fits goes whole.
    const QByteArray l_full = Answer({"user_picture_file=" + PictureFile(QByteArray(l_fitting, 'p'), "fitting")});
    EXPECT_EQ(l_full.size(), PeerMessenger::MaxFrameLength);
    EXPECT_EQ(l_full.mid(8, 5), WireFields().Byte(1).Int32(static_cast<qint32>(l_fitting)).Bytes());

    // The queue's figures come from the transfer queues: two waiting, the one slot taken.
    DeclareSharedFileTypes();
    TransferQueueManager l_queues;
    for (const char* l_status : {"queued", "uploading", "queued"})
        d.GetType("upload_entry")->NewItem() += d.GetType("upload_entry_status")->GetItem(l_status);
    EXPECT_EQ(Answer({"user_picture_file="}).right(9).toHex(), WireFields().Int32(1).Int32(2).Byte(0).Bytes().toHex());
}

TEST_F(UserInfoTest, AnswersShowTheTextLiterallyAndPicturesThatDecodeWithinBounds)
{
    UserInfoForm* lp_form = mp_users->GetUserInfoForm("bob");
    emit mp_messenger->UserInfoReceived("Bob", "another user's", false, {}, 0, 0, false);
    // What bob describes himself with and his picture, if any, then the text and picture shown.
    const std::tuple<const char*, QString, bool, QByteArray, QString, QSize> l_rows[] = {
        {"a picture claiming 100000 pixels", "", true, Png(100000, 1), "Requesting...", {0, 0}},
        {"an empty picture", "words", true, "", "Requesting...", {0, 0}},
        {"nothing", "", false, "", "No user info.", {0, 0}},
        {"markup and a line break", "<b>x</b> &amp;\nsecond", false, "", "<b>x</b> &amp;\nsecond", {0, 0}},
        {"a wide picture", "", true, Png(1600, 400), "\n", {800, 200}},
        {"a small picture", "me", true, Png(300, 200), "\nme", {300, 200}},
    };
    for (const auto& [l_name, l_description, l_hasPicture, l_picture, l_text, l_image] : l_rows)
    {
        SCOPED_TRACE(l_name);
        Reply(l_description, l_hasPicture, l_picture);
        QTextDocument* lp_shown = Text(lp_form)->document();
        EXPECT_EQ(lp_shown->toPlainText().remove(QChar(0xfffc)), l_text);
        EXPECT_EQ(lp_shown->resource(QTextDocument::ImageResource, QUrl("UserImage")).value<QImage>().size(), l_image);
        EXPECT_EQ(lp_shown->toHtml().contains("src=\"UserImage\""), !l_image.isEmpty());
    }
    QString l_queue;
    for (const char* l_field : {"uploadSlotsEdit", "freeToUploadEdit", "queuedUploadsEdit"})
        l_queue += Child<QLineEdit>(lp_form, l_field)->text();
    EXPECT_EQ(l_queue, "2Yes5");
    EXPECT_EQ(ActionTexts(mp_events->actions()), (QStringList{"bob", "bob", "bob", "bob"}));
}

TEST_F(UserInfoTest, OneTabPerUserAndOnlyAMessagingFailureShows)
{
    mp_pages->setCurrentIndex(2);
    UserInfoForm* lp_form = mp_users->GetUserInfoForm("bob");
    ASSERT_TRUE(mp_bob->WaitForBodies(1));
    const auto l_fail = [&](const char* i_user, const char* i_type) {
        emit mp_messenger->ConnectionToUserFailed(i_user, i_type);
        return Text(lp_form)->toPlainText() + " | " + ActionTexts(mp_events->actions()).join(", ");
    };
    EXPECT_EQ(l_fail("bob", "F"), "Requesting... | ");
    EXPECT_EQ(l_fail("Bob", "P"), "Requesting... | ");
    EXPECT_EQ(l_fail("bob", "P"), "A connection could not be successfully formed to the user. | bob");
    Reply("later");
    EXPECT_EQ(l_fail("bob", "P"), "later | bob, bob");

    mp_users->GetUserInfoForm("b&o");
    EXPECT_EQ(TabTexts(mp_users->UserInfoTabs()), (QStringList{"bob info *", "b&&o info"}));
    mp_users->OnUserInfoTabCloseRequested(0);
    EXPECT_EQ(TabTexts(mp_users->UserInfoTabs()), QStringList{"b&&o info *"});
    EXPECT_EQ(Count("user_info_form"), 1u);
    // Reopened, the tab asks again: the second request bob sees.
    UserInfoForm* lp_again = mp_users->GetUserInfoForm("bob");
    ASSERT_TRUE(mp_bob->WaitForBodies(2));
    EXPECT_EQ(mp_bob->Bodies(), (QList<QByteArray>{Word(15), Word(15)}));
    EXPECT_EQ(Text(lp_again)->toPlainText(), "Requesting...");
}
} // namespace
