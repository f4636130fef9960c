#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <vector>

#include "transfers/UploadQueueOrder.h"

namespace
{
using State = UploadQueueOrder::State;
using Handle = UploadQueueOrder::Handle;

// The queue's numbering done the plain way: every list sorted and numbered afresh.
struct PlainOrder
{
    struct Entry
    {
        Handle user = nullptr;
        State state = State::None;
        bool placed = false;
        std::int64_t place = 0;
        int order = 0;
    };
    struct User
    {
        bool online = false;
        std::int64_t userClass = 0;
    };
    std::map<Handle, Entry> entries;
    std::map<Handle, User> users;

    static bool ByPlace(const std::pair<Handle, Entry*>& i_a, const std::pair<Handle, Entry*>& i_b)
    {
        if (i_a.second->place != i_b.second->place)
            return i_a.second->place < i_b.second->place;
        return std::less<Handle>()(i_a.first, i_b.first);
    }
    std::vector<std::pair<Handle, Entry*>> Sorted(const std::function<bool(const Entry&)>& i_which)
    {
        std::vector<std::pair<Handle, Entry*>> l_sorted;
        for (auto& [l_handle, l_entry] : entries)
            if (l_entry.placed && i_which(l_entry))
                l_sorted.emplace_back(l_handle, &l_entry);
        std::stable_sort(l_sorted.begin(), l_sorted.end(), ByPlace);
        return l_sorted;
    }
    bool Waiting(const Entry& i_entry) { return i_entry.state == State::Queued && users[i_entry.user].online; }
    void Renumber()
    {
        std::int64_t l_place = 0;
        for (auto& l_entry : Sorted([this](const Entry& i_entry) { return Waiting(i_entry); }))
            l_entry.second->place = l_place++;
    }
    void PlaceRenumbering(Handle i_entry, int i_order)
    {
        auto l_all = Sorted([](const Entry&) { return true; });
        Entry& l_new = entries[i_entry];
        const std::int64_t l_class = users[l_new.user].userClass;
        const auto l_before = std::find_if(l_all.begin(), l_all.end(), [&](const auto& i_other) {
            const std::int64_t l_other = users[i_other.second->user].userClass;
            return l_class != l_other ? l_class > l_other : i_order < i_other.second->order;
        });
        l_all.insert(l_before, {i_entry, &l_new});
        l_new.placed = true;
        l_new.order = i_order;
        std::int64_t l_place = 1;
        for (auto& l_entry : l_all)
            l_entry.second->place = l_place++;
    }
    Handle Last()
    {
        const auto l_all = Sorted([](const Entry&) { return true; });
        return l_all.empty() ? nullptr : l_all.back().first;
    }
    Handle NextToStart()
    {
        for (const auto& l_entry : Sorted([this](const Entry& i_entry) { return Waiting(i_entry); }))
            if (Active(l_entry.second->user) == 0)
                return l_entry.first;
        return nullptr;
    }
    int Count(Handle i_user, State i_state)
    {
        return int(std::count_if(entries.begin(), entries.end(), [&](const auto& i_entry) {
            return i_entry.second.user == i_user && i_entry.second.state == i_state;
        }));
    }
    int Active(Handle i_user) { return Count(i_user, State::Active); }
};

// Handles whose address order is not the order they were made in, so that ties go every way.
std::vector<Handle> ShuffledHandles(std::size_t i_count, std::mt19937& io_random)
{
    static char s_pool[4096];
    std::vector<Handle> l_handles;
    for (std::size_t l_at = 0; l_at < i_count; ++l_at)
        l_handles.push_back(&s_pool[l_at * 2]);
    std::shuffle(l_handles.begin(), l_handles.end(), io_random);
    return l_handles;
}
} // namespace

