#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <list>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "diagnostics/TypeNavigatorDialog.h"
#include "store/Data.h"

namespace
{
using Path = std::list<std::string>;

class TypeNavigator : public ::testing::Test
{
protected:
    static Type* Declare(const std::string& name, bool valueless = false)
    {
        return d.NewType(name, Primary, valueless, true);
    }

    static void Relate(const std::string& a, const std::string& b, OneOrMany thisSide = One,
                       OneOrMany otherSide = One)
    {
        d.GetType(a)->RelateToType(d.GetType(b), thisSide, otherSide, false);
    }

    void Open()
    {
        dialog = std::make_unique<TypeNavigatorDialog>();
        dialog->Init();
        from = dialog->findChild<QComboBox*>("fromTypeBox");
        to = dialog->findChild<QComboBox*>("toTypeBox");
        chart = dialog->findChild<QTextBrowser*>("chartEdit");
        ASSERT_TRUE(from && to && chart);
    }

    void Choose(const QString& fromName, const QString& toName)
    {
        from->setCurrentText(fromName);
        ASSERT_EQ(from->currentText(), fromName);
        to->setCurrentText(toName);
        ASSERT_EQ(to->currentText(), toName);
    }

    static QStringList Entries(QComboBox* box)
    {
        QStringList entries;
        for (int index = 0; index < box->count(); ++index)
            entries << box->itemText(index);
        return entries;
    }

    QStringList ChartLines() const
    {
        if (chart->document()->isEmpty())
            return {};
        return chart->toPlainText().split('\n');
    }

    // Whether the first characters of the chart's line are drawn green.
    bool LineIsGreen(int line) const
    {
        QTextBlock block = chart->document()->findBlockByNumber(line);
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment)
            return fragment.fragment().charFormat().foreground().color() == QColor("green");
        return false;
    }

    QStringList BoldTexts(int line) const
    {
        QStringList texts;
        QTextBlock block = chart->document()->findBlockByNumber(line);
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment)
            if (fragment.fragment().charFormat().fontWeight() > QFont::Normal)
                texts << fragment.fragment().text();
        return texts;
    }

    std::unique_ptr<TypeNavigatorDialog> dialog;
    QComboBox* from = nullptr;
    QComboBox* to = nullptr;
    QTextBrowser* chart = nullptr;
};

// The exhaustive walks the navigator must agree with, for small schemas only.
void NaiveRelated(const std::string& name, std::set<std::string>& names, int depth)
{
    if (depth > 6)
        return;
    for (const auto& relation : d.GetType(name)->Relations())
    {
        names.insert(relation.first->GetName());
        NaiveRelated(relation.first->GetName(), names, depth + 1);
    }
}

void NaivePaths(const std::string& current, const std::string& target, Path& path,
                std::list<Path>& found)
{
    if (path.size() > 6)
        return;
    path.push_back(current);
    if (current == target)
    {
        auto longer = std::find_if(found.begin(), found.end(),
                                   [&](const Path& other) { return other.size() > path.size(); });
        found.insert(longer, path);
    }
    else
        for (const auto& relation : d.GetType(current)->Relations())
            if (std::find(path.begin(), path.end(), relation.first->GetName()) == path.end())
                NaivePaths(relation.first->GetName(), target, path, found);
    path.pop_back();
}
} // namespace

TEST_F(TypeNavigator, LayoutAndLifetime)
{
    Declare("user");
    QPointer<TypeNavigatorDialog> opened = new TypeNavigatorDialog;
    EXPECT_EQ(typeNavigatorDialog, opened.data());
    EXPECT_EQ(opened->windowTitle(), "Type Navigator");
    EXPECT_EQ(opened->size(), QSize(969, 262));
    EXPECT_TRUE(opened->testAttribute(Qt::WA_DeleteOnClose));
    opened->show();
    opened->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(opened.isNull());
    EXPECT_EQ(typeNavigatorDialog, nullptr);
}

