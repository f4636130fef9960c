#include "store/GeneralFunctions.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace
{
struct PathCase
{
    const char* path;
    const char* expected;
};

struct ReplaceCase
{
    const char* text;
    const char* from;
    const char* to;
    const char* expected;
};

struct TextCase
{
    QString input;
    QString expected;
};

template <class Function>
void CheckPaths(Function function, std::initializer_list<PathCase> cases)
{
    for (const PathCase& c : cases)
    {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(function(c.path), std::string(c.expected));
    }
}

template <class Function>
void CheckTexts(Function function, std::initializer_list<TextCase> cases)
{
    for (const TextCase& c : cases)
    {
        SCOPED_TRACE(c.input.toStdString());
        EXPECT_EQ(function(c.input), c.expected);
    }
}

QString Anchor(const QString& address)
{
    return QStringLiteral("<a href=\"%1\">%1</a>").arg(address);
}
} // namespace

TEST(PathFunctions, GetFileName)
{
    CheckPaths(GetFileName, {
                                {"a\\b\\c.mp3", "c.mp3"},
                                {"a\\b\\", "b"},
                                {"c.mp3", "c.mp3"},
                                {"", ""},
                                {"a/b/c", "c"},
                                {"a/b\\c", "c"},
                                {"a\\b/c", "c"},
                                {"c.mp3\\", "c.mp3"},
                                {"\\", ""},
                                {"a\\b\\\\", ""},
                            });
}

TEST(PathFunctions, GetFolder)
{
    CheckPaths(GetFolder, {
                              {"a\\b\\c.mp3", "a\\b"},
                              {"a/b/", "a"},
                              {"c", "c"},
                              {"", ""},
                              {"\\a", ""},
                              {"a/b\\c", "a/b"},
                              {"c\\", "c"},
                          });
}

TEST(PathFunctions, GetParentFolder)
{
    CheckPaths(GetParentFolder, {
                                    {"a\\b\\c\\\\", "a\\b"},
                                    {"\\\\\\", ""},
                                    {"", ""},
                                    {"a\\b\\c", "a\\b"},
                                    {"a\\b/", "a"},
                                    {"c", "c"},
                                });
}

TEST(PathFunctions, GetFileExtension)
{
    CheckPaths(GetFileExtension, {
                                     {"Song.MP3", "mp3"},
                                     {"a.b\\c", "b\\c"},
                                     {"noextension", ""},
                                     {"", ""},
                                     {"trailing.", ""},
                                     {"archive.tar.GZ", "gz"},
                                     // Bytes of other code pages pass untouched.
                                     {"f.\xC3\x89X", "\xC3\x89x"},
                                 });
}

TEST(PathFunctions, StringReplace)
{
    const ReplaceCase cases[] = {
        {"a/b/c", "/", "\\", "a\\b\\c"},
        {"aa", "a", "aa", "aaaa"},
        {"abcb", "b", "", "ac"},
        {"", "a", "b", ""},
        {"abc", "", "x", "abc"},
        {"xyxyx", "xyx", "-", "-yx"},
    };
    for (const ReplaceCase& c : cases)
    {
        SCOPED_TRACE(std::string(c.text) + " / " + c.from + " / " + c.to);
        EXPECT_EQ(StringReplace(c.text, c.from, c.to), std::string(c.expected));
    }
}

TEST(TextFunctions, EscapeHTML)
{
    CheckTexts(EscapeHTML, {
                               {"a<b>&c", "a&lt;b&gt;&amp;c"},
                               {"\"quoted\" 'single'", "\"quoted\" 'single'"},
                               {"&amp;", "&amp;amp;"},
                               {"", ""},
                               {QString::fromUtf8("caf\xC3\xA9 <3"), QString::fromUtf8("caf\xC3\xA9 &lt;3")},
                           });
}

TEST(TextFunctions, ConvertLinks)
{
    CheckTexts(
        ConvertLinks,
        {
            {"see http://example.com/a?b=1 now",
             "see " + Anchor("http://example.com/a?b=1") + " now"},
            {"https://x.org/path.", Anchor("https://x.org/path") + "."},
            {"(http://x.org/a), http://y.org!", "(" + Anchor("http://x.org/a") + "), " +
                                                    Anchor("http://y.org") + "!"},
            {"http://", "http://"},
            {"ftp://x.org javascript:alert(1) data:text/html,x",
             "ftp://x.org javascript:alert(1) data:text/html,x"},
            {"HTTP://X.ORG", "HTTP://X.ORG"},
            {"xhttp://x.org _http://x.org", "xhttp://x.org _http://x.org"},
            // Letters beyond ASCII are word characters too: no boundary before the scheme.
            {QString::fromUtf8("\xC3\xA9http://x.org"), QString::fromUtf8("\xC3\xA9http://x.org")},
            {"javascript:http://x.org", "javascript:" + Anchor("http://x.org")},
        });
}

