#include "shell/SizeManager.h"

#include "ShellFixture.h"
#include "shell/ResizableWindow.h"

namespace
{
class FakeWindow : public ResizableWindow
{
public:
    int GetX() override { return 10; }
    int GetY() override { return 20; }
    int GetWidth() override { return 800; }
    int GetHeight() override { return 600; }
    void SetPosition(int i_x, int i_y) override { m_calls << QString("at %1,%2").arg(i_x).arg(i_y); }
    void SetSize(int i_w, int i_h) override { m_calls << QString("size %1 %2").arg(i_w).arg(i_h); }
    QStringList m_calls;
};

bool HasNumber(const char* i_type, int i_value) { return bool(d.GetType(i_type)->HasItem(i_value)); }

QList<int> Widths(QTreeWidget& i_tree) { return {i_tree.columnWidth(0), i_tree.columnWidth(1)}; }
} // namespace

TEST(SizeManager, WindowsAndSplittersStartFromTheRecordAndFollowTheirMoves)
{
    SizeManager l_manager;
    FakeWindow l_first, l_next;
    l_manager.RegisterResizableWindow("main_window", &l_first);
    EXPECT_TRUE(l_first.m_calls.isEmpty());
    emit l_first.WindowMoved(30, 40);
    emit l_first.WindowResized(1024, 600);
    EXPECT_FALSE(HasNumber("sizer_x", 10)) << "a number no record uses is dropped";
    l_manager.RegisterResizableWindow("main_window", &l_next);
    EXPECT_EQ(l_next.m_calls, QStringList({"at 30,40", "size 1024 600"}));
    // Splitters of one name: the first records its defaults, the later ones start from the
    // record, and each follows the others' moves.
    QSplitter l_splitters[2];
    for (QSplitter& l_splitter : l_splitters)
    {
        l_splitter.addWidget(new QWidget);
        l_splitter.addWidget(new QWidget);
        l_splitter.resize(300 + l_splitter.handleWidth(), 50);
        l_splitter.setSizes({150, 150});
    }
    l_manager.RegisterSplitter("room_splitter", &l_splitters[0], {200, 100});
    EXPECT_EQ(l_splitters[0].sizes(), QList<int>({150, 150}));
    l_manager.RegisterSplitter("room_splitter", &l_splitters[1], {});
    EXPECT_EQ(l_splitters[1].sizes(), QList<int>({200, 100}));
    l_splitters[0].setSizes({120, 180});
    emit l_splitters[0].splitterMoved(120, 1);
    EXPECT_EQ(l_splitters[1].sizes(), QList<int>({120, 180}));
}

TEST(SizeManager, TreeColumnsAreSharedByNameButNeverTheStretchedLastOne)
{
    SizeManager l_manager;
    QTreeWidget l_first, l_second;
    auto* lp_third = new QTreeWidget;
    for (QTreeWidget* lp_tree : {&l_first, &l_second, lp_third})
        lp_tree->setColumnCount(3);
    l_first.setColumnWidth(0, 50);
    l_first.setColumnWidth(1, 70);
    l_manager.RegisterTreeWidget("room_user_list", &l_first);
    EXPECT_EQ(Widths(l_first), QList<int>({50, 70}));
    EXPECT_EQ(d.GetType("sizer_tree_column")->ItemCount(), 2u);
    EXPECT_FALSE(HasNumber("sizer_tree_column_number", 2));
    l_manager.RegisterTreeWidget("room_user_list", &l_second);
    l_manager.RegisterTreeWidget("room_user_list", lp_third);
    EXPECT_EQ(Widths(l_second), QList<int>({50, 70}));
    QSignalSpy l_secondResized(l_second.header(), &QHeaderView::sectionResized);
    l_first.setColumnWidth(0, 70);
    EXPECT_EQ(Widths(l_second) + Widths(*lp_third), QList<int>({70, 70, 70, 70}));
    EXPECT_EQ(l_secondResized.count(), 1);
    EXPECT_FALSE(HasNumber("sizer_size", 50));
    // Both columns hold the one item of 70, so it stays when one of them leaves it.
    delete lp_third;
    l_second.setColumnWidth(1, 90);
    EXPECT_EQ(Widths(l_first), QList<int>({70, 90}));
    EXPECT_TRUE(HasNumber("sizer_size", 70));
    l_second.setColumnWidth(0, 80);
    EXPECT_FALSE(HasNumber("sizer_size", 70));
    EXPECT_EQ(std::make_pair(d.GetType("sizer_tree_widget")->ItemCount(), d.GetType("sizer_tree_column")->ItemCount()),
              std::make_pair(std::size_t(2), std::size_t(2)));
}
