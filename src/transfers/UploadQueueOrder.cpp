#include "transfers/UploadQueueOrder.h"

#include <algorithm>
#include <functional>

namespace
{
// No user address is odd, so this never names a user's kind of node.
constexpr std::uintptr_t MixedKinds = ~std::uintptr_t(0);
} // namespace

// One entry. Its links in the tree of placed entries it lies in, and, while it is queued, in its
// user's tree; the number of a placed node is its own only while no node above it carries a mark.
struct UploadQueueOrder::Node
{
    struct Links
    {
        Node* left = nullptr;
        Node* right = nullptr;
        Node* parent = nullptr;
        int size = 1;
    };
    Links tree;
    Links own;
    std::uint32_t priority = 0;
    // What the latest numberings did to the nodes below, this one among them, that they do not
    // hold yet: numbered from the base in their order (when assigned), then moved by add.
    bool assigned = false;
    std::int64_t base = 0;
    std::int64_t add = 0;
    std::int64_t place = 0;

    Handle entry = nullptr;
    User* user = nullptr;
    State state = State::None;
    bool placed = false;
    // Where it stands in its user's list of placed entries.
    std::size_t placedIndex = 0;
    int order = 0;
    std::int64_t userClass = 0;

    // What the subtree holds: one kind of node throughout (or mixed kinds), its lowest class and
    // its latest arrival.
    std::uintptr_t kind = 0;
    std::uintptr_t uniform = 0;
    std::int64_t lowestClass = 0;
    int latestOrder = 0;
};

struct UploadQueueOrder::User
{
    Handle handle = nullptr;
    bool online = false;
    std::int64_t userClass = 0;
    int queued = 0;
    int active = 0;
    // Entries recorded for the user; the record goes with the last of them, so that a user item
    // the store lets go of leaves nothing behind under its address.
    int entries = 0;
    // The user's placed queued entries, in the order of the tree they lie in.
    Node* queue = nullptr;
    // Every placed entry of the user, so that a new class reaches all of them.
    std::vector<Node*> placed;
    bool candidate = false;
    Node* firstWaiting = nullptr;
    Candidates::iterator position;
};

bool UploadQueueOrder::ByFirstWaiting::operator()(const User* ip_a, const User* ip_b) const
{
    return Rank(ip_a->firstWaiting) < Rank(ip_b->firstWaiting);
}

UploadQueueOrder::UploadQueueOrder() : m_random(20261208) {}

UploadQueueOrder::~UploadQueueOrder() = default;

// ---- the trees of placed entries ----

int UploadQueueOrder::Size(const Node* ip_node)
{
    return ip_node ? ip_node->tree.size : 0;
}

void UploadQueueOrder::Update(Node* ip_node)
{
    Node::Links& l_links = ip_node->tree;
    l_links.size = 1;
    ip_node->uniform = ip_node->kind;
    ip_node->lowestClass = ip_node->userClass;
    ip_node->latestOrder = ip_node->order;
    for (Node* lp_child : {l_links.left, l_links.right})
    {
        if (!lp_child)
            continue;
        lp_child->tree.parent = ip_node;
        l_links.size += lp_child->tree.size;
        if (lp_child->uniform != ip_node->uniform)
            ip_node->uniform = MixedKinds;
        ip_node->lowestClass = std::min(ip_node->lowestClass, lp_child->lowestClass);
        ip_node->latestOrder = std::max(ip_node->latestOrder, lp_child->latestOrder);
    }
}

// A mark goes down a level before anything below it changes shape: it speaks of places within
// its subtree, which a change would shift.
void UploadQueueOrder::Push(Node* ip_node)
{
    if (!ip_node->assigned && ip_node->add == 0)
        return;
    Node* lp_left = ip_node->tree.left;
    Node* lp_right = ip_node->tree.right;
    if (ip_node->assigned)
        ip_node->place = ip_node->base + Size(lp_left);
    ip_node->place += ip_node->add;
    if (lp_left)
        Tag(lp_left, ip_node->assigned, ip_node->base, ip_node->add);
    if (lp_right)
        Tag(lp_right, ip_node->assigned, ip_node->base + Size(lp_left) + 1, ip_node->add);
    ip_node->assigned = false;
    ip_node->add = 0;
}

