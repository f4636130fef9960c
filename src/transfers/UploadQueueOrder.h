#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

// The places in line of our uploads, and which waiting upload is asked for next, without walking
// the queue on every event.
//
// Every upload entry with a place holds a number, its place: entries are served by place, ties
// going by identity. A waiting entry (queued, its user online) takes the place the last
// renumbering gave it; numbers of the others stay as they were. The numbering the queue asks for
// (all waiting entries from 0 in their present order; all entries from 1 with a new one put
// before the first it goes before) is kept as a mark on a subtree, "the nodes below are numbered
// from this base in their order", so it costs one mark however many entries wait; a node's
// number is read from the marks above it.
//
// The entries live in two trees ordered by (place, identity): the waiting ones, and all the
// others (running, finished, and queued ones of users who are offline). Each user's queued
// entries are also threaded, in the same order, through a small tree of the user's own, so that
// a user going offline or online moves them between the two trees a run at a time, a run being
// entries of that user that lie next to each other. Numbering everything from 1 moves ranges of
// places while the places still run as the last such numbering left them (new entries last,
// removed ones leaving gaps); otherwise it walks the two trees a run at a time, or merges them
// node by node when they interleave finely.
//
// Entries and users are known by opaque handles (the store's item addresses); ties between equal
// places go by the handles' address order, as the store's sorts keep them.
class UploadQueueOrder
{
public:
    using Handle = const void*;
    enum class State
    {
        None,
        Queued,
        Active,
        Finished
    };

    UploadQueueOrder();
    ~UploadQueueOrder();
    UploadQueueOrder(const UploadQueueOrder&) = delete;
    UploadQueueOrder& operator=(const UploadQueueOrder&) = delete;

    // A user's standing: whether online, and its class, the higher served first. Known from its
    // first entry until its last is forgotten; the caller keeps both true meanwhile.
    bool KnowsUser(Handle i_user) const;
    void AddUser(Handle i_user, bool i_online, std::int64_t i_class);
    void SetOnline(Handle i_user, bool i_online);
    void SetUserClass(Handle i_user, std::int64_t i_class);

    // An entry's status, recorded for every entry, placed or not; the user must be known (or
    // null, when the entry has none).
    void SetState(Handle i_entry, Handle i_user, State i_state);
    // The entry is gone.
    void Forget(Handle i_entry);

    // Gives a recorded entry the place given; i_order is its arrival number as the queue compares
    // arrival numbers.
    void Place(Handle i_entry, std::int64_t i_place, int i_order);
    // Puts a recorded entry before the first placed entry, in place order, that it goes before
    // (by class, then by arrival), or last, and numbers every placed entry from 1 in that order.
    void PlaceRenumbering(Handle i_entry, int i_order);
    // Numbers the waiting entries from 0 in their present order.
    void Renumber();
    // Numbers the entries given from 0 in the order given (unknown or user-less ones are skipped)
    // and leaves the others without a place.
    void RenumberInOrder(const std::vector<std::pair<Handle, int>>& i_entries);

    std::optional<std::int64_t> PlaceOf(Handle i_entry) const;
    // The placed entry with the highest place, ties by identity; null when none is placed.
    Handle Last() const;
    // The first waiting entry, in place order, whose user has nothing running; null when none.
    Handle NextToStart() const;

    int QueuedOf(Handle i_user) const;
    int ActiveOf(Handle i_user) const;

private:
    struct Node;
    struct User;
    struct Key
    {
        std::int64_t place;
        Handle entry;
    };
    struct ByFirstWaiting
    {
        bool operator()(const User* ip_a, const User* ip_b) const;
    };
    using Candidates = std::set<User*, ByFirstWaiting>;
    // What a tree operation needs of the tree it works in.
    struct InPlaces;
    struct InUser;
    template <class Side>
    static void SplitKeyIn(Node* ip_tree, const Key& i_key, Node*& o_less, Node*& o_rest);
    template <class Side>
    static Node* JoinIn(Node* ip_a, Node* ip_b);
    template <class Side>
    static void RemoveIn(Node*& io_root, Node* ip_node);

