#include "shares/WordIndex.h"

#include <algorithm>
#include <cstring>

#include "store/Item.h"
#include "store/Type.h"
#include "store/ValueIndex.h"

namespace
{
bool IsAsciiWordByte(unsigned char i_byte)
{
    return (i_byte >= '0' && i_byte <= '9') || (i_byte >= 'a' && i_byte <= 'z') ||
           (i_byte >= 'A' && i_byte <= 'Z');
}

// The length of the UTF-8 sequence a lead byte starts.
int SequenceLength(unsigned char i_lead)
{
    return i_lead < 0x80 ? 1 : i_lead < 0xe0 ? 2 : i_lead < 0xf0 ? 3 : 4;
}

// Eight bytes at a time: tokens are short, and a chain of one multiply a byte was most of
// cutting a name. Only this index's table sees these hashes.
std::uint64_t Hash(std::string_view i_text)
{
    std::uint64_t l_hash = 0x9e3779b97f4a7c15ull ^ i_text.size();
    const char* lp_at = i_text.data();
    std::size_t l_left = i_text.size();
    for (; l_left >= 8; lp_at += 8, l_left -= 8)
    {
        std::uint64_t l_chunk;
        std::memcpy(&l_chunk, lp_at, 8);
        l_hash = (l_hash ^ l_chunk) * 0xff51afd7ed558ccdull;
        l_hash ^= l_hash >> 32;
    }
    std::uint64_t l_tail = 0;
    for (std::size_t l_byte = 0; l_byte < l_left; ++l_byte)
        l_tail |= std::uint64_t(static_cast<unsigned char>(lp_at[l_byte])) << (8 * l_byte);
    l_hash = (l_hash ^ l_tail) * 0xff51afd7ed558ccdull;
    l_hash ^= l_hash >> 29;
    l_hash *= 0xc4ceb9fe1a85ec53ull;
    return l_hash ^ (l_hash >> 32);
}

// How far ahead of its look-up a slot is asked for.
constexpr std::size_t Ahead = 8;
} // namespace

WordIndex::WordIndex(Type* ip_tokens, std::size_t i_expected) : mp_tokens(ip_tokens)
{
    std::size_t l_slots = 1024;
    while (l_slots < 2 * i_expected)
        l_slots *= 2;
    m_slots.resize(l_slots);
}

std::vector<Item*> WordIndex::Tokens(std::string_view i_utf8)
{
    Batch l_batch;
    Cut(i_utf8, l_batch);
    Resolve(l_batch);
    std::vector<Item*> l_once;
    const auto [lp_begin, lp_end] = l_batch.TokensOf(0);
    for (Item* const* lp_token = lp_begin; lp_token != lp_end; ++lp_token)
        if (std::find(l_once.begin(), l_once.end(), *lp_token) == l_once.end())
            l_once.push_back(*lp_token);
    return l_once;
}

const std::vector<Item*>& WordIndex::FolderTokens(Item* ip_folder)
{
    auto l_cached = m_folders.find(ip_folder);
    if (l_cached == m_folders.end())
    {
        std::vector<Item*> l_tokens = Tokens(ip_folder->GetValue().Bytes());
        std::sort(l_tokens.begin(), l_tokens.end());
        l_cached = m_folders.emplace(ip_folder, std::move(l_tokens)).first;
    }
    return l_cached->second;
}

void WordIndex::Cut(std::string_view i_utf8, Batch& io_batch)
{
    std::string& l_lowered = io_batch.m_text;
    std::vector<Batch::Span>& l_spans = io_batch.m_spans;
    const std::size_t l_base = l_lowered.size();
    // ASCII is lowered byte by byte; anything else as the 16-bit text would be.
    if (std::all_of(i_utf8.begin(), i_utf8.end(), [](char i_c) { return (i_c & 0x80) == 0; }))
    {
        l_lowered.append(i_utf8);
        for (std::size_t l_at = l_base; l_at < l_lowered.size(); ++l_at)
            if (l_lowered[l_at] >= 'A' && l_lowered[l_at] <= 'Z')
                l_lowered[l_at] = char(l_lowered[l_at] - 'A' + 'a');
    }
    else
        l_lowered.append(QString::fromUtf8(i_utf8.data(), int(i_utf8.size())).toLower().toUtf8().toStdString());

    const std::string_view l_lower = std::string_view(l_lowered).substr(l_base);
    const std::size_t l_firstWord = l_spans.size();
    const auto l_add = [&](std::size_t i_start, std::size_t i_end, std::int64_t i_sameAs) {
        const std::string_view l_text = l_lower.substr(i_start, i_end - i_start);
        l_spans.push_back(Batch::Span{std::uint32_t(l_base + i_start), std::uint32_t(l_text.size()),
                                      i_sameAs < 0 ? Hash(l_text) : 0, i_sameAs});
    };
    const std::size_t l_size = l_lower.size();
    // Words: a character of the Latin-1 upper half is two bytes led by C2 or C3; every other
    // character above it separates.
    std::size_t l_start = std::string::npos;
    for (std::size_t l_at = 0; l_at < l_size;)
    {
        const auto l_lead = static_cast<unsigned char>(l_lower[l_at]);
        const int l_length = SequenceLength(l_lead);
        const bool l_word = l_length == 1 ? IsAsciiWordByte(l_lead) : (l_lead == 0xc2 || l_lead == 0xc3);
        if (l_word && l_start == std::string::npos)
            l_start = l_at;
        else if (!l_word && l_start != std::string::npos)
        {
            l_add(l_start, l_at, -1);
            l_start = std::string::npos;
        }
        l_at = std::min(l_size, l_at + std::size_t(l_length));
    }
    if (l_start != std::string::npos)
        l_add(l_start, l_size, -1);
    const std::size_t l_endWords = l_spans.size();
    // Pieces: no byte of a longer sequence is a blank or a slash.
    l_start = std::string::npos;
    std::size_t l_word = l_firstWord;
    for (std::size_t l_at = 0; l_at <= l_size; ++l_at)
    {
        const bool l_separates =
            l_at == l_size || l_lower[l_at] == ' ' || l_lower[l_at] == '/' || l_lower[l_at] == '\\';
        if (!l_separates && l_start == std::string::npos)
            l_start = l_at;
        else if (l_separates && l_start != std::string::npos)
        {
            while (l_word < l_endWords && l_spans[l_word].start < l_base + l_start)
                ++l_word;
            const bool l_oneWord = l_word < l_endWords && l_spans[l_word].start == l_base + l_start &&
                                   l_spans[l_word].length == l_at - l_start;
            l_add(l_start, l_at, l_oneWord ? std::int64_t(l_word) : -1);
            l_start = std::string::npos;
        }
    }
    io_batch.m_textEnds.push_back(l_spans.size());
}