// A newer numbering of the whole subtree: it replaces what the subtree held; a move adds to it.
void UploadQueueOrder::Tag(Node* ip_tree, bool i_assign, std::int64_t i_base, std::int64_t i_add)
{
    if (i_assign)
    {
        ip_tree->assigned = true;
        ip_tree->base = i_base;
        ip_tree->add = i_add;
    }
    else
        ip_tree->add += i_add;
}

void UploadQueueOrder::Mark(Node* ip_tree, std::int64_t i_base)
{
    Tag(ip_tree, true, i_base, 0);
}

// Marks lower down are older: the value is built from the node up.
std::int64_t UploadQueueOrder::PlaceOfNode(const Node* ip_node)
{
    std::int64_t l_place = ip_node->place;
    std::int64_t l_index = Size(ip_node->tree.left);
    for (const Node* lp_at = ip_node;;)
    {
        if (lp_at->assigned)
            l_place = lp_at->base + l_index;
        l_place += lp_at->add;
        const Node* lp_parent = lp_at->tree.parent;
        if (!lp_parent)
            return l_place;
        if (lp_parent->tree.right == lp_at)
            l_index += Size(lp_parent->tree.left) + 1;
        lp_at = lp_parent;
    }
}

UploadQueueOrder::Key UploadQueueOrder::KeyOf(const Node* ip_node)
{
    return {PlaceOfNode(ip_node), ip_node->entry};
}

bool UploadQueueOrder::Less(const Key& i_a, const Key& i_b)
{
    if (i_a.place != i_b.place)
        return i_a.place < i_b.place;
    return std::less<Handle>()(i_a.entry, i_b.entry);
}

std::size_t UploadQueueOrder::Rank(const Node* ip_node)
{
    std::size_t l_rank = std::size_t(Size(ip_node->tree.left));
    for (const Node* lp_at = ip_node; lp_at->tree.parent; lp_at = lp_at->tree.parent)
        if (lp_at->tree.parent->tree.right == lp_at)
            l_rank += std::size_t(Size(lp_at->tree.parent->tree.left)) + 1;
    return l_rank;
}

const UploadQueueOrder::Node* UploadQueueOrder::RootOf(const Node* ip_node)
{
    while (ip_node->tree.parent)
        ip_node = ip_node->tree.parent;
    return ip_node;
}

// The two kinds of tree a node lies in: the tree of placed entries, whose marks go down before
// anything below changes shape and whose node holds its place once its marks are down; and its
// user's tree of queued entries, which carries no marks and reads places through the other.
struct UploadQueueOrder::InPlaces
{
    static Node::Links& Links(Node* ip_node) { return ip_node->tree; }
    static void Push(Node* ip_node) { UploadQueueOrder::Push(ip_node); }
    static void Update(Node* ip_node) { UploadQueueOrder::Update(ip_node); }
    static Key KeyAt(Node* ip_node) { return {ip_node->place, ip_node->entry}; }
};

struct UploadQueueOrder::InUser
{
    static Node::Links& Links(Node* ip_node) { return ip_node->own; }
    static void Push(Node*) {}
    static void Update(Node* ip_node) { UUpdate(ip_node); }
    static Key KeyAt(Node* ip_node) { return KeyOf(ip_node); }
};

template <class Side>
void UploadQueueOrder::SplitKeyIn(Node* ip_tree, const Key& i_key, Node*& o_less, Node*& o_rest)
{
    if (!ip_tree)
    {
        o_less = o_rest = nullptr;
        return;
    }
    Side::Push(ip_tree);
    Node::Links& l_links = Side::Links(ip_tree);
    if (Less(Side::KeyAt(ip_tree), i_key))
    {
        SplitKeyIn<Side>(l_links.right, i_key, l_links.right, o_rest);
        o_less = ip_tree;
    }
    else
    {
        SplitKeyIn<Side>(l_links.left, i_key, o_less, l_links.left);
        o_rest = ip_tree;
    }
    Side::Update(ip_tree);
    for (Node* lp_root : {o_less, o_rest})
        if (lp_root)
            Side::Links(lp_root).parent = nullptr;
}

