#include <QComboBox>
#include <QCoreApplication>
#include <QPointer>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <list>
#include <random>
#include <set>
#include <string>

#include "diagnostics/DiagnosticsTesting.h"
#include "diagnostics/TypeNavigatorDialog.h"
#include "store/Data.h"

namespace
{
using Path = std::list<std::string>;

std::string N(const char* prefix, int index) { return prefix + std::to_string(index); }
void Declare(const std::string& name, bool valueless = false) { d.NewType(name, Primary, valueless, true); }
void Relate(const std::string& a, const std::string& b, OneOrMany thisSide = One, OneOrMany otherSide = One)
{
    d.GetType(a)->RelateToType(d.GetType(b), thisSide, otherSide, false);
}

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

std::list<Path> NaivePaths(const std::string& from, const std::string& target)
{
    std::list<Path> found;
    Path path;
    std::function<void(const std::string&)> walk = [&](const std::string& current) {
        if (path.size() > 6)
            return;
        path.push_back(current);
        if (current == target)
            found.push_back(path);
        else
            for (const auto& relation : d.GetType(current)->Relations())
                if (std::find(path.begin(), path.end(), relation.first->GetName()) == path.end())
                    walk(relation.first->GetName());
        path.pop_back();
    };
    walk(from);
    found.sort([](const Path& a, const Path& b) { return a.size() < b.size(); }); // stable
    return found;
}

class TypeNavigator : public ::testing::Test
{
protected:
    void Open()
    {
        delete dialog;
        dialog = new TypeNavigatorDialog;
        dialog->Init();
        from = dialog->findChild<QComboBox*>("fromTypeBox");
        to = dialog->findChild<QComboBox*>("toTypeBox");
        chart = dialog->findChild<QTextBrowser*>("chartEdit");
        ASSERT_TRUE(from && to && chart);
    }
    void TearDown() override { delete dialog; }

    void Choose(const std::string& fromName, const std::string& toName)
    {
        from->setCurrentText(QString::fromStdString(fromName));
        ASSERT_EQ(from->currentText().toStdString(), fromName);
        to->setCurrentText(QString::fromStdString(toName));
        ASSERT_EQ(to->currentText().toStdString(), toName);
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
        return chart->document()->isEmpty() ? QStringList() : chart->toPlainText().split('\n');
    }

    // Whether the line starts in green, and which of its fragments are bold.
    std::pair<bool, QStringList> Format(int line) const
    {
        std::pair<bool, QStringList> format{false, {}};
        QTextBlock block = chart->document()->findBlockByNumber(line);
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment)
        {
            const QTextCharFormat chars = fragment.fragment().charFormat();
            if (fragment == block.begin())
                format.first = chars.foreground().color() == QColor("green");
            if (chars.fontWeight() > QFont::Normal)
                format.second << fragment.fragment().text();
        }
        return format;
    }

    QPointer<TypeNavigatorDialog> dialog;
    QComboBox* from = nullptr;
    QComboBox* to = nullptr;
    QTextBrowser* chart = nullptr;
};
} // namespace

TEST_F(TypeNavigator, OffersOnlyTypesWithinSixStepsAndIsDeletedOnClose)
{
    // A chain t0 - t1 - ... - t8, and a type without relations.
    for (int index = 0; index <= 8; ++index)
        Declare(N("t", index));
    for (int index = 0; index < 8; ++index)
        Relate(N("t", index), N("t", index + 1));
    Declare("alone");
    Open();
    EXPECT_EQ(typeNavigatorDialog, dialog.data());
    EXPECT_EQ(dialog->windowTitle(), "Type Navigator");

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

    dialog->show();
    dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(dialog.isNull());
    EXPECT_EQ(typeNavigatorDialog, nullptr);
}

TEST_F(TypeNavigator, GreenOnlyWhenNoStepLeadsToMany)
{
    for (const char* name : {"user", "user_status", "room"})
        Declare(name);
    Declare("item_log", true);
    Relate("user", "user_status", Many, One); // one status per user
    Relate("room", "user", Many, Many);       // a room holds many users
    Relate("user", "item_log", One, Many);    // a user holds many entries
    Open();

    const struct
    {
        const char *from, *to, *line;
        bool green;
        QStringList bold;
    } cases[] = {{"user", "user_status", "[2] user -> user_status", true, {"[2]", "user", "user_status"}},
                 {"room", "user", "[2] room => user", false, {"room", "user"}},
                 {"user_status", "room", "[3] user_status => user => room", false, {}},
                 {"item_log", "user", "[2] item_log [null] -> user", true, {}},
                 {"user", "item_log", "[2] user => item_log [null]", false, {}}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.line);
        Choose(c.from, c.to);
        EXPECT_EQ(ChartLines(), QStringList{c.line});
        EXPECT_EQ(Format(0).first, c.green);
        if (!c.bold.isEmpty()) // not pinned for the rest
        {
            EXPECT_EQ(Format(0).second, c.bold);
        }
    }
}

