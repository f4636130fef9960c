#include "store/DataSaver.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QtEndian>

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store/Data.h"

DataSaver* dataSaver = nullptr;

// The writer's mark on an item: the file index it gets in the save under way.
struct ItemFileIndex
{
    static int& Of(Item* ip_item) { return ip_item->m_scratch; }
};

namespace
{
// The file is written and read in chunks of this size, not field by field.
constexpr std::size_t g_chunkSize = std::size_t(1) << 20;

// Collects the fields of the file and hands them to the file in large writes. Every write must
// take all its bytes; anything less is a failed save.
class OutputBuffer
{
public:
    OutputBuffer(QFile& io_file, qint64 i_limit)
        : m_file(io_file), m_limit(i_limit), m_buffer(g_chunkSize)
    {
    }

    void Append(const char* ip_data, std::size_t i_size)
    {
        if (m_used + i_size > m_buffer.size())
        {
            Flush();
            if (i_size > m_buffer.size())
            {
                WriteOut(ip_data, i_size);
                return;
            }
        }
        std::memcpy(m_buffer.data() + m_used, ip_data, i_size);
        m_used += i_size;
    }

    void AppendInt(qint32 i_value)
    {
        if (m_used + 4 > m_buffer.size())
            Flush();
        qToLittleEndian<qint32>(i_value, m_buffer.data() + m_used);
        m_used += 4;
    }

    void Flush()
    {
        if (m_used == 0)
            return;
        WriteOut(m_buffer.data(), m_used);
        m_used = 0;
    }

private:
    void WriteOut(const char* ip_data, std::size_t i_size)
    {
        qint64 l_size = static_cast<qint64>(i_size);
        bool l_cut = false;
        if (m_limit >= 0 && m_written + l_size > m_limit)
        {
            l_size = m_limit - m_written;
            l_cut = true;
        }
        if (m_file.write(ip_data, l_size) != l_size || l_cut)
            throw DataSaveFailure();
        m_written += l_size;
    }

    QFile& m_file;
    qint64 m_limit;
    qint64 m_written = 0;
    std::vector<char> m_buffer;
    std::size_t m_used = 0;
};

// Reads the file in large chunks and knows how many bytes are left, so that every length and
// count can be checked against them before anything is allocated for it. A buffer that keeps
// what it read holds every chunk until it goes, so that values can be taken from where they
// lie in them; otherwise one chunk is read over and over.
class InputBuffer
{
public:
    InputBuffer(QFile& io_file, bool i_keeping)
        : m_file(io_file), m_keeping(i_keeping), m_left(io_file.size())
    {
    }

    qint64 Left() const { return m_left; }

    // The next bytes when that many lie in the chunk read, refilling it first when it is used
    // up; null when they straddle two chunks or the file ends sooner.
    const char* Within(std::size_t i_size)
    {
        if (m_position == m_end && m_left > 0)
            Refill();
        return m_end - m_position >= i_size ? mp_chunk + m_position : nullptr;
    }
    std::size_t Available() const { return m_end - m_position; }
    // Only over bytes that Within has shown.
    void Advance(std::size_t i_size)
    {
        m_position += i_size;
        m_left -= static_cast<qint64>(i_size);
    }

    // The next bytes as a string: straight from the chunk when they lie within it.
    void TakeString(std::string& o_bytes, std::size_t i_size)
    {
        if (static_cast<qint64>(i_size) > m_left)
            throw DataLoadFailure();
        if (m_end - m_position >= i_size)
        {
            o_bytes.assign(mp_chunk + m_position, i_size);
            m_position += i_size;
            m_left -= static_cast<qint64>(i_size);
            return;
        }
        o_bytes.assign(i_size, '\0');
        if (i_size > 0)
            Take(&o_bytes[0], i_size);
    }

    // Bytes that lie in no chunk whole, kept as long as the chunks are.
    std::string_view Keep(std::string&& i_bytes)
    {
        m_pieces.push_back(std::move(i_bytes));
        return m_pieces.back();
    }

    void Skip(std::size_t i_size) { Take(nullptr, i_size); }