template <class Side>
UploadQueueOrder::Node* UploadQueueOrder::JoinIn(Node* ip_a, Node* ip_b)
{
    if (!ip_a)
        return ip_b;
    if (!ip_b)
        return ip_a;
    Node* lp_top = ip_a->priority > ip_b->priority ? ip_a : ip_b;
    Side::Push(lp_top);
    Node::Links& l_links = Side::Links(lp_top);
    if (lp_top == ip_a)
        l_links.right = JoinIn<Side>(l_links.right, ip_b);
    else
        l_links.left = JoinIn<Side>(ip_a, l_links.left);
    Side::Update(lp_top);
    l_links.parent = nullptr;
    return lp_top;
}

// The marks on the way down are handed on first, so that the node leaves with its own place and
// every other node keeps the one it had.
template <class Side>
void UploadQueueOrder::RemoveIn(Node*& io_root, Node* ip_node)
{
    std::vector<Node*> l_path;
    for (Node* lp_at = ip_node; lp_at; lp_at = Side::Links(lp_at).parent)
        l_path.push_back(lp_at);
    for (auto l_at = l_path.rbegin(); l_at != l_path.rend(); ++l_at)
        Side::Push(*l_at);
    Node::Links& l_links = Side::Links(ip_node);
    Node* lp_parent = l_links.parent;
    Node* lp_joined = JoinIn<Side>(l_links.left, l_links.right);
    if (!lp_parent)
        io_root = lp_joined;
    else if (Side::Links(lp_parent).left == ip_node)
        Side::Links(lp_parent).left = lp_joined;
    else
        Side::Links(lp_parent).right = lp_joined;
    if (lp_joined)
        Side::Links(lp_joined).parent = lp_parent;
    for (Node* lp_at = lp_parent; lp_at; lp_at = Side::Links(lp_at).parent)
        Side::Update(lp_at);
    l_links = Node::Links();
    Side::Update(ip_node);
}

void UploadQueueOrder::SplitKey(Node* ip_tree, const Key& i_key, Node*& o_less, Node*& o_rest)
{
    SplitKeyIn<InPlaces>(ip_tree, i_key, o_less, o_rest);
}

void UploadQueueOrder::SplitCount(Node* ip_tree, std::size_t i_count, Node*& o_first, Node*& o_rest)
{
    if (!ip_tree)
    {
        o_first = o_rest = nullptr;
        return;
    }
    Push(ip_tree);
    const std::size_t l_left = std::size_t(Size(ip_tree->tree.left));
    if (l_left < i_count)
    {
        SplitCount(ip_tree->tree.right, i_count - l_left - 1, ip_tree->tree.right, o_rest);
        o_first = ip_tree;
    }
    else
    {
        SplitCount(ip_tree->tree.left, i_count, o_first, ip_tree->tree.left);
        o_rest = ip_tree;
    }
    Update(ip_tree);
    Detach(o_first);
    Detach(o_rest);
}

UploadQueueOrder::Node* UploadQueueOrder::Join(Node* ip_a, Node* ip_b)
{
    return JoinIn<InPlaces>(ip_a, ip_b);
}

// A tree of its own from here on; whoever holds it links it again.
void UploadQueueOrder::Detach(Node* ip_root)
{
    if (ip_root)
        ip_root->tree.parent = nullptr;
}

UploadQueueOrder::Node* UploadQueueOrder::Leftmost(Node* ip_tree)
{
    if (ip_tree)
        while (ip_tree->tree.left)
            ip_tree = ip_tree->tree.left;
    return ip_tree;
}

UploadQueueOrder::Node* UploadQueueOrder::Rightmost(Node* ip_tree)
{
    if (ip_tree)
        while (ip_tree->tree.right)
            ip_tree = ip_tree->tree.right;
    return ip_tree;
}

void UploadQueueOrder::InsertByKey(Node*& io_root, Node* ip_node)
{
    Node* lp_less = nullptr;
    Node* lp_rest = nullptr;
    SplitKey(io_root, {ip_node->place, ip_node->entry}, lp_less, lp_rest);
    io_root = Join(Join(lp_less, ip_node), lp_rest);
    Detach(io_root);
}

void UploadQueueOrder::RemoveNode(Node*& io_root, Node* ip_node)
{
    RemoveIn<InPlaces>(io_root, ip_node);
}

void UploadQueueOrder::Reaugment(Node* ip_node)
{
    for (Node* lp_at = ip_node; lp_at; lp_at = lp_at->tree.parent)
        Update(lp_at);
}

