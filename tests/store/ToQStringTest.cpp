#include <gtest/gtest.h>

#include <QVector>

#include <string>

#include "store/ToQString.h"

TEST(StoreToQString, StrictUtf8IsUtf8AndAnythingElseLatin1UpToTheFirstNul)
{
    EXPECT_EQ(ToQString("\xC3\xA9"), QString(QChar(0xE9)));
    EXPECT_EQ(ToQString("\xF0\x9F\x98\x80").toUcs4(), QVector<uint>{0x1F600u});
    // A lone Latin-1 byte, a truncated sequence, an overlong form, an encoded surrogate.
    EXPECT_EQ(ToQString("caf\xE9"), QStringLiteral("caf") + QChar(0xE9));
    EXPECT_EQ(ToQString("\xC3"), QString(QChar(0xC3)));
    EXPECT_EQ(ToQString("\xC0\xAF"), QString(QChar(0xC0)) + QChar(0xAF));
    EXPECT_EQ(ToQString("\xED\xA0\x80").size(), 3);
    // A NUL inside makes the bytes non-text: the part before it, byte by byte.
    EXPECT_EQ(ToQString(std::string("\xC3\xA9\0x", 4)), QString(QChar(0xC3)) + QChar(0xA9));
    EXPECT_EQ(ToQString(std::string("\0abc", 4)), QString());
}
