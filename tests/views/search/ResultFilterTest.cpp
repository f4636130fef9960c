#include "SearchFixture.h"

namespace
{
class ResultFilter : public SearchFixture
{
protected:
    // Two replies of bob's and one of carl's.
    static void DeliverAll(SearchResultsForm* ip_page)
    {
        const quint32 l_token = Token(ip_page);
        Deliver(l_token, {"bob"},
                {{"music\\Beatles Live\\Help.mp3", 5000000, 320, "cbr"},
                 {"music\\Beatles Live\\Yesterday.flac", 30000000, 900, "vbr"}});
        Deliver(l_token, {"bob"},
                {{"music\\Stones\\Angie.mp3", 4000000, 192, "vbr"},
                 {"music\\Stones\\Live Wire.mp3", 6000000, 128, "cbr"},
                 {"music\\Stones\\Satisfaction.ogg", 1000000}});
        Deliver(l_token, {"carl"}, {{"rock\\Stones\\Angie Live.mp3", 8000000, 256, "cbr"}});
    }
};
} // namespace

// Each text shows the same rows whether they were in the tab when it was typed or came after it.
TEST_F(ResultFilter, ATextShowsTheSameRowsWhetherTheyCameBeforeOrAfterIt)
{
    Open();
    SearchResultsForm* lp_present = NewTab("present");
    DeliverAll(lp_present);
    const QStringList l_beatles{"Beatles Live/music", "Help.mp3", "Yesterday.flac"};
    const QStringList l_stones{"Stones/music", "Angie.mp3", "Live Wire.mp3", "Satisfaction.ogg"};
    const QStringList l_carl{"carl", "Stones/rock", "Angie Live.mp3"};
    const QStringList l_all = QStringList("bob") + l_beatles + l_stones + l_carl;
    const struct
    {
        const char* text;
        QStringList shown;
    } l_cases[] = {
        {"", l_all},
        {"stones -live", {"bob", "Stones/music", "Angie.mp3", "Satisfaction.ogg"}},
        {"beatles help", {"bob", "Beatles Live/music", "Help.mp3"}},
        // A word is in the folder or in the name, never across the two.
        {"musichelp", {}},
        {"ANGIE", {"bob", "Stones/music", "Angie.mp3", "carl", "Stones/rock", "Angie Live.mp3"}},
        {"isvbr", {"bob", "Beatles Live/music", "Yesterday.flac", "Stones/music", "Angie.mp3"}},
        {"isvbr iscbr", {}},
        {"mbr:192", QStringList("bob") + l_beatles + QStringList{"Stones/music", "Angie.mp3"} + l_carl},
        {"mfs:5", QStringList("bob") + l_beatles + QStringList{"Stones/music", "Live Wire.mp3"} + l_carl},
        {"mfif:3", QStringList("bob") + l_stones},
        {"mfif:0", l_all},
        {"ISVBR", {}},
        {"-", l_all},
    };
    QList<SearchResultsForm*> l_arriving;
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.text);
        lp_present->filterEdit()->setText(l_case.text);
        EXPECT_EQ(Shown(lp_present->searchResults()), l_case.shown);
        l_arriving << NewTab(QString("arriving %1").arg(l_arriving.size()));
        l_arriving.last()->filterEdit()->setText(l_case.text);
        DeliverAll(l_arriving.last());
        EXPECT_EQ(Shown(l_arriving.last()->searchResults()), l_case.shown);
    }

    // A folder short of the minimum hides itself alone: its files stay marked as shown.
    lp_present->filterEdit()->setText("mfif:3");
    EXPECT_EQ(Rows(lp_present->searchResults()).mid(0, 4),
              QStringList({"bob|Y|", "  Beatles Live/music -", "    Help.mp3|5,000,000|320 CBR",
                           "    Yesterday.flac|30,000,000|900 VBR"}));
    // Each tab keeps the rows its own text shows.
    EXPECT_EQ(Shown(l_arriving[1]->searchResults()), l_cases[1].shown);
}