std::size_t UploadQueueOrder::LeadingOfKind(Node* ip_tree, std::uintptr_t i_kind)
{
    std::size_t l_count = 0;
    while (ip_tree)
    {
        Node* lp_left = ip_tree->tree.left;
        if (lp_left && lp_left->uniform != i_kind)
        {
            ip_tree = lp_left;
            continue;
        }
        l_count += std::size_t(Size(lp_left));
        if (ip_tree->kind != i_kind)
            return l_count;
        ++l_count;
        ip_tree = ip_tree->tree.right;
    }
    return l_count;
}

bool UploadQueueOrder::GoesBefore(std::int64_t i_class, int i_order, const Node* ip_other)
{
    if (i_class != ip_other->userClass)
        return i_class > ip_other->userClass;
    return i_order < ip_other->order;
}

// A subtree can hold such a node only when its lowest class is below the new one's, or when it
// holds a later arrival: the latter never happens while arrival numbers only grow, and then the
// search goes down one path.
UploadQueueOrder::Node* UploadQueueOrder::FirstServedAfter(Node* ip_tree, std::int64_t i_class, int i_order)
{
    if (!ip_tree || (ip_tree->lowestClass >= i_class && ip_tree->latestOrder <= i_order))
        return nullptr;
    if (Node* lp_found = FirstServedAfter(ip_tree->tree.left, i_class, i_order))
        return lp_found;
    if (GoesBefore(i_class, i_order, ip_tree))
        return ip_tree;
    return FirstServedAfter(ip_tree->tree.right, i_class, i_order);
}

// The two are merged a run at a time: each step takes from one side all that comes before the
// other side's first key.
void UploadQueueOrder::MergeInto(Node*& io_tree, Node* ip_block)
{
    Node* lp_result = nullptr;
    Node* lp_tree = io_tree;
    while (ip_block)
    {
        Node* lp_less = nullptr;
        SplitKey(lp_tree, KeyOf(Leftmost(ip_block)), lp_less, lp_tree);
        lp_result = Join(lp_result, lp_less);
        if (!lp_tree)
        {
            lp_result = Join(lp_result, ip_block);
            ip_block = nullptr;
            break;
        }
        SplitKey(ip_block, KeyOf(Leftmost(lp_tree)), lp_less, ip_block);
        lp_result = Join(lp_result, lp_less);
    }
    io_tree = Join(lp_result, lp_tree);
    Detach(io_tree);
}

// ---- each user's queued entries ----

int UploadQueueOrder::USize(const Node* ip_node)
{
    return ip_node ? ip_node->own.size : 0;
}

void UploadQueueOrder::UUpdate(Node* ip_node)
{
    ip_node->own.size = 1 + USize(ip_node->own.left) + USize(ip_node->own.right);
    for (Node* lp_child : {ip_node->own.left, ip_node->own.right})
        if (lp_child)
            lp_child->own.parent = ip_node;
}

void UploadQueueOrder::UInsert(Node*& io_root, Node* ip_node)
{
    Node* lp_less = nullptr;
    Node* lp_rest = nullptr;
    SplitKeyIn<InUser>(io_root, KeyOf(ip_node), lp_less, lp_rest);
    ip_node->own = Node::Links();
    io_root = JoinIn<InUser>(JoinIn<InUser>(lp_less, ip_node), lp_rest);
}

UploadQueueOrder::Node* UploadQueueOrder::UAt(Node* ip_tree, std::size_t i_index)
{
    while (ip_tree)
    {
        const std::size_t l_left = std::size_t(USize(ip_tree->own.left));
        if (i_index < l_left)
            ip_tree = ip_tree->own.left;
        else if (i_index == l_left)
            return ip_tree;
        else
        {
            i_index -= l_left + 1;
            ip_tree = ip_tree->own.right;
        }
    }
    return nullptr;
}

// ---- the queue's operations ----

UploadQueueOrder::Node* UploadQueueOrder::NodeOf(Handle i_entry) const
{
    const auto l_found = m_nodes.find(i_entry);
    return l_found == m_nodes.end() ? nullptr : l_found->second.get();
}

UploadQueueOrder::User* UploadQueueOrder::UserOf(Handle i_user) const
{
    const auto l_found = m_users.find(i_user);
    return l_found == m_users.end() ? nullptr : l_found->second.get();
}

bool UploadQueueOrder::KnowsUser(Handle i_user) const
{
    return UserOf(i_user) != nullptr;
}