void WordIndex::Resolve(Batch& io_batch)
{
    const std::vector<Batch::Span>& l_spans = io_batch.m_spans;
    std::vector<Item*>& l_items = io_batch.m_items;
    const std::size_t l_resolved = l_items.size();
    l_items.resize(l_spans.size(), nullptr);
    // Every look-up, each slot asked for a few turns ahead; what the table lacks is made after.
    std::vector<std::size_t> l_missing;
    for (std::size_t l_at = l_resolved; l_at < l_spans.size(); ++l_at)
    {
        if (l_at + Ahead < l_spans.size() && l_spans[l_at + Ahead].sameAs < 0)
            __builtin_prefetch(&m_slots[std::size_t(l_spans[l_at + Ahead].hash) & (m_slots.size() - 1)]);
        const Batch::Span& l_span = l_spans[l_at];
        if (l_span.sameAs >= 0)
            continue;
        const std::size_t l_slot = Probe(io_batch.TextOf(l_span), l_span.hash);
        if (m_slots[l_slot].item)
            l_items[l_at] = m_slots[l_slot].item;
        else
            l_missing.push_back(l_at);
    }
    if (!l_missing.empty())
    {
        std::vector<std::string_view> l_values;
        l_values.reserve(l_missing.size());
        for (std::size_t l_at : l_missing)
            l_values.push_back(io_batch.TextOf(l_spans[l_at]));
        std::vector<std::uint64_t> l_hashes(l_missing.size());
        ValueIndex::HashAll(l_values.data(), l_values.size(), l_hashes.data());
        std::vector<Item*> l_made(l_missing.size());
        mp_tokens->NewItems(l_values.data(), l_hashes.data(), l_missing.size(), l_made.data());
        for (std::size_t l_k = 0; l_k < l_missing.size(); ++l_k)
        {
            const Batch::Span& l_span = l_spans[l_missing[l_k]];
            l_items[l_missing[l_k]] = l_made[l_k];
            // The same new token twice in a batch is in the table once.
            if (!m_slots[Probe(io_batch.TextOf(l_span), l_span.hash)].item)
                Insert(l_span.hash, l_made[l_k]);
        }
    }
    for (std::size_t l_at = l_resolved; l_at < l_spans.size(); ++l_at)
        if (l_spans[l_at].sameAs >= 0)
            l_items[l_at] = l_items[std::size_t(l_spans[l_at].sameAs)];
}

std::pair<Item* const*, Item* const*> WordIndex::Batch::TokensOf(std::size_t i_text) const
{
    const std::size_t l_begin = i_text == 0 ? 0 : m_textEnds[i_text - 1];
    return {m_items.data() + l_begin, m_items.data() + m_textEnds[i_text]};
}

void WordIndex::Batch::Clear()
{
    m_text.clear();
    m_spans.clear();
    m_items.clear();
    m_textEnds.clear();
}

std::size_t WordIndex::Probe(std::string_view i_text, std::uint64_t i_hash) const
{
    const std::size_t l_mask = m_slots.size() - 1;
    std::size_t l_at = std::size_t(i_hash) & l_mask;
    for (; m_slots[l_at].item; l_at = (l_at + 1) & l_mask)
        if (m_slots[l_at].hash == i_hash && m_slots[l_at].item->GetValue().Bytes() == i_text)
            break;
    return l_at;
}

void WordIndex::Insert(std::uint64_t i_hash, Item* ip_token)
{
    const std::size_t l_mask = m_slots.size() - 1;
    std::size_t l_at = std::size_t(i_hash) & l_mask;
    while (m_slots[l_at].item)
        l_at = (l_at + 1) & l_mask;
    m_slots[l_at] = Slot{i_hash, ip_token};
    if (++m_used * 2 > m_slots.size())
        Grow();
}

void WordIndex::Grow()
{
    std::vector<Slot> l_old(m_slots.size() * 2);
    l_old.swap(m_slots);
    const std::size_t l_mask = m_slots.size() - 1;
    for (const Slot& l_slot : l_old)
        if (l_slot.item)
        {
            std::size_t l_at = std::size_t(l_slot.hash) & l_mask;
            while (m_slots[l_at].item)
                l_at = (l_at + 1) & l_mask;
            m_slots[l_at] = l_slot;
        }
}
