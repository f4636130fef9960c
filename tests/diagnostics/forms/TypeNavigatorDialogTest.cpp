#include <QTextBlock>

#include <algorithm>
#include <string>
#include <tuple>

#include "FormTesting.h"

static std::string N(const char* prefix, int index) { return prefix + std::to_string(index); }
static void Declare(const std::string& name, bool valueless = false) { d.NewType(name, Primary, valueless, true); }
static void Relate(const std::string& a, const std::string& b, OneOrMany thisSide = One, OneOrMany otherSide = One)
{
    d.GetType(a)->RelateToType(d.GetType(b), thisSide, otherSide, false);
}

class TypeNavigator : public ::testing::Test
{
protected:
    void Open()
    {
        dialog = new TypeNavigatorDialog;
        dialog->Init();
        from = dialog->findChild<QComboBox*>("fromTypeBox");
        to = dialog->findChild<QComboBox*>("toTypeBox");
        chart = dialog->findChild<QTextBrowser*>("chartEdit");
        ASSERT_TRUE(from && to && chart);
    }
    void TearDown() override { delete dialog; }
    QStringList Chart(const std::string& fromName, const std::string& toName)
    {
        from->setCurrentText(QString::fromStdString(fromName));
        to->setCurrentText(QString::fromStdString(toName));
        EXPECT_EQ(from->currentText().toStdString() + " " + to->currentText().toStdString(), fromName + " " + toName);
        return chart->document()->isEmpty() ? QStringList() : chart->toPlainText().split('\n');
    }
    // Only a chart line whose every step leads to one item opens in green.
    bool FirstLineGreen() const
    {
        const QTextCharFormat chars = chart->document()->firstBlock().begin().fragment().charFormat();
        return chars.foreground().color() == QColor("green");
    }

    QPointer<TypeNavigatorDialog> dialog;
    QComboBox *from = nullptr, *to = nullptr;
    QTextBrowser* chart = nullptr;
};

TEST_F(TypeNavigator, OffersTheTypesWithinSixStepsAndChartsGreenOnlyWhenNoStepLeadsToMany)
{
    Declare("alone");
    for (int index = 0; index <= 8; ++index)
        Declare(N("t", index));
    for (int index = 0; index < 8; ++index)
        Relate(N("t", index), N("t", index + 1));
    for (const char* name : {"user", "user_status", "room"})
        Declare(name);
    Declare("item_log", true);
    Relate("user", "user_status", Many, One); // one status per user
    Relate("room", "user", Many, Many);
    Relate("user", "item_log", One, Many);
    Open();
    EXPECT_EQ(Texts(from), (QStringList{"alone", "item_log", "room", "t0", "t1", "t2", "t3", "t4", "t5", "t6", "t7", "t8",
                                        "user", "user_status"}));
    EXPECT_TRUE(to->count() == 0 && chart->document()->isEmpty()) << "\"alone\" came first: nothing to go to";
    EXPECT_EQ(Chart("t0", "t6"), QStringList{"[7] t0 -> t1 -> t2 -> t3 -> t4 -> t5 -> t6"});
    EXPECT_EQ(Texts(to), (QStringList{"t1", "t2", "t3", "t4", "t5", "t6"}));

    const std::tuple<const char*, const char*, const char*, bool> cases[] = {
        {"user", "user_status", "[2] user -> user_status", true},
        {"room", "user_status", "[3] room => user -> user_status", false},
        {"item_log", "user", "[2] item_log [null] -> user", true}};
    for (const auto& [source, target, line, green] : cases)
    {
        EXPECT_EQ(Chart(source, target), QStringList{line});
        EXPECT_EQ(FirstLineGreen(), green) << line;
    }
    EXPECT_TRUE(Close(dialog) && !typeNavigatorDialog);
}

TEST_F(TypeNavigator, ChartsEverySimpleChainShortestFirstAndAnswersOnALargeSchema)
{
    // A square with one diagonal, and a type related to itself that no chain may step through twice.
    for (const char* name : {"w", "x", "y", "z"})
        Declare(name);
    for (const auto& [a, b] : {std::pair{"w", "x"}, {"x", "y"}, {"y", "z"}, {"z", "w"}, {"w", "y"}, {"w", "w"}})
        Relate(a, b);

    // Eight hubs in a ring with chords and 28 leaf types each, every fourth shared with the next:
    // as many types as the client declares. A walk without a visited set would time out here.
    for (int hub = 0; hub < 8; ++hub)
        Declare(N("hub", hub));
    for (int hub = 0; hub < 8; ++hub)
    {
        Relate(N("hub", hub), N("hub", (hub + 1) % 8), Many, Many);
        if (hub % 2 == 0)
            Relate(N("hub", hub), N("hub", (hub + 3) % 8), One, Many);
        for (int leaf = 0; leaf < 28; ++leaf)
        {
            const std::string name = N("hub", hub) + N("_leaf", leaf);
            Declare(name, leaf % 5 == 0);
            Relate(N("hub", hub), name, leaf % 2 ? One : Many, One);
            if (leaf % 4 == 0)
                Relate(N("hub", (hub + 1) % 8), name, Many, One);
        }
    }
    Open();
    EXPECT_GT(to->count(), 200) << "from " << from->currentText().toStdString();
    QStringList chains = Chart("x", "z");
    // Chains of equal length come in the store's relation order, which is not ours to fix.
    EXPECT_TRUE(std::is_sorted(chains.begin(), chains.end(), [](const QString& a, const QString& b) {
        return a.left(3) < b.left(3);
    }));
    chains.sort();
    EXPECT_EQ(chains, (QStringList{"[3] x -> w -> z", "[3] x -> y -> z", "[4] x -> w -> y -> z", "[4] x -> y -> w -> z"}));
    for (const auto& [source, target] : {std::pair{"hub0", "hub4"}, {"hub0_leaf3", "hub5_leaf7"}, {"hub2_leaf8", "hub6_leaf12"}})
        EXPECT_FALSE(Chart(source, target).isEmpty()) << source;
}
