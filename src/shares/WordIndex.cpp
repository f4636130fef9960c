#include "shares/WordIndex.h"

#include <algorithm>

#include "store/Item.h"
#include "store/Type.h"

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
} // namespace

std::vector<Item*> WordIndex::Tokens(std::string_view i_utf8)
{
    // ASCII is lowered byte by byte; anything else as the 16-bit text would be.
    if (std::all_of(i_utf8.begin(), i_utf8.end(), [](char i_c) { return (i_c & 0x80) == 0; }))
    {
        m_lower.assign(i_utf8);
        for (char& l_c : m_lower)
            if (l_c >= 'A' && l_c <= 'Z')
                l_c = char(l_c - 'A' + 'a');
    }
    else
        m_lower = QString::fromUtf8(i_utf8.data(), int(i_utf8.size())).toLower().toUtf8().toStdString();

    std::vector<Item*> l_tokens;
    const auto l_add = [&](std::size_t i_start, std::size_t i_end) {
        Item* lp_token = Token(std::string_view(m_lower).substr(i_start, i_end - i_start));
        if (std::find(l_tokens.begin(), l_tokens.end(), lp_token) == l_tokens.end())
            l_tokens.push_back(lp_token);
    };
    const std::size_t l_size = m_lower.size();
    // Words: a character of the Latin-1 upper half is two bytes led by C2 or C3; every other
    // character above it separates.
    std::size_t l_start = std::string::npos;
    for (std::size_t l_at = 0; l_at < l_size;)
    {
        const auto l_lead = static_cast<unsigned char>(m_lower[l_at]);
        const int l_length = SequenceLength(l_lead);
        const bool l_word = l_length == 1 ? IsAsciiWordByte(l_lead) : (l_lead == 0xc2 || l_lead == 0xc3);
        if (l_word && l_start == std::string::npos)
            l_start = l_at;
        else if (!l_word && l_start != std::string::npos)
        {
            l_add(l_start, l_at);
            l_start = std::string::npos;
        }
        l_at = std::min(l_size, l_at + std::size_t(l_length));
    }
    if (l_start != std::string::npos)
        l_add(l_start, l_size);
    // Pieces: no byte of a longer sequence is a blank or a slash.
    l_start = std::string::npos;
    for (std::size_t l_at = 0; l_at <= l_size; ++l_at)
    {
        const bool l_separates =
            l_at == l_size || m_lower[l_at] == ' ' || m_lower[l_at] == '/' || m_lower[l_at] == '\\';
        if (!l_separates && l_start == std::string::npos)
            l_start = l_at;
        else if (l_separates && l_start != std::string::npos)
        {
            l_add(l_start, l_at);
            l_start = std::string::npos;
        }
    }
    return l_tokens;
}

const std::vector<Item*>& WordIndex::FolderTokens(Item* ip_folder)
{
    auto l_cached = m_folders.find(ip_folder);
    if (l_cached == m_folders.end())
        l_cached = m_folders.emplace(ip_folder, Tokens(ip_folder->GetValue().Bytes())).first;
    return l_cached->second;
}

namespace
{
std::uint64_t Hash(std::string_view i_text)
{
    std::uint64_t l_hash = 14695981039346656037ull;
    for (char l_c : i_text)
        l_hash = (l_hash ^ static_cast<unsigned char>(l_c)) * 1099511628211ull;
    return l_hash;
}
} // namespace

Item* WordIndex::Token(std::string_view i_text)
{
    const std::uint64_t l_hash = Hash(i_text);
    const std::size_t l_mask = m_slots.size() - 1;
    std::size_t l_at = std::size_t(l_hash) & l_mask;
    for (; m_slots[l_at].item; l_at = (l_at + 1) & l_mask)
        if (m_slots[l_at].hash == l_hash && m_slots[l_at].item->GetValue().Bytes() == i_text)
            return m_slots[l_at].item;
    Item* lp_token = mp_tokens->GetItem(Value(std::string(i_text))).Get();
    m_slots[l_at] = Slot{l_hash, lp_token};
    if (++m_used * 2 > m_slots.size())
        Grow();
    return lp_token;
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
