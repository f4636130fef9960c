#include "store/GeneralFunctions.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>
#include <utility>

namespace
{
std::string Show(const QString& text) { return text.toStdString(); }
template <class T>
std::string Show(const T& value) { return ::testing::PrintToString(value); }

template <class Function, class In, class Out>
void Check(const char* name, Function function, std::initializer_list<std::pair<In, Out>> cases)
{
    for (const auto& [input, expected] : cases)
    {
        SCOPED_TRACE(::testing::Message() << name << "(" << Show(input) << ")");
        EXPECT_EQ(function(input), expected);
    }
}

using Strings = std::initializer_list<std::pair<const char*, std::string>>;
using Texts = std::initializer_list<std::pair<QString, QString>>;

QString Anchor(const QString& address) { return QStringLiteral("<a href=\"%1\">%1</a>").arg(address); }
} // namespace

TEST(PathFunctions, SplitOnEitherSlash)
{
    Check("GetFileName", GetFileName,
          Strings{{"a/b\\c.mp3", "c.mp3"}, {"a\\b/", "b"}, {"c.mp3", "c.mp3"}, {"", ""}, {"a\\b\\\\", ""}});
    Check("GetFolder", GetFolder, Strings{{"a/b\\c", "a/b"}, {"a/b/", "a"}, {"c", "c"}, {"", ""}, {"\\a", ""}});
    Check("GetParentFolder", GetParentFolder,
          Strings{{"a\\b\\c\\\\", "a\\b"}, {"\\\\\\", ""}, {"a\\b/", "a"}, {"c", "c"}});
    // Bytes of other code pages pass untouched.
    Check("GetFileExtension", GetFileExtension,
          Strings{{"a.b\\c", "b\\c"}, {"noextension", ""}, {"trailing.", ""}, {"archive.tar.GZ", "gz"},
                  {"f.\xC3\x89X", "\xC3\x89x"}});
}

TEST(PathFunctions, StringReplace)
{
    const char* const cases[][4] = {
        {"aa", "a", "aa", "aaaa"}, {"abcb", "b", "", "ac"}, {"abc", "", "x", "abc"}, {"xyxyx", "xyx", "-", "-yx"}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::string(c[0]) + " / " + c[1] + " / " + c[2]);
        EXPECT_EQ(StringReplace(c[0], c[1], c[2]), c[3]);
    }
}

TEST(TextFunctions, EscapeAndLinkRemoteText)
{
    Check("EscapeHTML", EscapeHTML,
          Texts{{"a<b>&c", "a&lt;b&gt;&amp;c"}, {"&amp;", "&amp;amp;"}});
    Check("ConvertLinks", ConvertLinks,
          Texts{{"see http://example.com/a?b=1 now", "see " + Anchor("http://example.com/a?b=1") + " now"},
                {"https://x.org/path.", Anchor("https://x.org/path") + "."},
                {"(http://x.org/a), http://y.org!",
                 "(" + Anchor("http://x.org/a") + "), " + Anchor("http://y.org") + "!"},
                {"http://", "http://"},
                {"ftp://x.org javascript:alert(1) HTTP://X.ORG", "ftp://x.org javascript:alert(1) HTTP://X.ORG"},
                {"xhttp://x.org _http://x.org", "xhttp://x.org _http://x.org"},
                // Letters beyond ASCII are word characters too: no boundary before the scheme.
                {QString::fromUtf8("\xC3\xA9http://x.org"), QString::fromUtf8("\xC3\xA9http://x.org")},
                {"javascript:http://x.org", "javascript:" + Anchor("http://x.org")}});

    // Escaped first, remote text cannot inject markup through a link; the entities the escaping
    // makes stay inside the address and the anchor.
    const QString shown = ConvertLinks(EscapeHTML("http://a.com/\"onmouseover=\"alert(1)\"><script>x</script>"));
    EXPECT_EQ(shown, Anchor("http://a.com/") + "\"onmouseover=\"alert(1)\"&gt;&lt;script&gt;x&lt;/script&gt;");
    EXPECT_EQ(ConvertLinks(EscapeHTML("http://a.com/?x=1&y=<2>")), Anchor("http://a.com/?x=1&amp;y=&lt;2&gt") + ";");
}

TEST(TextFunctions, Pathnames)
{
    const std::tuple<const char*, const char*, int, int> finds[] = {
        {"a/b\\c", "/\\", 2, 3}, {"a/b\\c", "/\\", 1, 1}, {"a/b\\c", "/\\", 4, -1}, {"a/b\\c", "/\\", 99, -1},
        {"a/b\\c", "/\\", -3, 1}, {"a/b\\c", "", 0, -1}, {"ABC", "b", 0, -1}};
    for (const auto& [text, chars, from, expected] : finds)
        EXPECT_EQ(findFirstOf(text, chars, from), expected) << text << " " << chars << " from " << from;

    Check("ReversePathname", ReversePathname,
          Texts{{"music\\rock\\\\album\\", "album/rock/music"}, {"a", "a"}, {"/a/b/", "b/a"}, {"\\\\", ""}});
    Check("GetAbsoluteFileName", GetAbsoluteFileName,
          Texts{{"/Home/U/Music/", "/home/u/music"}, {"", ""}, {"C:\\Dir\\", "c:\\dir"}, {"/a//", "/a/"}, {"/", ""}});
}

TEST(TextFunctions, Numbers)
{
    Check("CommafyNumber", CommafyNumber,
          std::initializer_list<std::pair<long long, QString>>{
              {999, "999"}, {1000, "1,000"}, {100000, "100,000"}, {0, ""}, {1, "1"}, {LLONG_MIN, ""},
              {LLONG_MAX, "9,223,372,036,854,775,807"}});
    Check("FormatSeconds", FormatSeconds,
          std::initializer_list<std::pair<long, QString>>{
              {59, "0m59s"}, {60, "1m0s"}, {3600, "1h0m0s"}, {86400, "1d0h0m0s"}, {90061, "1d1h1m1s"},
              {-3725, "-1h2m5s"}});
    const QString extreme = FormatSeconds(LONG_MIN);
    EXPECT_TRUE(extreme.startsWith('-') && extreme.endsWith('s')) << extreme.toStdString();
    EXPECT_EQ(extreme.count('-'), 1);
}

TEST(BitFunctions, GetBit)
{
    const std::tuple<unsigned int, int, bool> cases[] = {
        {5, 1, true}, {5, 2, false}, {0x80000000u, 32, true}, {0x7FFFFFFFu, 32, false},
        {0xFFFFFFFFu, 0, false}, {0xFFFFFFFFu, 33, false}, {0xFFFFFFFFu, INT_MIN, false}};
    for (const auto& [word, n, expected] : cases)
        EXPECT_EQ(GetBit(word, n), expected) << word << " bit " << n;
}