// Seeded runs of every operation, each followed by a comparison of every place, the last entry,
// the next to start and the counts with the plain numbering's.
TEST(UploadQueueOrder, KeepsEveryPlaceTheQueuesNumberingGives)
{
    struct Mix
    {
        const char* name;
        int users;
        int classes;
        int steps;
        // Weights of: new entry, new before, renumber, state, online, class, forget, renumber all.
        std::vector<int> weights;
    };
    const Mix l_mixes[] = {
        {"one user, mostly new entries and starts", 1, 1, 600, {30, 0, 20, 30, 5, 0, 5, 1}},
        {"few users, classes and flips", 4, 3, 900, {25, 10, 20, 25, 15, 5, 8, 1}},
        {"many users, every operation", 12, 4, 1200, {20, 12, 20, 25, 15, 5, 10, 1}},
        {"renumbering from 1 in bursts", 5, 5, 900, {10, 40, 25, 20, 10, 5, 5, 0}},
    };
    for (const Mix& l_mix : l_mixes)
        for (unsigned l_seed : {1u, 2u, 3u})
        {
            SCOPED_TRACE(::testing::Message() << l_mix.name << ", seed " << l_seed);
            std::mt19937 l_random(l_seed);
            const std::vector<Handle> l_handles = ShuffledHandles(600, l_random);
            std::vector<Handle> l_users(l_handles.begin(), l_handles.begin() + l_mix.users);
            std::size_t l_nextHandle = std::size_t(l_mix.users);
            UploadQueueOrder l_order;
            PlainOrder l_plain;
            const auto l_pick = [&](int i_below) { return int(l_random() % unsigned(i_below)); };
            for (Handle l_user : l_users)
            {
                const bool l_online = l_pick(2) == 0;
                const std::int64_t l_class = l_pick(l_mix.classes);
                l_order.AddUser(l_user, l_online, l_class);
                l_plain.users[l_user] = {l_online, l_class};
            }
            std::vector<Handle> l_entries;
            int l_arrival = 1;
            std::discrete_distribution<int> l_operation(l_mix.weights.begin(), l_mix.weights.end());
            for (int l_step = 0; l_step < l_mix.steps; ++l_step)
            {
                const int l_what = l_operation(l_random);
                const bool l_new = (l_what <= 1 || l_entries.empty()) && l_nextHandle < l_handles.size();
                if (l_new)
                {
                    const Handle l_entry = l_handles[l_nextHandle++];
                    const Handle l_user = l_users[std::size_t(l_pick(l_mix.users))];
                    l_entries.push_back(l_entry);
                    // A user is known while it has entries.
                    l_order.AddUser(l_user, l_plain.users[l_user].online, l_plain.users[l_user].userClass);
                    l_order.SetState(l_entry, l_user, State::Queued);
                    l_plain.entries[l_entry] = {l_user, State::Queued};
                    const int l_arrived = l_arrival++;
                    const Handle l_last = l_plain.Last();
                    if (l_what == 1 && l_last)
                    {
                        l_order.PlaceRenumbering(l_entry, l_arrived);
                        l_plain.PlaceRenumbering(l_entry, l_arrived);
                    }
                    else
                    {
                        const std::int64_t l_place = l_last ? l_plain.entries[l_last].place + 1 : 1;
                        l_order.Place(l_entry, l_place, l_arrived);
                        auto& l_placed = l_plain.entries[l_entry];
                        l_placed.placed = true;
                        l_placed.place = l_place;
                        l_placed.order = l_arrived;
                    }
                }
                else if (l_what == 2)
                {
                    l_order.Renumber();
                    l_plain.Renumber();
                }
                else if (l_what == 3 && !l_entries.empty())
                {
                    const Handle l_entry = l_entries[std::size_t(l_pick(int(l_entries.size())))];
                    const State l_state = State(1 + l_pick(3));
                    l_order.SetState(l_entry, l_plain.entries[l_entry].user, l_state);
                    l_plain.entries[l_entry].state = l_state;
                }
                else if (l_what == 4)
                {
                    const Handle l_user = l_users[std::size_t(l_pick(l_mix.users))];
                    const bool l_online = !l_plain.users[l_user].online;
                    l_order.SetOnline(l_user, l_online);
                    l_plain.users[l_user].online = l_online;
                }
                else if (l_what == 5)
                {
                    const Handle l_user = l_users[std::size_t(l_pick(l_mix.users))];
                    const std::int64_t l_class = l_pick(l_mix.classes);
                    l_order.SetUserClass(l_user, l_class);
                    l_plain.users[l_user].userClass = l_class;
                }
                else if (l_what == 6 && !l_entries.empty())
                {
                    const std::size_t l_at = std::size_t(l_pick(int(l_entries.size())));
                    l_order.Forget(l_entries[l_at]);
                    l_plain.entries.erase(l_entries[l_at]);
                    l_entries.erase(l_entries.begin() + std::ptrdiff_t(l_at));
                }
                else if (l_what == 7)
                {
                    std::vector<std::pair<Handle, int>> l_all;
                    for (Handle l_entry : l_entries)
                        l_all.emplace_back(l_entry, l_plain.entries[l_entry].order);
                    std::shuffle(l_all.begin(), l_all.end(), l_random);
                    l_order.RenumberInOrder(l_all);
                    std::int64_t l_place = 0;
                    for (const auto& [l_entry, l_arrived] : l_all)
                        l_plain.entries[l_entry].place = l_place++;
                }

                ASSERT_EQ(l_order.Last(), l_plain.Last()) << "step " << l_step;
                ASSERT_EQ(l_order.NextToStart(), l_plain.NextToStart()) << "step " << l_step;
                for (Handle l_entry : l_entries)
                {
                    const auto& l_expected = l_plain.entries[l_entry];
                    ASSERT_EQ(l_order.PlaceOf(l_entry),
                              l_expected.placed ? std::optional<std::int64_t>(l_expected.place) : std::nullopt)
                        << "step " << l_step;
                }
                for (Handle l_user : l_users)
                {
                    ASSERT_EQ(l_order.QueuedOf(l_user), l_plain.Count(l_user, State::Queued));
                    ASSERT_EQ(l_order.ActiveOf(l_user), l_plain.Active(l_user));
                }
            }
        }
}