    // Without a place to put them, the bytes are only read past.
    void Take(char* op_data, std::size_t i_size)
    {
        if (static_cast<qint64>(i_size) > m_left)
            throw DataLoadFailure();
        while (i_size > 0)
        {
            if (m_position == m_end)
                Refill();
            const std::size_t l_part = std::min(i_size, m_end - m_position);
            if (op_data)
            {
                std::memcpy(op_data, mp_chunk + m_position, l_part);
                op_data += l_part;
            }
            m_position += l_part;
            i_size -= l_part;
            m_left -= static_cast<qint64>(l_part);
        }
    }

private:
    void Refill()
    {
        if (!mp_chunk || m_keeping)
        {
            const std::size_t l_size = static_cast<std::size_t>(
                std::min<qint64>(std::max<qint64>(m_left, 1), qint64(g_chunkSize)));
            // Left uninitialised: the read fills what is used.
            std::unique_ptr<char[]> l_chunk(new char[l_size]);
            m_chunks.push_back(std::move(l_chunk));
            mp_chunk = m_chunks.back().get();
            m_chunkSize = l_size;
        }
        const qint64 l_read = m_file.read(mp_chunk, static_cast<qint64>(m_chunkSize));
        if (l_read <= 0)
            throw DataLoadFailure();
        m_position = 0;
        m_end = static_cast<std::size_t>(l_read);
    }

