#include "views/search/SearchResultFilter.h"

#include <QTreeWidgetItem>

#include "store/Data.h"
#include "views/search/SearchResultListItem.h"

namespace
{
void SetShown(QTreeWidgetItem* ip_row, bool i_shown)
{
    if (ip_row->isHidden() == i_shown)
        ip_row->setHidden(!i_shown);
}
} // namespace

SearchResultFilter::SearchResultFilter(const QString& i_text)
    : mp_fileNodes(d.GetType("search_result_node"))
{
    m_filter.Parse(i_text);
}

bool SearchResultFilter::Apply(QTreeWidgetItem* ip_userRow) const
{
    bool l_userShown = false;
    for (int l_folderIndex = 0; l_folderIndex < ip_userRow->childCount(); ++l_folderIndex)
    {
        QTreeWidgetItem* lp_folder = ip_userRow->child(l_folderIndex);
        FilterParser l_rest;
        if (m_filter.IsMatching(lp_folder->text(SearchResultListItem::FolderColumn), &l_rest, ItemPtr()) == FilterParser::Excluded)
        {
            SetShown(lp_folder, false);
            continue;
        }
        // A file's store item is looked up only when the limits need its attributes.
        const bool l_attributes = l_rest.HasAttributes();
        int l_shownFiles = 0;
        for (int l_fileIndex = 0; l_fileIndex < lp_folder->childCount(); ++l_fileIndex)
        {
            QTreeWidgetItem* lp_file = lp_folder->child(l_fileIndex);
            const ItemPtr l_result =
                l_attributes ? mp_fileNodes->HasItem(Value(lp_file))["search_result"] : ItemPtr();
            const bool l_shown =
                l_rest.IsMatching(lp_file->text(SearchResultListItem::FileColumn), nullptr, l_result) == FilterParser::Matching;
            SetShown(lp_file, l_shown);
            l_shownFiles += l_shown ? 1 : 0;
        }
        const bool l_folderShown = l_shownFiles > 0 && l_shownFiles >= l_rest.MinFilesInFolder();
        SetShown(lp_folder, l_folderShown);
        l_userShown = l_userShown || l_folderShown;
    }
    SetShown(ip_userRow, l_userShown);
    return l_userShown;
}