void UploadQueueOrder::AddUser(Handle i_user, bool i_online, std::int64_t i_class)
{
    if (!i_user || KnowsUser(i_user))
        return;
    auto lp_user = std::make_unique<User>();
    lp_user->handle = i_user;
    lp_user->online = i_online;
    lp_user->userClass = i_class;
    m_users.emplace(i_user, std::move(lp_user));
}

bool UploadQueueOrder::IsWaiting(const Node* ip_node) const
{
    return ip_node->state == State::Queued && ip_node->user && ip_node->user->online;
}

// A user's queued entries form one kind, whichever tree they lie in; everything else of the user
// another.
std::uintptr_t UploadQueueOrder::KindOf(const Node* ip_node) const
{
    return reinterpret_cast<std::uintptr_t>(ip_node->user) | (ip_node->state == State::Queued ? 1 : 0);
}

UploadQueueOrder::Node*& UploadQueueOrder::TreeOf(const Node* ip_node)
{
    return IsWaiting(ip_node) ? mp_waiting : mp_others;
}

void UploadQueueOrder::Count(Node* ip_node, int i_sign)
{
    User* lp_user = ip_node->user;
    if (!lp_user)
        return;
    if (ip_node->state == State::Queued)
        lp_user->queued += i_sign;
    if (ip_node->state == State::Active)
        lp_user->active += i_sign;
}

void UploadQueueOrder::Unthread(Node* ip_node)
{
    if (ip_node->state == State::Queued && ip_node->user)
        RemoveIn<InUser>(ip_node->user->queue, ip_node);
    RemoveNode(TreeOf(ip_node), ip_node);
}

void UploadQueueOrder::Thread(Node* ip_node)
{
    ip_node->kind = KindOf(ip_node);
    Update(ip_node);
    InsertByKey(TreeOf(ip_node), ip_node);
    if (ip_node->state == State::Queued && ip_node->user)
        UInsert(ip_node->user->queue, ip_node);
}

void UploadQueueOrder::SetState(Handle i_entry, Handle i_user, State i_state)
{
    Node* lp_node = NodeOf(i_entry);
    if (!lp_node)
    {
        auto lp_new = std::make_unique<Node>();
        lp_node = lp_new.get();
        lp_node->entry = i_entry;
        lp_node->user = UserOf(i_user);
        lp_node->priority = m_random();
        if (lp_node->user)
            ++lp_node->user->entries;
        m_nodes.emplace(i_entry, std::move(lp_new));
    }
    if (lp_node->state == i_state)
        return;
    User* lp_user = lp_node->user;
    if (lp_user)
        DropCandidate(lp_user);
    if (lp_node->placed)
        Unthread(lp_node);
    Count(lp_node, -1);
    lp_node->state = i_state;
    Count(lp_node, +1);
    if (lp_node->placed)
        Thread(lp_node);
    if (lp_user)
        RefreshCandidate(lp_user);
}

void UploadQueueOrder::Forget(Handle i_entry)
{
    Node* lp_node = NodeOf(i_entry);
    if (!lp_node)
        return;
    User* lp_user = lp_node->user;
    if (lp_user)
        DropCandidate(lp_user);
    if (lp_node->placed)
    {
        Unthread(lp_node);
        NoteGone(lp_node->place);
        --m_placed;
        std::vector<Node*>& l_placed = lp_user->placed;
        l_placed[lp_node->placedIndex] = l_placed.back();
        l_placed[lp_node->placedIndex]->placedIndex = lp_node->placedIndex;
        l_placed.pop_back();
    }
    Count(lp_node, -1);
    m_nodes.erase(i_entry);
    if (!lp_user)
        return;
    if (--lp_user->entries == 0)
        m_users.erase(lp_user->handle);
    else
        RefreshCandidate(lp_user);
}

void UploadQueueOrder::Place(Handle i_entry, std::int64_t i_place, int i_order)
{
    Node* lp_node = NodeOf(i_entry);
    if (!lp_node || !lp_node->user)
        return;
    User* lp_user = lp_node->user;
    DropCandidate(lp_user);
    if (lp_node->placed)
        Unthread(lp_node);
    else
    {
        lp_node->placed = true;
        ++m_placed;
        lp_node->placedIndex = lp_user->placed.size();
        lp_user->placed.push_back(lp_node);
    }
    lp_node->order = i_order;
    lp_node->userClass = lp_user->userClass;
    lp_node->place = i_place;
    lp_node->assigned = false;
    lp_node->add = 0;
    Thread(lp_node);
    RefreshCandidate(lp_user);
    if (m_placed == 1)
        m_dense = Dense{i_place, i_place, {}};
    else if (m_dense && i_place == m_dense->highest + 1)
        ++m_dense->highest;
    else
        m_dense.reset();
}