    QFile& m_file;
    const bool m_keeping;
    qint64 m_left;
    std::vector<std::unique_ptr<char[]>> m_chunks;
    std::deque<std::string> m_pieces;
    char* mp_chunk = nullptr;
    std::size_t m_chunkSize = 0;
    std::size_t m_position = 0;
    std::size_t m_end = 0;
};

// ---- Field codecs: little-endian int32, one-byte flags, counted byte strings ----

template <class T>
void WriteType(OutputBuffer& io_out, T i_value);

template <>
void WriteType<int>(OutputBuffer& io_out, int i_value)
{
    io_out.AppendInt(i_value);
}

template <>
void WriteType<bool>(OutputBuffer& io_out, bool i_value)
{
    const char l_byte = i_value ? 1 : 0;
    io_out.Append(&l_byte, 1);
}

void WriteString(OutputBuffer& io_out, std::string_view i_bytes)
{
    if (i_bytes.size() > static_cast<std::size_t>(std::numeric_limits<qint32>::max()))
        throw DataSaveFailure();
    WriteType<int>(io_out, static_cast<int>(i_bytes.size()));
    io_out.Append(i_bytes.data(), i_bytes.size());
}

template <class T>
void ReadType(InputBuffer& io_in, T& o_value);

template <>
void ReadType<int>(InputBuffer& io_in, int& o_value)
{
    char l_bytes[4];
    io_in.Take(l_bytes, sizeof l_bytes);
    o_value = qFromLittleEndian<qint32>(l_bytes);
}

template <>
void ReadType<char>(InputBuffer& io_in, char& o_value)
{
    io_in.Take(&o_value, 1);
}

// A count of entries that each take at least i_entryBytes of the file: one that is negative or
// could not fit into the rest of the file is damage.
void CheckCount(const InputBuffer& i_in, int i_count, qint64 i_entryBytes)
{
    if (i_count < 0 || qint64(i_count) * i_entryBytes > i_in.Left())
        throw DataLoadFailure();
}

// Keeps the bytes up to the first NUL, as values have always been read back.
void ReadString(InputBuffer& io_in, std::string& o_bytes)
{
    int l_length = 0;
    ReadType<int>(io_in, l_length);
    CheckCount(io_in, l_length, 1);
    io_in.TakeString(o_bytes, static_cast<std::size_t>(l_length));
    o_bytes.resize(strnlen(o_bytes.data(), o_bytes.size()));
}

// Reads past a string that nothing keeps.
void SkipString(InputBuffer& io_in)
{
    int l_length = 0;
    ReadType<int>(io_in, l_length);
    CheckCount(io_in, l_length, 1);
    io_in.Skip(static_cast<std::size_t>(l_length));
}

// ---- Writing ----

// One type block: the items written, in identity order, numbered from m_firstIndex on.
struct Block
{
    Type* mp_type = nullptr;
    std::vector<Item*> m_items;
    int m_firstIndex = 0;
};

bool ConnectedToAny(const Item* ip_item, const std::set<Type*>& i_types)
{
    for (Type* lp_type : i_types)
        if (ip_item->IsConnected(lp_type))
            return true;
    return false;
}

// Identity order, as item sets have it: the addresses sorted a digit at a time, skipping the
// bits that all of them share.
void SortByIdentity(std::vector<Item*>& io_items)
{
    if (io_items.size() < 1024)
    {
        std::sort(io_items.begin(), io_items.end(), std::less<Item*>());
        return;
    }
    const auto l_address = [](const Item* ip_item) { return reinterpret_cast<std::uintptr_t>(ip_item); };
    std::uintptr_t l_differing = 0;
    for (const Item* lp_item : io_items)
        l_differing |= l_address(lp_item) ^ l_address(io_items.front());
    if (l_differing == 0)
        return;
    constexpr int l_digitBits = 8;
    constexpr std::size_t l_digits = std::size_t(1) << l_digitBits;
    int l_shift = __builtin_ctzll(l_differing);
    const int l_end = 64 - __builtin_clzll(l_differing);
    std::vector<Item*> l_other(io_items.size());
    std::vector<std::size_t> l_counts(l_digits);
    for (; l_shift < l_end; l_shift += l_digitBits)
    {
        std::fill(l_counts.begin(), l_counts.end(), 0);
        for (const Item* lp_item : io_items)
            ++l_counts[(l_address(lp_item) >> l_shift) & (l_digits - 1)];
        std::size_t l_start = 0;
        for (std::size_t& l_count : l_counts)
            l_start += std::exchange(l_count, l_start);
        for (Item* lp_item : io_items)
            l_other[l_counts[(l_address(lp_item) >> l_shift) & (l_digits - 1)]++] = lp_item;
        io_items.swap(l_other);
    }
}

// Each written item is marked with its file index, every other item of a written type with 0,
// so that a partner's index is read off the partner.
std::vector<Block> SelectBlocks(const std::set<Type*>& i_savedTypes,
                                const std::map<Type*, std::set<Type*>>& i_byConnection,
                                bool i_everything)
{
    std::vector<Block> l_blocks;
    qint64 l_nextIndex = 1;
    for (const auto& l_entry : d.Types())
    {
        Type* lp_type = l_entry.second;
        const bool l_saved = i_everything || i_savedTypes.count(lp_type) != 0;
        const auto l_conditions = i_byConnection.find(lp_type);
        if (!l_saved && l_conditions == i_byConnection.end())
            continue;
        Block l_block;
        l_block.mp_type = lp_type;
        // The same order as the type's item set yields, without building one.
        l_block.m_items = lp_type->AllItems();
        if (!lp_type->IsNull())
            SortByIdentity(l_block.m_items);
        if (!l_saved)
        {
            auto l_end = std::remove_if(
                l_block.m_items.begin(), l_block.m_items.end(), [&](Item* ip_item) {
                    if (ConnectedToAny(ip_item, l_conditions->second))
                        return false;
                    ItemFileIndex::Of(ip_item) = 0;
                    return true;
                });
            l_block.m_items.erase(l_end, l_block.m_items.end());
        }
        if (l_nextIndex + static_cast<qint64>(l_block.m_items.size()) - 1 >
            std::numeric_limits<qint32>::max())
            throw DataSaveFailure();
        l_block.m_firstIndex = static_cast<int>(l_nextIndex);
        int l_index = l_block.m_firstIndex;
        for (Item* lp_item : l_block.m_items)
            ItemFileIndex::Of(lp_item) = l_index++;
        l_nextIndex += static_cast<qint64>(l_block.m_items.size());
        l_blocks.push_back(std::move(l_block));
    }
    return l_blocks;
}

void WriteStore(OutputBuffer& io_out, const std::set<Type*>& i_savedTypes,
                const std::map<Type*, std::set<Type*>>& i_byConnection, bool i_everything)
{
    const std::vector<Block> l_blocks = SelectBlocks(i_savedTypes, i_byConnection, i_everything);
    std::unordered_map<const Type*, bool> l_written;
    for (const Block& l_block : l_blocks)
        l_written.emplace(l_block.mp_type, true);

    // Each connection is seen from both ends; only the end with the smaller index records it,
    // and walking the items in index order gives the pairs in ascending order. They are
    // written after the blocks, so they wait here already in the file's form.
    std::string l_pairs;
    std::size_t l_pairCount = 0;
    std::vector<int> l_partners;
    const Type* lp_lastType = nullptr;
    bool l_lastWritten = false;
    WriteType<int>(io_out, static_cast<int>(l_blocks.size()));
    for (const Block& l_block : l_blocks)
    {
        const bool l_valueless = l_block.mp_type->IsNull();
        WriteString(io_out, l_block.mp_type->GetName());
        WriteType<bool>(io_out, l_valueless);
        WriteType<int>(io_out, static_cast<int>(l_block.m_items.size()));
        int l_index = l_block.m_firstIndex;
        for (const Item* lp_item : l_block.m_items)
        {
            WriteType<int>(io_out, l_index);
            if (!l_valueless)
                WriteString(io_out, lp_item->GetValue().Bytes());
            l_partners.clear();
            const TypeItemsMap& l_connections = lp_item->Connections();
            for (auto l_type = l_connections.Begin(); l_type != l_connections.End(); ++l_type)
            {
                if (l_type.GetType() != lp_lastType)
                {
                    lp_lastType = l_type.GetType();
                    l_lastWritten = l_written.count(lp_lastType) != 0;
                }
                if (!l_lastWritten)
                    continue;
                l_type.Set()->ForEachMember([&](Item* ip_partner) {
                    const int l_partnerIndex = ItemFileIndex::Of(ip_partner);
                    if (l_partnerIndex > l_index)
                        l_partners.push_back(l_partnerIndex);
                });
            }
            if (l_partners.size() > 1)
                std::sort(l_partners.begin(), l_partners.end());
            for (int l_partnerIndex : l_partners)
            {
                char l_bytes[8];
                qToLittleEndian<qint32>(l_index, l_bytes);
                qToLittleEndian<qint32>(l_partnerIndex, l_bytes + 4);
                l_pairs.append(l_bytes, sizeof l_bytes);
            }
            l_pairCount += l_partners.size();
            ++l_index;
        }
    }
    if (l_pairCount > static_cast<std::size_t>(std::numeric_limits<qint32>::max()))
        throw DataSaveFailure();
    WriteType<int>(io_out, static_cast<int>(l_pairCount));
    io_out.Append(l_pairs.data(), l_pairs.size());
}

// ---- Reading ----

// The item records of the types still declared as they were, field by field: each value where
// it lies in the bytes read, up to its first NUL, with its hash, taken while the bytes are at
// hand; and the records' types in runs.
struct Records
{
    struct Run
    {
        Type* mp_type;
        std::size_t m_end;
    };