TEST_F(TypeNavigator, OffersOnlyTypesWithinSixSteps)
{
    // A chain t0 - t1 - ... - t8, and a type without relations.
    for (int index = 0; index <= 8; ++index)
        Declare("t" + std::to_string(index));
    for (int index = 0; index < 8; ++index)
        Relate("t" + std::to_string(index), "t" + std::to_string(index + 1));
    Declare("alone");
    Open();

    EXPECT_EQ(Entries(from), (QStringList{"alone", "t0", "t1", "t2", "t3", "t4", "t5", "t6", "t7", "t8"}));
    // "alone" came first: nothing to go to, nothing charted.
    EXPECT_EQ(to->count(), 0);
    EXPECT_TRUE(ChartLines().isEmpty());

    from->setCurrentText("t0");
    EXPECT_EQ(Entries(to), (QStringList{"t1", "t2", "t3", "t4", "t5", "t6"}));
    to->setCurrentText("t6");
    EXPECT_EQ(ChartLines(), QStringList{"[7] t0 -> t1 -> t2 -> t3 -> t4 -> t5 -> t6"});

    // Seven steps away on the chain, but three over a short cut: offered, and only the short
    // chain is charted.
    Declare("cut");
    Relate("t0", "cut");
    Relate("cut", "t6");
    Open();
    from->setCurrentText("t0");
    EXPECT_TRUE(Entries(to).contains("t8"));
    to->setCurrentText("t8");
    EXPECT_EQ(ChartLines(), QStringList{"[5] t0 -> cut -> t6 -> t7 -> t8"});
}

TEST_F(TypeNavigator, GreenOnlyWhenNoStepLeadsToMany)
{
    Declare("user");
    Declare("user_status");
    Declare("room");
    Declare("item_log", true);
    Relate("user", "user_status", Many, One);  // one status per user
    Relate("room", "user", Many, Many);        // a room holds many users
    Relate("user", "item_log", One, Many);     // a user holds many entries
    Open();

    Choose("user", "user_status");
    EXPECT_EQ(ChartLines(), QStringList{"[2] user -> user_status"});
    EXPECT_TRUE(LineIsGreen(0));
    EXPECT_EQ(BoldTexts(0), (QStringList{"[2]", "user", "user_status"}));

    Choose("room", "user");
    EXPECT_EQ(ChartLines(), QStringList{"[2] room => user"});
    EXPECT_EQ(BoldTexts(0), (QStringList{"room", "user"}));
    EXPECT_FALSE(LineIsGreen(0));

    Choose("user_status", "room");
    EXPECT_EQ(ChartLines(), QStringList{"[3] user_status => user => room"});
    EXPECT_FALSE(LineIsGreen(0));

    Choose("item_log", "user");
    EXPECT_EQ(ChartLines(), QStringList{"[2] item_log [null] -> user"});
    EXPECT_TRUE(LineIsGreen(0));
    Choose("user", "item_log");
    EXPECT_EQ(ChartLines(), QStringList{"[2] user => item_log [null]"});
}

TEST_F(TypeNavigator, PathsAreSimpleShortestFirstAndInDiscoveryOrder)
{
    // a reaches d over b or c in two steps, over e - f in three, and a - b - c - a is a cycle.
    for (const char* name : {"a", "b", "c", "d", "e", "f"})
        Declare(name);
    Relate("a", "b");
    Relate("a", "c");
    Relate("a", "e");
    Relate("b", "c");
    Relate("b", "d");
    Relate("c", "d");
    Relate("e", "f");
    Relate("f", "d");
    Open();
    Choose("a", "d");

    std::list<Path> expected;
    Path path;
    NaivePaths("a", "d", path, expected);
    EXPECT_EQ(dialog->FoundPaths(), expected);
    ASSERT_EQ(expected.size(), 5u);

    // Equal lengths keep the order of the relation maps the search walks.
    std::vector<std::string> viaTwo;
    for (const auto& relation : d.GetType("a")->Relations())
        if (relation.first->GetName() != "e")
            viaTwo.push_back(relation.first->GetName());
    const QStringList lines = ChartLines();
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[0], QString("[3] a -> %1 -> d").arg(QString::fromStdString(viaTwo[0])));
    EXPECT_EQ(lines[1], QString("[3] a -> %1 -> d").arg(QString::fromStdString(viaTwo[1])));
    for (const QString& line : lines.mid(2))
        EXPECT_TRUE(line.startsWith("[4] ")) << line.toStdString();
    for (const Path& found : dialog->FoundPaths())
        EXPECT_EQ(std::set<std::string>(found.begin(), found.end()).size(), found.size());
}

