#include "shell/SizeManager.h"

#include "shell/ResizableWindow.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/SchemaDeclaration.h"

#include <QHeaderView>
#include <QSplitter>
#include <QTreeWidget>

SizeManager* sizeManager = nullptr;

namespace
{
Type* T(const char* i_name)
{
    return d.GetType(i_name);
}

// Connects the holder to the shared number item of the value in place of its old one, and
// drops the old one when nothing else uses it any more.
void ReplaceNumber(ItemPtr i_holder, const char* i_type, int i_value)
{
    ItemPtr l_old = i_holder[i_type];
    ItemPtr l_new = T(i_type)->GetItem(i_value);
    i_holder += l_new;
    if (l_old && l_old != l_new && l_old.IsDisconnectedFromAll())
        l_old.Remove();
}

// The record's entry for a column or pane number, created when missing.
ItemPtr Entry(ItemPtr i_record, const char* i_entryType, const char* i_numberType, int i_number)
{
    ItemPtr l_number = T(i_numberType)->GetItem(i_number);
    ItemPtr l_entry = d.GetItem(i_record, l_number, i_entryType);
    if (!l_entry)
    {
        l_entry = T(i_entryType)->NewItem();
        l_entry += i_record;
        l_entry += l_number;
    }
    return l_entry;
}

// The columns a tree records: all but a stretched last one, whose width follows the view.
int RecordedColumns(QHeaderView* ip_header)
{
    const int l_count = ip_header->count();
    return ip_header->stretchLastSection() && l_count > 0 ? l_count - 1 : l_count;
}
} // namespace

SizeManager::SizeManager(QObject* ip_parent) : QObject(ip_parent)
{
    DeclareTypes({
        {"sizer_window", Primary, false},
        {"sizer_window_widget", Primary, false},
        {"sizer_x", Leaf, false},
        {"sizer_y", Leaf, false},
        {"sizer_width", Leaf, false},
        {"sizer_height", Leaf, false},
        {"sizer_size", Leaf, false},
        {"sizer_tree", Primary, false},
        {"sizer_tree_widget", Primary, false},
        {"sizer_tree_column_number", Leaf, false},
        {"sizer_tree_column", Intermediate, true},
        {"sizer_splitter", Primary, false},
        {"sizer_splitter_widget", Primary, false},
        {"sizer_splitter_index_number", Leaf, false},
        {"sizer_splitter_index", Intermediate, true},
    });
    DeclareRelations({
        {"sizer_window", "sizer_window_widget", One, One},
        {"sizer_window", "sizer_x", Many, One},
        {"sizer_window", "sizer_y", Many, One},
        {"sizer_window", "sizer_width", Many, One},
        {"sizer_window", "sizer_height", Many, One},
        {"sizer_tree", "sizer_tree_widget", One, Many},
        {"sizer_tree_column", "sizer_tree", Many, One},
        {"sizer_tree_column", "sizer_tree_column_number", Many, One},
        {"sizer_tree_column", "sizer_size", Many, One},
        {"sizer_splitter", "sizer_splitter_widget", One, Many},
        {"sizer_splitter_index", "sizer_splitter", Many, One},
        {"sizer_splitter_index", "sizer_splitter_index_number", Many, One},
        {"sizer_splitter_index", "sizer_size", Many, One},
    });
    if (dataSaver)
        for (const char* l_type :
             {"sizer_window", "sizer_tree", "sizer_tree_column_number", "sizer_tree_column",
              "sizer_splitter", "sizer_splitter_index_number", "sizer_splitter_index", "sizer_x",
              "sizer_y", "sizer_width", "sizer_height", "sizer_size"})
            dataSaver->AddSavedType(l_type);
    sizeManager = this;
}

SizeManager::~SizeManager()
{
    if (sizeManager == this)
        sizeManager = nullptr;
}

void SizeManager::RegisterResizableWindow(const QString& i_name, ResizableWindow* ip_window)
{
    ItemPtr l_record = T("sizer_window")->HasItem(i_name);
    if (l_record)
    {
        ip_window->SetPosition(l_record["sizer_x"].AsInt(), l_record["sizer_y"].AsInt());
        ip_window->SetSize(l_record["sizer_width"].AsInt(), l_record["sizer_height"].AsInt());
    }
    else
    {
        l_record = T("sizer_window")->NewItem(i_name);
        l_record += T("sizer_x")->GetItem(ip_window->GetX());
        l_record += T("sizer_y")->GetItem(ip_window->GetY());
        l_record += T("sizer_width")->GetItem(ip_window->GetWidth());
        l_record += T("sizer_height")->GetItem(ip_window->GetHeight());
    }
    l_record += T("sizer_window_widget")->GetItem(static_cast<QObject*>(ip_window));
    connect(ip_window, &ResizableWindow::WindowMoved, this, &SizeManager::OnWindowMoved);
    connect(ip_window, &ResizableWindow::WindowResized, this, &SizeManager::OnWindowResized);
}

void SizeManager::OnWindowMoved(int i_x, int i_y)
{
    RecordWindowPair("sizer_x", i_x, "sizer_y", i_y);
}

void SizeManager::OnWindowResized(int i_width, int i_height)
{
    RecordWindowPair("sizer_width", i_width, "sizer_height", i_height);
}

void SizeManager::RecordWindowPair(const char* i_first, int i_firstValue, const char* i_second,
                                   int i_secondValue)
{
    ItemPtr l_record = T("sizer_window_widget")->HasItem(sender())["sizer_window"];
    if (!l_record)
        return;
    ReplaceNumber(l_record, i_first, i_firstValue);
    ReplaceNumber(l_record, i_second, i_secondValue);
}

