#include "resources/Resources.h"

#include <QPixmap>
#include <QSize>
#include <gtest/gtest.h>

// Every icon name the views ask for, including the one written without the slash.
class IconNames : public ::testing::TestWithParam<const char*>
{
};

TEST_P(IconNames, LoadsASixteenPixelImage)
{
    InitResources();
    const QPixmap l_icon(GetParam());
    ASSERT_FALSE(l_icon.isNull());
    EXPECT_EQ(l_icon.size(), QSize(16, 16));
}

INSTANTIATE_TEST_SUITE_P(
    Resources, IconNames,
    ::testing::Values(
        ":/icons/add_user_icon", ":/icons/alert_icon", ":/icons/away_icon", ":/icons/back_icon",
        ":/icons/browse_icon", ":/icons/chat_icon", ":/icons/download_icon",
        ":/icons/downloads_icon", ":/icons/empty_note_icon", ":/icons/forward_icon",
        ":/icons/info_icon", ":/icons/note_icon", ":/icons/offline_icon", ":/icons/online_icon",
        ":/icons/pause_icon", ":/icons/remove_user_icon", ":/icons/room_icon",
        ":/icons/search_icon", ":/icons/stop_icon", ":/icons/transfer_icon", ":/icons/upload_icon",
        ":/icons/users_icon", ":/icons/wishlist_icon", ":icons/online_icon"));

TEST(Flags, LoadByLowerCaseCountryCode)
{
    InitResources();
    for (const char* l_code : {"de", "br"})
        EXPECT_EQ(QPixmap(QString(":/resources/flags/%1.png").arg(l_code)).width(), 16) << l_code;
    EXPECT_TRUE(QPixmap(":/resources/flags/DE.png").isNull());
}
