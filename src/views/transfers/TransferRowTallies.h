#pragma once

#include <set>
#include <unordered_map>

#include "store/ItemPtr.h"
#include "views/transfers/TransferGroupTally.h"

class Item;
class QTreeWidgetItem;

// The tallies of one transfer list's group rows, kept in step entry by entry: what each entry
// with a row was last counted as, and which entries have a running transfer's position, whose
// moved bytes are read only when a report asks for a group's sums. So no change of one entry
// costs more than its own two group rows, however many rows the user keeps. An entry's size can
// change with no change of status (a rescan cuts an upload from its file); such an entry is
// counted again before its groups are next read, when its new size is in place.
class TransferRowTallies
{
public:
    explicit TransferRowTallies(bool i_upload) : m_upload(i_upload) {}

    // The entry's new row stands under these group rows; it counts as the store holds it now.
    void Join(ItemPtr i_entry, QTreeWidgetItem* ip_folder, QTreeWidgetItem* ip_user);
    // Its row goes.
    void Leave(ItemPtr i_entry);
    // Its status may have changed.
    void Recount(ItemPtr i_entry);
    // Its transfer's position came or went.
    void Reposition(ItemPtr i_entry);
    // Its size, or the file it has it from, may be changing.
    void Resize(ItemPtr i_entry);
    // The group row goes.
    void Forget(QTreeWidgetItem* ip_group);
    void Clear();

    // Null for a row that is no group row of the list.
    const TransferGroupTally* Find(QTreeWidgetItem* ip_group);
    // The group's tally with the bytes its running transfers have moved by now.
    TransferGroupTally WithMoved(QTreeWidgetItem* ip_group);

private:
    struct Counted
    {
        QTreeWidgetItem* folder = nullptr;
        QTreeWidgetItem* user = nullptr;
        TransferGroupTally::Share share;
    };
    struct Group
    {
        TransferGroupTally tally;
        // Few: only entries whose transfer runs, or is just stopping, have a position.
        std::set<Item*> positioned;
    };

    bool HasPosition(ItemPtr i_entry) const;
    void RecountResized();
    void Place(Item* ip_entry, const Counted& i_counted, bool i_positioned);

    bool m_upload;
    std::unordered_map<Item*, Counted> m_entries;
    std::unordered_map<QTreeWidgetItem*, Group> m_groups;
    // Entries with rows whose size changed since they were last counted.
    std::set<Item*> m_resized;
};