TEST_F(TypeNavigator, PathsAreSimpleShortestFirstAndInDiscoveryOrder)
{
    // a reaches d over b or c in two steps, over e - f in three, and a - b - c - a is a cycle.
    for (const char* name : {"a", "b", "c", "d", "e", "f"})
        Declare(name);
    for (const char* pair : {"ab", "ac", "ae", "bc", "bd", "cd", "ef", "fd"})
        Relate(std::string(1, pair[0]), std::string(1, pair[1]));
    Open();
    Choose("a", "d");

    const std::list<Path> expected = NaivePaths("a", "d");
    EXPECT_EQ(DiagnosticsTesting::FoundPaths(*dialog), expected);
    ASSERT_EQ(expected.size(), 5u) << "simple chains only: the cycle is not run round";

    // Equal lengths keep the order of the relation maps the search walks.
    QStringList viaTwo;
    for (const auto& relation : d.GetType("a")->Relations())
        if (relation.first->GetName() != "e")
            viaTwo << QString("[3] a -> %1 -> d").arg(QString::fromStdString(relation.first->GetName()));
    const QStringList lines = ChartLines();
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines.mid(0, 2), viaTwo);
    for (const QString& line : lines.mid(2))
        EXPECT_TRUE(line.startsWith("[4] ")) << line.toStdString();
}

TEST_F(TypeNavigator, AgreesWithTheExhaustiveWalkOnRandomSchemas)
{
    const int count = 11;
    for (int index = 0; index < count; ++index)
        Declare(N("r", index));
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> pick(0, count - 1);
    for (int edge = 0; edge < 16; ++edge)
    {
        Type* a = d.GetType(N("r", pick(random)));
        Type* b = d.GetType(N("r", pick(random)));
        if (a != b && !a->IsRelated(b))
            a->RelateToType(b, edge % 2 ? One : Many, edge % 3 ? One : Many, false);
    }
    Relate("r0", "r0", Many, Many); // a type may be related to itself, too
    Open();

    for (int source = 0; source < count; ++source)
    {
        const std::string name = N("r", source);
        for (int depth = 1; depth <= 7; ++depth)
        {
            std::set<std::string> expected, actual;
            NaiveRelated(name, expected, depth);
            dialog->GetRelatedTypes(name, actual, depth);
            EXPECT_EQ(actual, expected) << name << " from depth " << depth;
        }
        std::set<std::string> reachable;
        NaiveRelated(name, reachable, 1);
        for (const std::string& target : reachable)
            if (target != name)
            {
                Choose(name, target);
                const std::list<Path> naive = NaivePaths(name, target);
                EXPECT_EQ(DiagnosticsTesting::FoundPaths(*dialog), naive) << name << " to " << target;
                EXPECT_EQ(ChartLines().size(), static_cast<int>(naive.size()));
            }
    }
}

TEST_F(TypeNavigator, AnswersOnALargeSchema)
{
    // Eight hub types in a ring with chords, each related to two dozen types of its own, some
    // of them shared with the next hub: 230 types, as many as the whole client declares.
    const int hubs = 8;
    for (int hub = 0; hub < hubs; ++hub)
        Declare(N("hub", hub));
    for (int hub = 0; hub < hubs; ++hub)
    {
        Relate(N("hub", hub), N("hub", (hub + 1) % hubs), Many, Many);
        if (hub % 2 == 0)
            Relate(N("hub", hub), N("hub", (hub + 3) % hubs), One, Many);
    }
    int declared = hubs;
    for (int hub = 0; hub < hubs; ++hub)
        for (int leaf = 0; leaf < 28 && declared < 230; ++leaf, ++declared)
        {
            const std::string name = N("hub", hub) + N("_leaf", leaf);
            Declare(name, leaf % 5 == 0);
            Relate(N("hub", hub), name, leaf % 2 ? One : Many, One);
            if (leaf % 4 == 0)
                Relate(N("hub", (hub + 1) % hubs), name, Many, One);
        }
    ASSERT_EQ(d.Types().size(), 230u);

    // A walk without a visited set would not come back from here before the test times out.
    Open();
    EXPECT_GT(to->count(), 200);
    const std::pair<const char*, const char*> pairs[] = {
        {"hub0", "hub4"}, {"hub0_leaf3", "hub5_leaf7"}, {"hub2_leaf8", "hub6_leaf12"}};
    for (const auto& [source, target] : pairs)
    {
        SCOPED_TRACE(source);
        Choose(source, target);
        const auto& paths = DiagnosticsTesting::FoundPaths(*dialog);
        ASSERT_FALSE(paths.empty());
        EXPECT_EQ(ChartLines().size(), static_cast<int>(paths.size()));
        EXPECT_LE(paths.front().size(), paths.back().size());
    }
}