    std::vector<qint32> m_indexes;
    std::vector<std::string_view> m_values;
    std::vector<std::uint64_t> m_hashes;
    std::vector<Run> m_runs;
    // Whether the file has them in index order already.
    bool m_inOrder = true;

    std::size_t Size() const { return m_indexes.size(); }
};

// One item record's index and value. Most lie whole in the chunk read and are taken from it in
// place; the others go field by field, their value kept by the buffer.
void ReadRecord(InputBuffer& io_in, bool i_valueless, qint32& o_index, std::string_view& o_value)
{
    if (const char* lp_fields = io_in.Within(i_valueless ? 4 : 8))
    {
        o_index = qFromLittleEndian<qint32>(lp_fields);
        if (i_valueless)
        {
            io_in.Advance(4);
            return;
        }
        const qint32 l_length = qFromLittleEndian<qint32>(lp_fields + 4);
        if (l_length >= 0 && io_in.Available() - 8 >= static_cast<std::size_t>(l_length))
        {
            const char* lp_value = lp_fields + 8;
            o_value = std::string_view(lp_value, strnlen(lp_value, static_cast<std::size_t>(l_length)));
            io_in.Advance(8 + static_cast<std::size_t>(l_length));
            return;
        }
    }
    int l_index = 0;
    ReadType<int>(io_in, l_index);
    o_index = l_index;
    if (i_valueless)
        return;
    std::string l_value;
    ReadString(io_in, l_value);
    o_value = io_in.Keep(std::move(l_value));
}

// Reads past an item record that nothing keeps, in place when it lies whole in the chunk.
void SkipRecord(InputBuffer& io_in, bool i_valueless)
{
    if (const char* lp_fields = io_in.Within(i_valueless ? 4 : 8))
    {
        if (i_valueless)
        {
            io_in.Advance(4);
            return;
        }
        const qint32 l_length = qFromLittleEndian<qint32>(lp_fields + 4);
        if (l_length >= 0 && io_in.Available() - 8 >= static_cast<std::size_t>(l_length))
        {
            io_in.Advance(8 + static_cast<std::size_t>(l_length));
            return;
        }
    }
    io_in.Skip(4);
    if (!i_valueless)
        SkipString(io_in);
}

// A check keeps nothing.
Records ReadRecords(InputBuffer& io_in, bool i_checkOnly)
{
    Records l_records;
    int l_typeCount = 0;
    ReadType<int>(io_in, l_typeCount);
    // A type block takes at least its name length, valueless byte and item count.
    CheckCount(io_in, l_typeCount, 9);
    for (int l_block = 0; l_block < l_typeCount; ++l_block)
    {
        std::string l_name;
        ReadString(io_in, l_name);
        char l_valuelessByte = 0;
        ReadType<char>(io_in, l_valuelessByte);
        const bool l_valueless = l_valuelessByte != 0;
        int l_itemCount = 0;
        ReadType<int>(io_in, l_itemCount);
        CheckCount(io_in, l_itemCount, l_valueless ? 4 : 8);
        // Types no longer declared, or declared differently, are read past and dropped.
        Type* lp_type = i_checkOnly ? nullptr : d.HasType(l_name);
        if (lp_type && lp_type->IsNull() != l_valueless)
            lp_type = nullptr;
        if (!lp_type)
        {
            for (int l_item = 0; l_item < l_itemCount; ++l_item)
                SkipRecord(io_in, l_valueless);
            continue;
        }
        const std::size_t l_first = l_records.Size();
        const std::size_t l_end = l_first + static_cast<std::size_t>(l_itemCount);
        l_records.m_indexes.reserve(l_end);
        l_records.m_values.reserve(l_end);
        l_records.m_hashes.reserve(l_end);
        // Values are hashed a group at a time, right after they were read.
        constexpr std::size_t l_group = 8;
        std::size_t l_hashed = l_first;
        for (std::size_t l_at = l_first; l_at < l_end; ++l_at)
        {
            qint32 l_index = 0;
            std::string_view l_value;
            ReadRecord(io_in, l_valueless, l_index, l_value);
            if (l_at > 0 && l_records.m_indexes.back() >= l_index)
                l_records.m_inOrder = false;
            l_records.m_indexes.push_back(l_index);
            l_records.m_values.push_back(l_value);
            if (l_valueless)
                l_records.m_hashes.push_back(0);
            else if (l_at + 1 - l_hashed == l_group)
            {
                l_records.m_hashes.resize(l_at + 1);
                ValueIndex::HashAll(l_records.m_values.data() + l_hashed, l_group,
                                    l_records.m_hashes.data() + l_hashed);
                l_hashed += l_group;
            }
        }
        if (!l_valueless)
        {
            l_records.m_hashes.resize(l_end);
            ValueIndex::HashAll(l_records.m_values.data() + l_hashed, l_end - l_hashed,
                                l_records.m_hashes.data() + l_hashed);
        }
        if (!l_records.m_runs.empty() && l_records.m_runs.back().mp_type == lp_type)
            l_records.m_runs.back().m_end = l_end;
        else if (l_end > l_first)
            l_records.m_runs.push_back(Records::Run{lp_type, l_end});
    }
    return l_records;
}

// The pairs as stored, read in one go.
std::vector<std::pair<qint32, qint32>> ReadPairs(InputBuffer& io_in)
{
    int l_pairCount = 0;
    ReadType<int>(io_in, l_pairCount);
    CheckCount(io_in, l_pairCount, 8);
    std::vector<std::pair<qint32, qint32>> l_pairs(static_cast<std::size_t>(l_pairCount));
    io_in.Take(reinterpret_cast<char*>(l_pairs.data()), l_pairs.size() * sizeof l_pairs[0]);
    if (QSysInfo::ByteOrder != QSysInfo::LittleEndian)
        for (auto& l_pair : l_pairs)
            l_pair = {qFromLittleEndian(l_pair.first), qFromLittleEndian(l_pair.second)};
    return l_pairs;
}

// Records in index order, a repeated index keeping its last record. Files we write are
// already in order and numbered 1 to N.
void PutInIndexOrder(Records& io_records)
{
    if (io_records.m_inOrder)
        return;
    const std::size_t l_count = io_records.Size();
    std::vector<Type*> l_types(l_count);
    std::size_t l_at = 0;
    for (const Records::Run& l_run : io_records.m_runs)
        for (; l_at < l_run.m_end; ++l_at)
            l_types[l_at] = l_run.mp_type;
    std::vector<std::size_t> l_order(l_count);
    for (std::size_t l_k = 0; l_k < l_count; ++l_k)
        l_order[l_k] = l_k;
    const std::vector<qint32>& l_indexes = io_records.m_indexes;
    std::stable_sort(l_order.begin(), l_order.end(),
                     [&](std::size_t i_a, std::size_t i_b) { return l_indexes[i_a] < l_indexes[i_b]; });
    // Of records with one index, the last one read is the one kept.
    std::vector<std::size_t> l_kept;
    l_kept.reserve(l_count);
    for (std::size_t l_position : l_order)
    {
        if (!l_kept.empty() && l_indexes[l_kept.back()] == l_indexes[l_position])
            l_kept.back() = l_position;
        else
            l_kept.push_back(l_position);
    }
    Records l_sorted;
    l_sorted.m_indexes.reserve(l_kept.size());
    l_sorted.m_values.reserve(l_kept.size());
    l_sorted.m_hashes.reserve(l_kept.size());
    for (std::size_t l_position : l_kept)
    {
        l_sorted.m_indexes.push_back(io_records.m_indexes[l_position]);
        l_sorted.m_values.push_back(io_records.m_values[l_position]);
        l_sorted.m_hashes.push_back(io_records.m_hashes[l_position]);
        Type* lp_type = l_types[l_position];
        if (!l_sorted.m_runs.empty() && l_sorted.m_runs.back().mp_type == lp_type)
            ++l_sorted.m_runs.back().m_end;
        else
            l_sorted.m_runs.push_back(Records::Run{lp_type, l_sorted.m_indexes.size()});
    }
    io_records = std::move(l_sorted);
}

// The connections to make, as pairs of record positions in ascending order, each once: pairs
// that name an index without a record, or one item twice, are left out.
std::vector<std::pair<std::uint32_t, std::uint32_t>> ConnectionOrder(
    const std::vector<qint32>& i_indexes, const std::vector<std::pair<qint32, qint32>>& i_pairs)
{
    // Positions are counted in 32 bits; a file of more records than that is damage.
    if (i_indexes.size() >= std::numeric_limits<std::uint32_t>::max())
        throw DataLoadFailure();
    const std::size_t l_count = i_indexes.size();
    const bool l_dense = l_count == 0 || (i_indexes.front() == 1 &&
                                          i_indexes.back() == static_cast<qint64>(l_count));
    constexpr std::uint32_t l_none = std::numeric_limits<std::uint32_t>::max();
    const auto l_positionOf = [&](qint32 i_index) -> std::uint32_t {
        if (l_dense)
            return i_index >= 1 && static_cast<std::size_t>(i_index) <= l_count
                       ? static_cast<std::uint32_t>(i_index - 1)
                       : l_none;
        const auto l_found = std::lower_bound(i_indexes.begin(), i_indexes.end(), i_index);
        return l_found != i_indexes.end() && *l_found == i_index
                   ? static_cast<std::uint32_t>(l_found - i_indexes.begin())
                   : l_none;
    };
    // Record positions follow index order, so sorting by them is sorting by index.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> l_connections;
    l_connections.reserve(i_pairs.size());
    for (const auto& l_pair : i_pairs)
    {
        const std::uint32_t l_first = l_positionOf(l_pair.first);
        const std::uint32_t l_second = l_positionOf(l_pair.second);
        if (l_first != l_none && l_second != l_none && l_first != l_second)
            l_connections.emplace_back(l_first, l_second);
    }
    if (std::adjacent_find(l_connections.begin(), l_connections.end(),
                           [](const auto& i_a, const auto& i_b) { return !(i_a < i_b); }) !=
        l_connections.end())
    {
        std::sort(l_connections.begin(), l_connections.end());
        l_connections.erase(std::unique(l_connections.begin(), l_connections.end()),
                            l_connections.end());
    }
    return l_connections;
}

// The items of the records, in their order, into op_items. Creating a value that is already
// there (a default) merges into that item. Each run of records of one type is created in bulk.
void CreateItems(const Records& i_records, Item** op_items)
{
    std::size_t l_first = 0;
    for (const Records::Run& l_run : i_records.m_runs)
    {
        Type* lp_type = l_run.mp_type;
        if (lp_type->IsNull())
        {
            for (std::size_t l_k = l_first; l_k < l_run.m_end; ++l_k)
                op_items[l_k] = lp_type->NewItem().Get();
        }
        else
            lp_type->NewItems(i_records.m_values.data() + l_first, i_records.m_hashes.data() + l_first,
                              l_run.m_end - l_first, op_items + l_first);
        l_first = l_run.m_end;
    }
}

// Only checking reads the whole file and stops before the store is touched.
void ReadStore(InputBuffer& io_in, bool i_checkOnly = false)
{
    Records l_records = ReadRecords(io_in, i_checkOnly);
    std::vector<std::pair<qint32, qint32>> l_pairs = ReadPairs(io_in);
    if (i_checkOnly)
        return;
    PutInIndexOrder(l_records);
    const auto l_connections = ConnectionOrder(l_records.m_indexes, l_pairs);
    std::vector<std::pair<qint32, qint32>>().swap(l_pairs);

    // Handlers reacting to the load may remove items it still has to connect: those stay
    // allocated, dead, until the load is over, and their connections are left out.
    RemovalScope l_scope(d);
    // Each filled by the creation, so left uninitialised until then.
    const std::unique_ptr<Item*[]> l_items(new Item*[l_records.Size()]);
    CreateItems(l_records, l_items.get());
    // Pairs of one pair of types come in runs: their relation is looked up once a run.
    const Type* lp_firstType = nullptr;
    const Type* lp_secondType = nullptr;
    const RelationInfo* lp_relation = nullptr;
    for (const auto& l_connection : l_connections)
    {
        Item* lp_first = l_items[l_connection.first];
        Item* lp_second = l_items[l_connection.second];
        if (!lp_first->IsAlive() || !lp_second->IsAlive())
            continue;
        if (lp_first->GetType() != lp_firstType || lp_second->GetType() != lp_secondType)
        {
            lp_firstType = lp_first->GetType();
            lp_secondType = lp_second->GetType();
            lp_relation = lp_first->GetType()->FindRelation(lp_second->GetType());
        }
        // A pair between types that are no longer related cannot be made; it is left out.
        if (lp_first == lp_second || !lp_relation)
            continue;
        lp_first->Connect(lp_second, *lp_relation);
    }
}

// The first "<path>.<n>" that names nothing on disk, not even a dangling link.
QString FreeTemporaryName(const QString& i_path)
{
    for (qint64 l_number = 1;; ++l_number)
    {
        const QString l_name = QString("%1.%2").arg(i_path, QString::number(l_number));
        const QFileInfo l_info(l_name);
        if (!l_info.exists() && !l_info.isSymLink())
            return l_name;
    }
}

// The new store must be on the disk before it replaces the old one.
void SyncToDisk(QFile& io_file)
{
    if (::fsync(io_file.handle()) != 0 && errno != EINVAL && errno != ENOTSUP)
        throw DataSaveFailure();
}
} // namespace