TEST_F(TypeNavigator, AgreesWithTheExhaustiveWalkOnRandomSchemas)
{
    std::mt19937 random(12345);
    const int count = 11;
    for (int index = 0; index < count; ++index)
        Declare("r" + std::to_string(index));
    std::uniform_int_distribution<int> pick(0, count - 1);
    for (int edge = 0; edge < 16; ++edge)
    {
        Type* a = d.GetType("r" + std::to_string(pick(random)));
        Type* b = d.GetType("r" + std::to_string(pick(random)));
        if (a != b && !a->IsRelated(b))
            a->RelateToType(b, edge % 2 ? One : Many, edge % 3 ? One : Many, false);
    }
    // A type may be related to itself, too.
    d.GetType("r0")->RelateToType(d.GetType("r0"), Many, Many, false);
    Open();

    for (int source = 0; source < count; ++source)
    {
        const std::string name = "r" + std::to_string(source);
        std::set<std::string> expected, actual;
        NaiveRelated(name, expected, 1);
        dialog->GetRelatedTypes(name, actual, 1);
        EXPECT_EQ(actual, expected) << name;
        for (int depth = 2; depth <= 7; ++depth)
        {
            std::set<std::string> deeperExpected, deeperActual;
            NaiveRelated(name, deeperExpected, depth);
            dialog->GetRelatedTypes(name, deeperActual, depth);
            EXPECT_EQ(deeperActual, deeperExpected) << name << " from depth " << depth;
        }

        for (int target = 0; target < count; ++target)
        {
            const std::string targetName = "r" + std::to_string(target);
            if (target == source || !expected.count(targetName))
                continue;
            std::list<Path> naive;
            Path path;
            NaivePaths(name, targetName, path, naive);
            Choose(QString::fromStdString(name), QString::fromStdString(targetName));
            EXPECT_EQ(dialog->FoundPaths(), naive) << name << " to " << targetName;
            EXPECT_EQ(ChartLines().size(), static_cast<int>(naive.size()));
        }
    }
}

TEST_F(TypeNavigator, AnswersWithinASecondOnALargeSchema)
{
    // Eight hub types in a ring with chords, each related to two dozen types of its own, some
    // of them shared with the next hub: 230 types, as many as the whole client declares.
    const int hubs = 8;
    for (int hub = 0; hub < hubs; ++hub)
        Declare("hub" + std::to_string(hub));
    for (int hub = 0; hub < hubs; ++hub)
    {
        Relate("hub" + std::to_string(hub), "hub" + std::to_string((hub + 1) % hubs), Many, Many);
        if (hub % 2 == 0)
            Relate("hub" + std::to_string(hub), "hub" + std::to_string((hub + 3) % hubs), One, Many);
    }
    int declared = hubs;
    for (int hub = 0; hub < hubs; ++hub)
        for (int leaf = 0; leaf < 28 && declared < 230; ++leaf, ++declared)
        {
            const std::string name = "hub" + std::to_string(hub) + "_leaf" + std::to_string(leaf);
            Declare(name, leaf % 5 == 0);
            Relate("hub" + std::to_string(hub), name, leaf % 2 ? One : Many, One);
            if (leaf % 4 == 0)
                Relate("hub" + std::to_string((hub + 1) % hubs), name, Many, One);
        }
    ASSERT_EQ(d.Types().size(), 230u);

    QElapsedTimer timer;
    timer.start();
    Open();
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_GT(to->count(), 200);

    for (const char* pair : {"hub0/hub4", "hub0_leaf3/hub5_leaf7", "hub2_leaf8/hub6_leaf12"})
    {
        const QStringList names = QString(pair).split('/');
        timer.restart();
        Choose(names[0], names[1]);
        EXPECT_LT(timer.elapsed(), 1000) << pair;
        EXPECT_FALSE(dialog->FoundPaths().empty()) << pair;
        EXPECT_EQ(ChartLines().size(), static_cast<int>(dialog->FoundPaths().size()));
        EXPECT_LE(dialog->FoundPaths().front().size(), dialog->FoundPaths().back().size());
    }
}
