#include <gtest/gtest.h>

#include <QString>

#include <string>

#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/ExtendedAsciiTranslator.h"
#include "store/ToQString.h"
#include "support/TestSupport.h"

namespace
{
// 0xE9 is e with acute accent in Latin-1, short i in windows-1251 and iota in ISO 8859-7.
const QString g_eAcute(QChar(0x00E9));
const QString g_shortI(QChar(0x0439));
const QString g_iota(QChar(0x03B9));

struct CodePageSchema
{
    CodePageSchema()
    {
        global = d.NewType("global", Primary, false, true);
        value = d.NewType("global_value", Leaf, false, false);
        global->RelateToType(value, Many, One, false);
    }
    ItemPtr Setting() const { return global->GetItem("extended_ascii_codepage"); }
    Type* global;
    Type* value;
};
} // namespace

TEST(CodePageTranslator, WithoutCodePageBytesAreLatin1)
{
    CodePageSchema l_schema;
    ExtendedAsciiTranslator l_translator;
    EXPECT_EQ(extendedAsciiTranslator, &l_translator);
    EXPECT_EQ(ToQString("\xE9"), g_eAcute);
    EXPECT_EQ(ToQString("\xC3\xA9"), g_eAcute);
    EXPECT_EQ(ToQString("plain ascii"), QStringLiteral("plain ascii"));
    EXPECT_EQ(ToQString(""), QString());
    EXPECT_EQ(l_translator.Translate(std::string("ab\xE9\0cd", 6)), QStringLiteral("ab") + g_eAcute);
}

TEST(CodePageTranslator, ChosenCodePageDecodesWhatIsNotUtf8)
{
    CodePageSchema l_schema;
    ExtendedAsciiTranslator l_translator;
    l_translator.SetCodePage("windows-1251");
    EXPECT_EQ(l_schema.Setting()["global_value"].AsStdString(), "windows-1251");
    EXPECT_EQ(ToQString("\xE9"), g_shortI);
    // UTF-8 stays UTF-8 and ASCII stays ASCII, whatever the code page.
    EXPECT_EQ(ToQString("\xC3\xA9"), g_eAcute);
    EXPECT_EQ(ToQString("plain ascii"), QStringLiteral("plain ascii"));
    // Bytes with a NUL inside are not text as a whole: only the part before it is decoded.
    EXPECT_EQ(ToQString(std::string("\xE9\xE9\0\xE9", 4)), g_shortI + g_shortI);
    EXPECT_EQ(ToQString(std::string("\0\xE9", 2)), QString());
}

TEST(CodePageTranslator, FollowsTheSetting)
{
    CodePageSchema l_schema;
    ExtendedAsciiTranslator l_translator;
    l_translator.SetCodePage("ISO-8859-7");
    EXPECT_EQ(ToQString("\xE9"), g_iota);
    l_translator.SetCodePage("windows-1251");
    EXPECT_EQ(ToQString("\xE9"), g_shortI);
    // Set by anyone else, as the options page or the store file does.
    l_schema.Setting() += l_schema.value->NewItem("ISO-8859-7");
    EXPECT_EQ(ToQString("\xE9"), g_iota);
    // Taking the value away alone changes nothing.
    l_schema.Setting().Disconnect("global_value");
    EXPECT_EQ(ToQString("\xE9"), g_iota);
    l_translator.SetCodePage("");
    EXPECT_EQ(ToQString("\xE9"), g_eAcute);
    l_translator.SetCodePage("no such code page");
    EXPECT_EQ(ToQString("\xE9"), g_eAcute);
}

TEST(CodePageTranslator, ValueBeforeTheTranslatorWaitsForTheNextOne)
{
    CodePageSchema l_schema;
    l_schema.Setting() += l_schema.value->NewItem("windows-1251");
    ExtendedAsciiTranslator l_translator;
    EXPECT_EQ(ToQString("\xE9"), g_eAcute);
    l_schema.Setting() += l_schema.value->NewItem("ISO-8859-7");
    EXPECT_EQ(ToQString("\xE9"), g_iota);
}

TEST(CodePageTranslator, StoredCodePageTakesEffectOnLoad)
{
    TemporaryFolder l_folder;
    CodePageSchema l_schema;
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
    l_schema.Setting() += l_schema.value->NewItem("");
    l_saver.Load(l_path);
    EXPECT_EQ(ToQString("\xE9"), g_shortI);
}

TEST(CodePageTranslator, GoneTranslatorLeavesLatin1)
{
    CodePageSchema l_schema;
    {
        ExtendedAsciiTranslator l_translator;
        l_translator.SetCodePage("windows-1251");
        EXPECT_EQ(ToQString("\xE9"), g_shortI);
    }
    EXPECT_EQ(extendedAsciiTranslator, nullptr);
    EXPECT_EQ(ToQString("\xE9"), g_eAcute);
    // Its subscription ends with it.
    l_schema.Setting() += l_schema.value->NewItem("ISO-8859-7");
    EXPECT_EQ(ToQString("\xE9"), g_eAcute);
}