void SizeManager::RegisterSplitter(const QString& i_name, QSplitter* ip_splitter,
                                   const QList<int>& i_defaultSizes)
{
    ItemPtr l_record = T("sizer_splitter")->HasItem(i_name);
    if (l_record)
    {
        QList<int> l_sizes;
        for (ItemPtr l_entry : l_record.GetItems("sizer_splitter_index")
                                   .SortNumericBy("sizer_splitter_index_number", true))
            l_sizes << l_entry["sizer_size"].AsInt();
        ip_splitter->setSizes(l_sizes);
    }
    else
    {
        l_record = T("sizer_splitter")->NewItem(i_name);
        const QList<int> l_sizes = i_defaultSizes.isEmpty() ? ip_splitter->sizes() : i_defaultSizes;
        for (int l_i = 0; l_i < l_sizes.size(); ++l_i)
        {
            ItemPtr l_entry = T("sizer_splitter_index")->NewItem();
            l_entry += l_record;
            l_entry += T("sizer_splitter_index_number")->GetItem(l_i);
            l_entry += T("sizer_size")->GetItem(l_sizes.at(l_i));
        }
    }
    l_record += T("sizer_splitter_widget")->GetItem(static_cast<QObject*>(ip_splitter));
    connect(ip_splitter, &QSplitter::splitterMoved, this, &SizeManager::OnSplitterMoved);
    connect(ip_splitter, &QObject::destroyed, this, &SizeManager::OnSplitterDestroyed);
}

void SizeManager::OnSplitterMoved(int /*i_position*/, int /*i_index*/)
{
    if (m_copying)
        return;
    auto* lp_splitter = qobject_cast<QSplitter*>(sender());
    ItemPtr l_record =
        T("sizer_splitter_widget")->HasItem(static_cast<QObject*>(lp_splitter))["sizer_splitter"];
    if (!lp_splitter || !l_record)
        return;
    const QList<int> l_sizes = lp_splitter->sizes();
    for (int l_i = 0; l_i < l_sizes.size(); ++l_i)
        ReplaceNumber(Entry(l_record, "sizer_splitter_index", "sizer_splitter_index_number", l_i),
                      "sizer_size", l_sizes.at(l_i));

    m_copying = true;
    for (ItemPtr l_link : l_record.GetItems("sizer_splitter_widget"))
    {
        auto* lp_other = l_link.AsPointer<QSplitter>();
        if (lp_other != lp_splitter)
            lp_other->setSizes(l_sizes);
    }
    m_copying = false;
}

void SizeManager::OnSplitterDestroyed(QObject* ip_splitter)
{
    if (ItemPtr l_link = T("sizer_splitter_widget")->HasItem(ip_splitter))
        l_link.Remove();
}

void SizeManager::RegisterTreeWidget(const QString& i_name, QTreeWidget* ip_tree)
{
    QHeaderView* lp_header = ip_tree->header();
    ItemPtr l_record = T("sizer_tree")->HasItem(i_name);
    if (l_record)
    {
        for (ItemPtr l_entry : l_record.GetItems("sizer_tree_column")
                                   .SortNumericBy("sizer_tree_column_number", true))
            lp_header->resizeSection(l_entry["sizer_tree_column_number"].AsInt(),
                                     l_entry["sizer_size"].AsInt());
    }
    else
    {
        l_record = T("sizer_tree")->NewItem(i_name);
        for (int l_column = 0; l_column < RecordedColumns(lp_header); ++l_column)
        {
            ItemPtr l_entry = T("sizer_tree_column")->NewItem();
            l_entry += l_record;
            l_entry += T("sizer_tree_column_number")->GetItem(l_column);
            l_entry += T("sizer_size")->GetItem(lp_header->sectionSize(l_column));
        }
    }
    l_record += T("sizer_tree_widget")->GetItem(static_cast<QObject*>(ip_tree));
    connect(lp_header, &QHeaderView::sectionResized, this, &SizeManager::OnTreeColumnResizedMoved);
    connect(ip_tree, &QObject::destroyed, this, &SizeManager::OnTreeDestroyed);
}

void SizeManager::ForgetTreeWidget(const QString& i_name)
{
    if (ItemPtr l_record = T("sizer_tree")->HasItem(i_name))
        l_record.Remove();
}

void SizeManager::OnTreeColumnResizedMoved(int /*i_index*/, int /*i_newSize*/, int /*i_oldSize*/)
{
    if (m_copying)
        return;
    auto* lp_header = qobject_cast<QHeaderView*>(sender());
    auto* lp_tree = lp_header ? qobject_cast<QTreeWidget*>(lp_header->parent()) : nullptr;
    ItemPtr l_record =
        T("sizer_tree_widget")->HasItem(static_cast<QObject*>(lp_tree))["sizer_tree"];
    if (!lp_tree || !l_record)
        return;

    m_copying = true;
    const ItemSet l_links = l_record.GetItems("sizer_tree_widget");
    for (int l_column = 0; l_column < RecordedColumns(lp_header); ++l_column)
    {
        const int l_width = lp_header->sectionSize(l_column);
        ReplaceNumber(Entry(l_record, "sizer_tree_column", "sizer_tree_column_number", l_column),
                      "sizer_size", l_width);
        for (ItemPtr l_link : l_links)
        {
            auto* lp_other = l_link.AsPointer<QTreeWidget>();
            if (lp_other != lp_tree)
                lp_other->header()->resizeSection(l_column, l_width);
        }
    }
    m_copying = false;
}

void SizeManager::OnTreeDestroyed(QObject* ip_tree)
{
    if (ItemPtr l_link = T("sizer_tree_widget")->HasItem(ip_tree))
        l_link.Remove();
}