void UploadQueueOrder::NoteGone(std::int64_t i_place)
{
    if (!m_dense)
        return;
    std::set<std::int64_t>& l_gaps = m_dense->gaps;
    if (i_place != m_dense->highest)
        l_gaps.insert(i_place);
    else
        for (--m_dense->highest; !l_gaps.empty() && *l_gaps.rbegin() == m_dense->highest; --m_dense->highest)
            l_gaps.erase(std::prev(l_gaps.end()));
}

void UploadQueueOrder::PlaceRenumbering(Handle i_entry, int i_order)
{
    Node* lp_new = NodeOf(i_entry);
    if (!lp_new || !lp_new->user || lp_new->placed)
        return;
    const std::int64_t l_class = lp_new->user->userClass;
    // The first entry, in place order, that the new one goes before.
    Node* lp_before = nullptr;
    for (Node* lp_found : {FirstServedAfter(mp_waiting, l_class, i_order),
                           FirstServedAfter(mp_others, l_class, i_order)})
        if (lp_found && (!lp_before || Less(KeyOf(lp_found), KeyOf(lp_before))))
            lp_before = lp_found;
    const std::int64_t l_place = m_dense ? RenumberDense(lp_before) : RenumberInterleaved(lp_before);
    Place(i_entry, l_place, i_order);
    m_dense = Dense{1, std::int64_t(m_placed), {}};
}

// The places run from the lowest to the highest but for the gaps that removals left, in the same
// order as the keys: each entry's new number is its old one moved down to 1, less the gaps below
// it, plus one at and after the new entry's place. A few moves of whole key ranges do it.
std::int64_t UploadQueueOrder::RenumberDense(Node* ip_before)
{
    for (Node*& lp_tree : {std::ref(mp_waiting), std::ref(mp_others)})
        if (lp_tree)
            Tag(lp_tree, false, 0, 1 - m_dense->lowest);
    const std::set<std::int64_t>& l_gaps = m_dense->gaps;
    for (auto l_gap = l_gaps.rbegin(); l_gap != l_gaps.rend(); ++l_gap)
        MoveFrom(*l_gap - m_dense->lowest + 2, -1);
    const std::int64_t l_place = ip_before ? PlaceOfNode(ip_before) : std::int64_t(m_placed) + 1;
    MoveFrom(l_place, 1);
    return l_place;
}

void UploadQueueOrder::MoveFrom(std::int64_t i_place, std::int64_t i_by)
{
    for (Node*& lp_tree : {std::ref(mp_waiting), std::ref(mp_others)})
    {
        Node* lp_less = nullptr;
        Node* lp_rest = nullptr;
        SplitKey(lp_tree, {i_place, nullptr}, lp_less, lp_rest);
        if (lp_rest)
            Tag(lp_rest, false, 0, i_by);
        lp_tree = Join(lp_less, lp_rest);
        Detach(lp_tree);
    }
}

