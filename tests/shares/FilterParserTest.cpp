#include <gtest/gtest.h>

#include <QStringList>

#include "shares/FilterParser.h"
#include "store/Data.h"
#include "store/SchemaDeclaration.h"

namespace
{
// A search result with the attributes "mode/bitrate/size" gives, empty pieces left out; no
// text at all stands for no item.
ItemPtr ResultItem(const char* i_attributes)
{
    const char* const l_types[] = {"bitrate_mode", "bitrate", "file_size"};
    if (!d.HasType("search_result"))
    {
        DeclareTypes({{"search_result", Intermediate, true}, {l_types[0], Leaf, false}, {l_types[1], Leaf, false},
                      {l_types[2], Leaf, false}});
        for (const char* l_type : l_types)
            DeclareRelations({{"search_result", l_type, Many, One}});
    }
    if (!i_attributes)
        return ItemPtr();
    ItemPtr l_item = d.GetType("search_result")->NewItem();
    const QStringList l_values = QString(i_attributes).split('/');
    for (int l_field = 0; l_field < l_values.size(); ++l_field)
        if (!l_values[l_field].isEmpty())
            l_item += d.GetType(l_types[l_field])->GetItem(Value(l_values[l_field]));
    return l_item;
}
} // namespace

TEST(FilterParser, ParsesAndMatchesTextAndAttributes)
{
    // "|" separates two calls of Parse.
    const struct { const char *filter, *text, *item; int result; bool hasAttributes; int minFiles; } l_cases[] = {
        {"", "anything", "cbr//", 0, false, 0},
        {"-live", "Live at Leeds", nullptr, 2, false, 0},
        {"- beatles", "The BEATLES", nullptr, 0, false, 0},
        {"beatles -live", "Live at Leeds", nullptr, 2, false, 0},
        {"beatles abbey", "The Beatles", nullptr, 1, false, 0},
        {"beatles\tabbey", "beatles abbey", nullptr, 1, false, 0},
        {"IsVBR", "isvbr.mp3", "cbr//", 0, false, 0},
        {"isvbr", "x", "cbr//", 2, true, 0},
        {"isvbr", "x", nullptr, 0, true, 0},
        {"iscbr", "x", "vbr//", 2, true, 0},
        {"isvbr iscbr", "x", "vbr//", 2, true, 0},
        {"mbr:192", "x", "", 2, true, 0},
        {"mbr:192", "x", "/191/", 2, true, 0},
        {"minbitrate:192", "x", "/192/", 0, true, 0},
        {"mbr:0", "x", "", 0, true, 0},
        {"mbr:320 mbr:128", "x", "/128/", 0, true, 0},
        {"mbr:192 beatles", "The Beatles", "/128/", 2, true, 0},
        {"mfs:5", "x", "//4999999", 2, true, 0},
        {"minfilesize:5", "x", "//5000000", 0, true, 0},
        {"minfilesize:abc", "x", "", 0, true, 0},
        {"mfs:99999999999999", "x", "//9000000000000000000", 2, true, 0},
        {"mfs:99999999999999", "x", "//9223372036854775807", 0, true, 0},
        {"mfs:-99999999999999", "x", "//0", 0, true, 0},
        {"mfif:3", "x", nullptr, 0, false, 3},
        {"minfilesinfolder:7 mfif:x", "x", nullptr, 0, false, 0},
        {"beatles|-live mfif:2", "Beatles Live", nullptr, 2, false, 2},
    };
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(std::string(l_case.filter) + " / " + (l_case.item ? l_case.item : "no item"));
        FilterParser l_filter;
        for (const QString& l_part : QString(l_case.filter).split('|'))
            l_filter.Parse(l_part);
        EXPECT_EQ(l_filter.IsMatching(l_case.text, nullptr, ResultItem(l_case.item)), l_case.result);
        EXPECT_EQ(l_filter.HasAttributes(), l_case.hasAttributes);
        EXPECT_EQ(l_filter.MinFilesInFolder(), l_case.minFiles);
    }
}

// A folder is matched first; each of its files then needs only what the folder lacked.
TEST(FilterParser, HandsTheRestOfAFolderMatchToItsFiles)
{
    FilterParser l_filter, l_rest;
    l_filter.Parse("beatles abbey -live mbr:192 mfif:2");
    EXPECT_EQ(l_filter.IsMatching("Music\\The Beatles", &l_rest, ItemPtr()), 1);
    EXPECT_TRUE(l_rest.HasAttributes());
    EXPECT_EQ(l_rest.MinFilesInFolder(), 2);
    const struct { const char* file; const char* item; int result; } l_files[] = {
        {"Abbey Road.mp3", "/256/", 0}, {"Abbey Road.mp3", "/128/", 2}, {"Abbey Road (Live).mp3", "/256/", 2},
        {"Help.mp3", "/256/", 1}};
    for (const auto& l_file : l_files)
        EXPECT_EQ(l_rest.IsMatching(l_file.file, nullptr, ResultItem(l_file.item)), l_file.result) << l_file.file;
    EXPECT_EQ(l_filter.IsMatching("Beatles - Abbey Road", &l_rest, ItemPtr()), 0);
    EXPECT_EQ(l_rest.IsMatching("Help.mp3", nullptr, ItemPtr()), 0);
}