DataSaver::DataSaver()
{
    dataSaver = this;
}

DataSaver::~DataSaver()
{
    if (dataSaver == this)
        dataSaver = nullptr;
}

void DataSaver::AddSavedType(const std::string& i_typeName)
{
    m_savedTypes.insert(d.GetType(i_typeName));
}

void DataSaver::AddSavedByConnectionType(const std::string& i_typeName,
                                         const std::string& i_conditionTypeName)
{
    Type* lp_condition = d.GetType(i_conditionTypeName);
    Type* lp_type = d.GetType(i_typeName);
    m_savedByConnectionTypes[lp_type].insert(lp_condition);
}

void DataSaver::AddDataLoadedEventHandler(DataLoadedEventHandler* ip_handler)
{
    m_dataLoadedEventHandlers.insert(ip_handler);
}

void DataSaver::WriteFile(const QString& i_path, bool i_everything, bool i_replacing,
                          bool& o_created) const
{
    o_created = false;
    // The store holds the password: the file is its owner's alone from the moment it exists,
    // whatever the umask, since whoever opens it while it is open to all can read it later.
    // A temporary file is always new: an existing file under its name is not ours to clobber.
    const int l_handle =
        ::open(QFile::encodeName(i_path).constData(),
               O_WRONLY | O_CREAT | O_CLOEXEC | (i_replacing ? O_EXCL : O_TRUNC), S_IRUSR | S_IWUSR);
    if (l_handle < 0)
        throw DataSaveFailure();
    o_created = true;
    // The umask may have taken the owner's own bits too; the store must stay writable.
    if (i_replacing && ::fchmod(l_handle, S_IRUSR | S_IWUSR) != 0)
    {
        ::close(l_handle);
        throw DataSaveFailure();
    }
    QFile l_file;
    if (!l_file.open(l_handle, QIODevice::WriteOnly | QIODevice::Unbuffered,
                     QFileDevice::AutoCloseHandle))
    {
        ::close(l_handle);
        throw DataSaveFailure();
    }
    OutputBuffer l_out(l_file, m_writeLimit);
    WriteStore(l_out, m_savedTypes, m_savedByConnectionTypes, i_everything);
    l_out.Flush();
    if (i_replacing)
        SyncToDisk(l_file);
    l_file.close();
    if (l_file.error() != QFileDevice::NoError)
        throw DataSaveFailure();
}

