#include <gtest/gtest.h>

#include <QString>

#include "StoreTesting.h"
#include "store/DataSaver.h"
#include "store/ExtendedAsciiTranslator.h"
#include "store/ToQString.h"

using namespace store_testing;

namespace
{
// 0xE9 is e with acute accent in Latin-1, short i in windows-1251 and iota in ISO 8859-7.
const QString g_eAcute(QChar(0x00E9));
const QString g_shortI(QChar(0x0439));
const QString g_iota(QChar(0x03B9));

void SetCodePage(const Schema& i_schema, const char* ip_name)
{
    i_schema.global->GetItem("extended_ascii_codepage") += i_schema.value->NewItem(ip_name);
}
} // namespace

TEST(CodePageTranslator, ChosenCodePageDecodesWhatIsNotUtf8)
{
    Schema l_schema(false);
    ExtendedAsciiTranslator l_translator;
    EXPECT_EQ(extendedAsciiTranslator, &l_translator);
    EXPECT_EQ(ToQString("\xE9"), g_eAcute) << "Latin-1 without a code page";
    EXPECT_EQ(l_translator.Translate(std::string("ab\xE9\0cd", 6)),
              QStringLiteral("ab") + g_eAcute);

    l_translator.SetCodePage("windows-1251");
    EXPECT_EQ(l_schema.global->GetItem("extended_ascii_codepage")["global_value"].AsStdString(),
              "windows-1251");
    // UTF-8 stays UTF-8 and ASCII stays ASCII, whatever the code page; with a NUL inside, only
    // the part before it is decoded.
    EXPECT_EQ(ToQString("\xE9") + ToQString("\xC3\xA9") + ToQString("ascii") + ToQString(std::string("\xE9\xE9\0\xE9", 4)) +
                  ToQString(std::string("\0\xE9", 2)), g_shortI + g_eAcute + "ascii" + g_shortI + g_shortI);
}

TEST(CodePageTranslator, FollowsTheSettingWhileItLives)
{
    Schema l_schema(false);
    SetCodePage(l_schema, "windows-1251");
    {
        ExtendedAsciiTranslator l_translator;
        EXPECT_EQ(ToQString("\xE9"), g_eAcute) << "a value set before it waits for the next";
        SetCodePage(l_schema, "ISO-8859-7");
        EXPECT_EQ(ToQString("\xE9"), g_iota) << "set by anyone, as the options page does";
        l_translator.SetCodePage("windows-1251");
        EXPECT_EQ(ToQString("\xE9"), g_shortI);
        l_schema.global->GetItem("extended_ascii_codepage").Disconnect("global_value");
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
    SetCodePage(l_schema, "ISO-8859-7");
    EXPECT_EQ(ToQString("\xE9"), g_eAcute) << "its subscription ends with it";
}

TEST(CodePageTranslator, StoredCodePageTakesEffectOnLoad)
{
    TemporaryFolder l_folder;
    Schema l_schema(false);
    ExtendedAsciiTranslator l_translator;
    DataSaver l_saver;
    l_saver.AddSavedType("global");
    l_saver.AddSavedByConnectionType("global_value", "global");
    l_translator.SetCodePage("windows-1251");
    const QString l_path = QString::fromStdString(l_folder.File("store"));
    l_saver.Save(l_path);

    l_translator.SetCodePage("");
    d.RemoveAllItems();
    EXPECT_EQ(ToQString("\xE9"), g_eAcute);
    // The shell writes the default before loading; the stored choice replaces it.
    SetCodePage(l_schema, "");
    l_saver.Load(l_path);
    EXPECT_EQ(ToQString("\xE9"), g_shortI);
}
