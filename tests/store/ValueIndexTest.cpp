// Values found by their bytes: hashed one at a time or in bulk alike, and items made in bulk,
// whether announced one by one or taken in together, end up the same.
#include <QRandomGenerator>

#include <random>

#include "StoreTesting.h"

// The bulk hashing takes values eight at a time where the processor allows; every length and
// every place in memory gives what hashing one value gives, for batches of any size.
TEST(StoreValueIndex, HashingInBulkGivesEachValuesOwnHash)
{
    std::string l_bytes(400, '\0');
    QRandomGenerator(5).generate(l_bytes.begin(), l_bytes.end());
    std::vector<std::string_view> l_values;
    for (std::size_t l_length = 0; l_length <= 70; ++l_length)
        for (std::size_t l_offset : {0, 1, 3, 7, 8, 13})
            l_values.emplace_back(l_bytes.data() + l_offset + l_length, l_length);
    std::shuffle(l_values.begin(), l_values.end(), std::mt19937(2));
    for (std::size_t l_batch : {1, 7, 8, 9, 16, 23, 64})
        for (std::size_t l_first = 0; l_first + l_batch <= l_values.size(); l_first += l_batch)
        {
            std::vector<std::uint64_t> l_hashes(l_batch);
            ValueIndex::HashAll(l_values.data() + l_first, l_batch, l_hashes.data());
            for (std::size_t l_k = 0; l_k < l_batch; ++l_k)
                ASSERT_EQ(l_hashes[l_k], ValueIndex::Hash(l_values[l_first + l_k]))
                    << "length " << l_values[l_first + l_k].size() << " in a batch of " << l_batch;
        }
}

// Many values at once: with nobody listening they are made and then taken into the index
// together; with a listener, one by one. Both merge a value made twice, or already there, into
// one item, keep the first of each value, and leave every value findable, short or long.
TEST(StoreValueIndex, ManyItemsMadeAtOnceMergeAndAreFoundAsOneByOne)
{
    Type* quiet = d.NewType("quiet", Leaf, false, false);
    Type* heard = d.NewType("heard", Leaf, false, false);
    std::vector<std::string> texts;
    for (int n = 0; n < 5000; ++n)
        texts.push_back(n % 7 == 0 ? "twice " + std::to_string(n / 14) : "value " + std::to_string(n));
    texts.push_back(std::string(Item::InPlace, 'p'));
    texts.push_back(std::string(Item::InPlace + 1, 'q'));
    texts.push_back(std::string(5000, 'r'));
    texts.push_back("");
    texts.push_back(std::string("nul\0inside", 10));
    std::vector<std::string_view> views(texts.begin(), texts.end());
    std::vector<std::uint64_t> hashes(views.size());
    ValueIndex::HashAll(views.data(), views.size(), hashes.data());

    EventTap tap;
    tap.WatchType(heard);
    std::vector<Item*> made[2];
    for (Type* type : {quiet, heard})
    {
        ItemPtr before = type->NewItem(Value("value 3"));
        std::vector<Item*>& items = made[type == heard];
        items.resize(views.size());
        type->NewItems(views.data(), hashes.data(), views.size(), items.data());
        EXPECT_EQ(items[3], before.Get()) << type->GetName();
    }
    const std::set<std::string> distinct(texts.begin(), texts.end());
    EXPECT_EQ(quiet->ItemCount(), distinct.size());
    EXPECT_EQ(heard->ItemCount(), distinct.size());
    EXPECT_EQ(tap.calls.size(), distinct.size()) << "each new item announced once";
    for (std::size_t k = 0; k < texts.size(); ++k)
        for (Type* type : {quiet, heard})
        {
            Item* item = made[type == heard][k];
            ASSERT_TRUE(item && item->GetValue().Bytes() == texts[k]) << k;
            ASSERT_EQ(type->HasItem(Value(texts[k])).Get(), item) << k;
            // The first item of a value is the one every later one merged into.
            const std::size_t first = static_cast<std::size_t>(std::find(texts.begin(), texts.end(), texts[k]) - texts.begin());
            ASSERT_EQ(made[type == heard][first], item) << k;
        }
    for (Type* type : {quiet, heard})
    {
        type->RemoveAllItems();
        EXPECT_EQ(type->ItemCount(), 0u);
        EXPECT_FALSE(type->HasItem(Value(std::string(5000, 'r'))));
    }
}