// The two trees interleave in runs; each run is marked whole. When they interleave finely the
// rest is merged node by node instead, which costs less than as many runs.
std::int64_t UploadQueueOrder::RenumberInterleaved(Node* ip_before)
{
    const std::optional<Key> l_beforeKey = ip_before ? std::optional<Key>(KeyOf(ip_before)) : std::nullopt;
    Node* lp_sides[2] = {mp_waiting, mp_others};
    Node* lp_done[2] = {nullptr, nullptr};
    std::int64_t l_next = 1;
    std::optional<std::int64_t> l_newPlace;
    const std::size_t l_mostRuns = 64 + m_placed / 32;
    for (std::size_t l_runs = 0; (lp_sides[0] || lp_sides[1]) && l_runs < l_mostRuns; ++l_runs)
    {
        std::optional<Key> l_first[2];
        for (int l_side : {0, 1})
            if (lp_sides[l_side])
                l_first[l_side] = KeyOf(Leftmost(lp_sides[l_side]));
        const int l_side = !l_first[1] || (l_first[0] && Less(*l_first[0], *l_first[1])) ? 0 : 1;
        Node* lp_run = nullptr;
        if (l_first[1 - l_side])
            SplitKey(lp_sides[l_side], *l_first[1 - l_side], lp_run, lp_sides[l_side]);
        else
            std::swap(lp_run, lp_sides[l_side]);
        Node* lp_after = nullptr;
        if (!l_newPlace && l_beforeKey && RootOf(ip_before) == lp_run)
            SplitKey(lp_run, *l_beforeKey, lp_run, lp_after);
        if (lp_run)
        {
            Mark(lp_run, l_next);
            l_next += Size(lp_run);
        }
        if (lp_after)
        {
            l_newPlace = l_next++;
            Mark(lp_after, l_next);
            l_next += Size(lp_after);
        }
        lp_done[l_side] = Join(Join(lp_done[l_side], lp_run), lp_after);
    }
    if (lp_sides[0] || lp_sides[1])
    {
        std::vector<Node*> l_rest[2];
        for (int l_side : {0, 1})
            Flatten(lp_sides[l_side], l_rest[l_side]);
        std::size_t l_at[2] = {0, 0};
        while (l_at[0] < l_rest[0].size() || l_at[1] < l_rest[1].size())
        {
            const bool l_fromFirst =
                l_at[1] == l_rest[1].size() ||
                (l_at[0] < l_rest[0].size() &&
                 Less({l_rest[0][l_at[0]]->place, l_rest[0][l_at[0]]->entry},
                      {l_rest[1][l_at[1]]->place, l_rest[1][l_at[1]]->entry}));
            Node* lp_node = l_rest[l_fromFirst ? 0 : 1][l_at[l_fromFirst ? 0 : 1]++];
            if (lp_node == ip_before && !l_newPlace)
                l_newPlace = l_next++;
            lp_node->place = l_next++;
        }
        for (int l_side : {0, 1})
            lp_done[l_side] = Join(lp_done[l_side], Build(l_rest[l_side]));
    }
    mp_waiting = lp_done[0];
    mp_others = lp_done[1];
    Detach(mp_waiting);
    Detach(mp_others);
    return l_newPlace ? *l_newPlace : l_next;
}

// In order, each node's place made its own on the way.
void UploadQueueOrder::Flatten(Node* ip_tree, std::vector<Node*>& o_nodes)
{
    if (!ip_tree)
        return;
    Push(ip_tree);
    Flatten(ip_tree->tree.left, o_nodes);
    o_nodes.push_back(ip_tree);
    Flatten(ip_tree->tree.right, o_nodes);
}

// A tree of the nodes in the order given, each keeping its priority, made in one pass.
UploadQueueOrder::Node* UploadQueueOrder::Build(const std::vector<Node*>& i_nodes)
{
    std::vector<Node*> l_spine;
    for (Node* lp_node : i_nodes)
    {
        lp_node->tree = Node::Links();
        Node* lp_last = nullptr;
        while (!l_spine.empty() && l_spine.back()->priority < lp_node->priority)
        {
            lp_last = l_spine.back();
            l_spine.pop_back();
        }
        lp_node->tree.left = lp_last;
        if (!l_spine.empty())
            l_spine.back()->tree.right = lp_node;
        l_spine.push_back(lp_node);
    }
    if (l_spine.empty())
        return nullptr;
    UpdateAll(l_spine.front());
    return l_spine.front();
}

void UploadQueueOrder::UpdateAll(Node* ip_tree)
{
    if (!ip_tree)
        return;
    UpdateAll(ip_tree->tree.left);
    UpdateAll(ip_tree->tree.right);
    Update(ip_tree);
}

void UploadQueueOrder::Renumber()
{
    if (!mp_waiting)
        return;
    Mark(mp_waiting, 0);
    // Only the waiting entries took new numbers: with no other entry, they are all there is.
    if (!mp_others)
        m_dense = Dense{0, Size(mp_waiting) - 1, {}};
    else
        m_dense.reset();
}