    // ---- the two trees of placed entries, ordered by key ----
    static int Size(const Node* ip_node);
    static void Update(Node* ip_node);
    static void Push(Node* ip_node);
    static void Tag(Node* ip_tree, bool i_assign, std::int64_t i_base, std::int64_t i_add);
    static std::int64_t PlaceOfNode(const Node* ip_node);
    static Key KeyOf(const Node* ip_node);
    static bool Less(const Key& i_a, const Key& i_b);
    static std::size_t Rank(const Node* ip_node);
    static const Node* RootOf(const Node* ip_node);
    static void SplitKey(Node* ip_tree, const Key& i_key, Node*& o_less, Node*& o_rest);
    static void SplitCount(Node* ip_tree, std::size_t i_count, Node*& o_first, Node*& o_rest);
    static Node* Join(Node* ip_a, Node* ip_b);
    static void Detach(Node* ip_root);
    static Node* Leftmost(Node* ip_tree);
    static Node* Rightmost(Node* ip_tree);
    static void Mark(Node* ip_tree, std::int64_t i_base);
    static void InsertByKey(Node*& io_root, Node* ip_node);
    static void RemoveNode(Node*& io_root, Node* ip_node);
    static void Reaugment(Node* ip_node);
    // The count of leading nodes of that kind.
    static std::size_t LeadingOfKind(Node* ip_tree, std::uintptr_t i_kind);
    // The first node, in order, that the new entry goes before; null when none.
    static Node* FirstServedAfter(Node* ip_tree, std::int64_t i_class, int i_order);
    static bool GoesBefore(std::int64_t i_class, int i_order, const Node* ip_other);
    // The block's nodes join the tree, each where its key puts it.
    static void MergeInto(Node*& io_tree, Node* ip_block);
    static void Flatten(Node* ip_tree, std::vector<Node*>& o_nodes);
    static Node* Build(const std::vector<Node*>& i_nodes);
    static void UpdateAll(Node* ip_tree);

    // ---- each user's queued entries, in the order of the tree they lie in ----
    static int USize(const Node* ip_node);
    static void UUpdate(Node* ip_node);
    static void UInsert(Node*& io_root, Node* ip_node);
    static Node* UAt(Node* ip_tree, std::size_t i_index);

    Node* NodeOf(Handle i_entry) const;
    User* UserOf(Handle i_user) const;
    bool IsWaiting(const Node* ip_node) const;
    std::uintptr_t KindOf(const Node* ip_node) const;
    Node*& TreeOf(const Node* ip_node);
    // Takes a placed node out of its trees, its place kept on it.
    void Unthread(Node* ip_node);
    // Puts a placed node, its place on it, where its state and user put it.
    void Thread(Node* ip_node);
    // Moves every queued entry of the user between the trees, a run at a time.
    void MoveQueued(User* ip_user, Node*& io_from, Node*& io_to);
    void DropCandidate(User* ip_user);
    void RefreshCandidate(User* ip_user);
    void Count(Node* ip_node, int i_sign);
    // Every placed entry numbered from 1 in key order, the new one taking the place of the entry
    // given (or the last): the place it takes is returned.
    std::int64_t RenumberDense(Node* ip_before);
    std::int64_t RenumberInterleaved(Node* ip_before);
    // Every node at or after that place moves by so much.
    void MoveFrom(std::int64_t i_place, std::int64_t i_by);
    // A placed entry went; its place is a gap while the places are dense.
    void NoteGone(std::int64_t i_place);

    Node* mp_waiting = nullptr;
    Node* mp_others = nullptr;
    std::unordered_map<Handle, std::unique_ptr<Node>> m_nodes;
    std::unordered_map<Handle, std::unique_ptr<User>> m_users;
    std::size_t m_placed = 0;
    // Known while the places are distinct and run from the lowest to the highest but for gaps
    // that removals left, in the order of the keys: as the numbering from 1 leaves them, until
    // the waiting entries are numbered apart from the others.
    struct Dense
    {
        std::int64_t lowest;
        std::int64_t highest;
        std::set<std::int64_t> gaps;
    };
    std::optional<Dense> m_dense;
    Candidates m_candidates;
    std::minstd_rand m_random;
};