TEST(TextFunctions, EscapedRemoteTextCannotInjectMarkupThroughLinks)
{
    const QString hostile = "http://a.com/\"onmouseover=\"alert(1)\"><script>x</script>";
    const QString shown = ConvertLinks(EscapeHTML(hostile));
    EXPECT_EQ(shown, Anchor("http://a.com/") +
                         "\"onmouseover=\"alert(1)\"&gt;&lt;script&gt;x&lt;/script&gt;");
    EXPECT_EQ(shown.count('<'), 2);
    EXPECT_EQ(shown.count('>'), 2);

    // Entities made by the escaping stay inside the address and the anchor.
    EXPECT_EQ(ConvertLinks(EscapeHTML("http://a.com/?x=1&y=<2>")),
              Anchor("http://a.com/?x=1&amp;y=&lt;2&gt") + ";");
}

TEST(TextFunctions, FindFirstOf)
{
    EXPECT_EQ(findFirstOf("a/b\\c", "/\\", 2), 3);
    EXPECT_EQ(findFirstOf("a/b\\c", "/\\", 0), 1);
    EXPECT_EQ(findFirstOf("a/b\\c", "/\\", 1), 1);
    EXPECT_EQ(findFirstOf("a/b\\c", "/\\", 4), -1);
    EXPECT_EQ(findFirstOf("a/b\\c", "/\\", 99), -1);
    EXPECT_EQ(findFirstOf("a/b\\c", "/\\", -3), 1);
    EXPECT_EQ(findFirstOf("a/b\\c", "", 0), -1);
    EXPECT_EQ(findFirstOf("ABC", "b", 0), -1);
    EXPECT_EQ(findFirstOf("", "a", 0), -1);
}

TEST(TextFunctions, ReversePathname)
{
    CheckTexts(ReversePathname, {
                                    {"music\\rock\\\\album\\", "album/rock/music"},
                                    {"", ""},
                                    {"a", "a"},
                                    {"/a/b/", "b/a"},
                                    {"\\\\", ""},
                                    {"a/b\\c", "c/b/a"},
                                });
}

TEST(TextFunctions, GetAbsoluteFileName)
{
    CheckTexts(GetAbsoluteFileName, {
                                        {"/Home/U/Music/", "/home/u/music"},
                                        {"", ""},
                                        {"C:\\Dir\\", "c:\\dir"},
                                        {"/a//", "/a/"},
                                        {"//X//y", "//x//y"},
                                        {"/", ""},
                                    });
}

TEST(TextFunctions, CommafyNumber)
{
    const struct
    {
        long long n;
        const char* expected;
    } cases[] = {
        {1234567, "1,234,567"}, {999, "999"},         {1000, "1,000"}, {0, ""},
        {1, "1"},               {100000, "100,000"}, {-5, ""},        {LLONG_MIN, ""},
        {LLONG_MAX, "9,223,372,036,854,775,807"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.n);
        EXPECT_EQ(CommafyNumber(c.n), QString(c.expected));
    }
}

TEST(TextFunctions, FormatSeconds)
{
    const struct
    {
        long seconds;
        const char* expected;
    } cases[] = {
        {59, "0m59s"},          {3725, "1h2m5s"},     {86400, "1d0h0m0s"},
        {90061, "1d1h1m1s"},    {0, "0m0s"},          {60, "1m0s"},
        {3600, "1h0m0s"},       {172805, "2d0h0m5s"}, {-3725, "-1h2m5s"},
        {-59, "-0m59s"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(FormatSeconds(c.seconds), QString(c.expected));
    }
    const QString extreme = FormatSeconds(LONG_MIN);
    EXPECT_TRUE(extreme.startsWith('-'));
    EXPECT_EQ(extreme.count('-'), 1);
    EXPECT_TRUE(extreme.endsWith('s'));
}

TEST(BitFunctions, GetBit)
{
    const struct
    {
        unsigned int word;
        int n;
        bool expected;
    } cases[] = {
        {5, 1, true},           {5, 2, false},          {5, 3, true},
        {0x80000000u, 32, true}, {0x7FFFFFFFu, 32, false}, {0xFFFFFFFFu, 0, false},
        {0xFFFFFFFFu, 33, false}, {0xFFFFFFFFu, -1, false}, {0xFFFFFFFFu, INT_MIN, false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::to_string(c.word) + " bit " + std::to_string(c.n));
        EXPECT_EQ(GetBit(c.word, c.n), c.expected);
    }
}
