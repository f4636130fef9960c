#include "resources/Resources.h"

#include "ShellFixture.h"

// Every icon name the views ask for, including the one written without the slash, and the flags
// by lower-case country code.
TEST(Resources, IconsAndFlagsLoadAsSixteenPixelImages)
{
    InitResources();
    for (const char* l_name :
         {"add_user", "alert", "away", "back", "browse", "chat", "download", "downloads", "empty_note",
          "forward", "info", "note", "offline", "online", "pause", "remove_user", "room", "search",
          "stop", "transfer", "upload", "users", "wishlist"})
        EXPECT_EQ(QPixmap(QString(":/icons/%1_icon").arg(l_name)).size(), QSize(16, 16)) << l_name;
    EXPECT_EQ(QPixmap(":icons/online_icon").size(), QSize(16, 16));
    for (const char* l_code : {"de", "br"})
        EXPECT_EQ(QPixmap(QString(":/resources/flags/%1.png").arg(l_code)).width(), 16) << l_code;
    EXPECT_TRUE(QPixmap(":/resources/flags/DE.png").isNull());
}