bool DataSaver::Save(const QString& i_path)
{
    const QString l_temporary = FreeTemporaryName(i_path);
    bool l_created = false;
    try
    {
        WriteFile(l_temporary, false, true, l_created);
        // One step: a reader sees either the old store or the new one, never neither.
        if (std::rename(QFile::encodeName(l_temporary).constData(),
                        QFile::encodeName(i_path).constData()) != 0)
            throw DataSaveFailure();
    }
    catch (const DataSaveFailure&)
    {
        if (l_created)
            QFile::remove(l_temporary);
        return false;
    }
    RemoveLeftovers(i_path);
    return true;
}

bool DataSaver::SaveAll(const QString& i_path)
{
    bool l_created = false;
    try
    {
        WriteFile(i_path, true, false, l_created);
    }
    catch (const DataSaveFailure&)
    {
        return false;
    }
    return true;
}

void DataSaver::Load(const QString& i_path)
{
    QFile l_file(i_path);
    if (!l_file.open(QIODevice::ReadOnly))
    {
        EmitDataLoaded();
        EmitNoData();
        return;
    }
    try
    {
        InputBuffer l_in(l_file, true);
        ReadStore(l_in);
    }
    catch (const DataLoadFailure&)
    {
        l_file.close();
        // Half a store is worse than none: the defaults go too, and the caller starts afresh.
        d.RemoveAllItems();
        throw DataLoadFailure();
    }
    l_file.close();
    EmitDataLoaded();
}

bool DataSaver::CanLoad(const QString& i_path) const
{
    QFile l_file(i_path);
    if (!l_file.open(QIODevice::ReadOnly))
        return true;
    try
    {
        InputBuffer l_in(l_file, false);
        ReadStore(l_in, true);
    }
    catch (const DataLoadFailure&)
    {
        return false;
    }
    return true;
}

void DataSaver::EmitDataLoaded()
{
    const std::set<DataLoadedEventHandler*> l_handlers(m_dataLoadedEventHandlers);
    for (DataLoadedEventHandler* lp_handler : l_handlers)
        lp_handler->DataLoaded();
}

void DataSaver::EmitNoData()
{
    const std::set<DataLoadedEventHandler*> l_handlers(m_dataLoadedEventHandlers);
    for (DataLoadedEventHandler* lp_handler : l_handlers)
        lp_handler->NoData();
}
