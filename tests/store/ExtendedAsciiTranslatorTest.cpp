#include <QVector>

#include "StoreTesting.h"
#include "store/ExtendedAsciiTranslator.h"
#include "store/ToQString.h"

namespace
{
// 0xE9 is e with acute accent in Latin-1, short i in windows-1251 and iota in ISO 8859-7.
const QString g_eAcute(QChar(0x00E9)), g_shortI(QChar(0x0439)), g_iota(QChar(0x03B9));
} // namespace

using CodePageTranslator = SchemaTest;

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

TEST_F(CodePageTranslator, DecodesWhatIsNotUtf8WithTheSettingWhileItLives)
{
    const auto l_setCodePage = [&](const char* ip_name) { global->GetItem("extended_ascii_codepage") += value->GetItem(ip_name); };
    l_setCodePage("windows-1251");
    {
        ExtendedAsciiTranslator l_translator;
        EXPECT_EQ(extendedAsciiTranslator, &l_translator);
        EXPECT_EQ(ToQString("\xE9"), g_eAcute) << "a value set before it waits for the next";
        EXPECT_EQ(l_translator.Translate(std::string("ab\xE9\0cd", 6)), QStringLiteral("ab") + g_eAcute);
        l_setCodePage("ISO-8859-7");
        EXPECT_EQ(ToQString("\xE9"), g_iota) << "set by anyone, as the options page does";
        l_translator.SetCodePage("windows-1251");
        EXPECT_EQ(global->GetItem("extended_ascii_codepage")["global_value"].AsStdString(), "windows-1251");
        // UTF-8 stays UTF-8 and ASCII stays ASCII, whatever the code page; with a NUL inside,
        // only the part before it is decoded.
        EXPECT_EQ(ToQString("\xE9") + ToQString("\xC3\xA9") + ToQString("ascii") + ToQString(std::string("\xE9\xE9\0\xE9", 4)) +
                      ToQString(std::string("\0\xE9", 2)), g_shortI + g_eAcute + "ascii" + g_shortI + g_shortI);
        global->GetItem("extended_ascii_codepage").Disconnect("global_value");
        EXPECT_EQ(ToQString("\xE9"), g_shortI) << "taking the value away alone changes nothing";
        l_translator.SetCodePage("");
        EXPECT_EQ(ToQString("\xE9"), g_eAcute);
        l_translator.SetCodePage("ISO-8859-7");
        l_translator.SetCodePage("no such code page");
        EXPECT_EQ(ToQString("\xE9"), g_eAcute);
        l_translator.SetCodePage("windows-1251");
    }
    EXPECT_EQ(extendedAsciiTranslator, nullptr);
    EXPECT_EQ(ToQString("\xE9"), g_eAcute) << "a gone translator leaves Latin-1";
    l_setCodePage("ISO-8859-7");
    EXPECT_EQ(ToQString("\xE9"), g_eAcute) << "its subscription ends with it";
}