void UploadQueueOrder::RenumberInOrder(const std::vector<std::pair<Handle, int>>& i_entries)
{
    for (const auto& [l_handle, l_node] : m_nodes)
    {
        if (!l_node->placed)
            continue;
        Unthread(l_node.get());
        l_node->placed = false;
    }
    mp_waiting = mp_others = nullptr;
    m_candidates.clear();
    m_placed = 0;
    for (auto& [l_handle, l_user] : m_users)
    {
        l_user->candidate = false;
        l_user->placed.clear();
    }
    std::int64_t l_place = 0;
    for (const auto& [l_entry, l_order] : i_entries)
    {
        Node* lp_node = NodeOf(l_entry);
        if (!lp_node || !lp_node->user || lp_node->placed)
            continue;
        Place(l_entry, l_place++, l_order);
    }
}

std::optional<std::int64_t> UploadQueueOrder::PlaceOf(Handle i_entry) const
{
    const Node* lp_node = NodeOf(i_entry);
    if (!lp_node || !lp_node->placed)
        return std::nullopt;
    return PlaceOfNode(lp_node);
}

UploadQueueOrder::Handle UploadQueueOrder::Last() const
{
    const Node* lp_last = nullptr;
    for (const Node* lp_tree : {mp_waiting, mp_others})
    {
        const Node* lp_right = Rightmost(const_cast<Node*>(lp_tree));
        if (lp_right && (!lp_last || Less(KeyOf(lp_last), KeyOf(lp_right))))
            lp_last = lp_right;
    }
    return lp_last ? lp_last->entry : nullptr;
}

UploadQueueOrder::Handle UploadQueueOrder::NextToStart() const
{
    return m_candidates.empty() ? nullptr : (*m_candidates.begin())->firstWaiting->entry;
}

int UploadQueueOrder::QueuedOf(Handle i_user) const
{
    const User* lp_user = UserOf(i_user);
    return lp_user ? lp_user->queued : 0;
}

int UploadQueueOrder::ActiveOf(Handle i_user) const
{
    const User* lp_user = UserOf(i_user);
    return lp_user ? lp_user->active : 0;
}

void UploadQueueOrder::SetOnline(Handle i_user, bool i_online)
{
    User* lp_user = UserOf(i_user);
    if (!lp_user || lp_user->online == i_online)
        return;
    DropCandidate(lp_user);
    if (i_online)
        MoveQueued(lp_user, mp_others, mp_waiting);
    else
        MoveQueued(lp_user, mp_waiting, mp_others);
    lp_user->online = i_online;
    RefreshCandidate(lp_user);
}

// The user's queued entries lie in order in its own tree; each is found in the tree it leaves,
// with all of the user's queued entries that follow it there, and that run goes at once.
void UploadQueueOrder::MoveQueued(User* ip_user, Node*& io_from, Node*& io_to)
{
    const std::size_t l_total = std::size_t(USize(ip_user->queue));
    std::size_t l_moved = 0;
    while (l_moved < l_total)
    {
        Node* lp_first = UAt(ip_user->queue, l_moved);
        Node* lp_before = nullptr;
        Node* lp_rest = nullptr;
        SplitCount(io_from, Rank(lp_first), lp_before, lp_rest);
        Node* lp_run = nullptr;
        SplitCount(lp_rest, LeadingOfKind(lp_rest, KindOf(lp_first)), lp_run, lp_rest);
        io_from = Join(lp_before, lp_rest);
        Detach(io_from);
        l_moved += std::size_t(Size(lp_run));
        MergeInto(io_to, lp_run);
    }
}

void UploadQueueOrder::SetUserClass(Handle i_user, std::int64_t i_class)
{
    User* lp_user = UserOf(i_user);
    if (!lp_user || lp_user->userClass == i_class)
        return;
    lp_user->userClass = i_class;
    for (Node* lp_node : lp_user->placed)
    {
        lp_node->userClass = i_class;
        Reaugment(lp_node);
    }
}

void UploadQueueOrder::DropCandidate(User* ip_user)
{
    if (!ip_user->candidate)
        return;
    m_candidates.erase(ip_user->position);
    ip_user->candidate = false;
}

void UploadQueueOrder::RefreshCandidate(User* ip_user)
{
    DropCandidate(ip_user);
    if (!ip_user->online || ip_user->active > 0 || !ip_user->queue)
        return;
    Node* lp_first = ip_user->queue;
    while (lp_first->own.left)
        lp_first = lp_first->own.left;
    ip_user->firstWaiting = lp_first;
    ip_user->position = m_candidates.insert(ip_user).first;
    ip_user->candidate = true;
}
