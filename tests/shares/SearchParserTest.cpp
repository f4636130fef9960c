#include <gtest/gtest.h>

#include <QStringList>

#include "shares/SearchParser.h"

namespace
{
QStringList List(const SearchParser::TokenSet& i_set) { return {i_set.begin(), i_set.end()}; }
} // namespace

// The three sets a text gives and, for a valid text, whether a name matches them.
TEST(SearchParser, SplitsTextIntoThreeSetsAndMatchesNamesAgainstEach)
{
    const struct { const char* text; bool valid; QStringList included, partial, excluded; const char* name = nullptr; bool match = false; } l_cases[] = {
        {" \t ", false, {}, {}, {}},
        {"-live", false, {}, {}, {"live"}},
        {"*eat", true, {}, {"eat"}, {}, "\\Music\\The BEATLES\\Help.mp3", true},
        {"Beatles\tLIVE live ", true, {"beatles", "live"}, {}, {}, "\\Music\\Beatles\\Help.mp3", false},
        {"beatles *", false, {"beatles"}, {}, {}},
        {"beatles - live", false, {"beatles"}, {}, {}},
        {"\"Let It Be\" -live", true, {"let it be"}, {}, {"live"}, "01 - Let-It-Be.ogg", false},
        {"\"Let It Be", true, {"let it be"}, {}, {}, "Let It Be.ogg", true},
        {"-\"Live At\" *\"a b\"x", true, {"x"}, {"a b"}, {"live at"}, "x ab live.mp3", false},
        {"\"abc\"de\"f", false, {"abc"}, {}, {}},
        {"beatles\"", false, {}, {}, {}},
        {"x \"\"", false, {"x"}, {}, {}},
        {"a --b -*c", true, {"a"}, {}, {"*c", "-b"}, "a -b.mp3", false},
        {"ÄRGER *ÉTÉ", true, {"ärger"}, {"été"}, {}, "ärger\\Été.flac", true},
    };
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.text);
        SearchParser l_parser;
        EXPECT_EQ(l_parser.SetSearchText(QString::fromUtf8(l_case.text)), l_case.valid);
        EXPECT_EQ(List(l_parser.GetIncludedTokenSet()), l_case.included);
        EXPECT_EQ(List(l_parser.GetIncludedPartTokenSet()), l_case.partial);
        EXPECT_EQ(List(l_parser.GetExcludedTokenSet()), l_case.excluded);
        EXPECT_EQ(l_case.name && l_parser.IsMatch(QString::fromUtf8(l_case.name)), l_case.match);
    }
}

// Other users' texts are matched against every shared file, so their size is bounded; one's
// own text is not.
TEST(SearchParser, BoundsRemoteTextsOnly)
{
    QStringList l_words;
    for (int n = 0; n < SearchParser::MaxRemoteTokenCount - 2; ++n)
        l_words << QString("w%1").arg(n);
    const QString l_full = l_words.join(' ') + " w0 -x *y -x";
    SearchParser l_atLimit, l_over, l_long, l_tooLong, l_own;
    EXPECT_TRUE(l_atLimit.SetRemoteSearchText(l_full));
    EXPECT_FALSE(l_over.SetRemoteSearchText(l_full + " -z"));
    EXPECT_EQ(List(l_over.GetExcludedTokenSet()), QStringList{"x"});
    const QString l_longest = QString(SearchParser::MaxRemoteTextLength - 2, QChar('a')) + " b";
    EXPECT_TRUE(l_long.SetRemoteSearchText(l_longest));
    EXPECT_FALSE(l_tooLong.SetRemoteSearchText(l_longest + " "));
    EXPECT_TRUE(l_tooLong.GetIncludedTokenSet().empty());
    EXPECT_TRUE(l_own.SetSearchText(l_full + " -z " + l_longest));
    EXPECT_EQ(l_own.GetExcludedTokenSet().size(), 2u);
}
