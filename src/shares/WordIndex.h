#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class Item;
class Type;

// The `search_token` items of texts, in the word index's two passes over the lower-cased text:
// the words (runs of ASCII letters and digits and of the Latin-1 upper half), then the pieces
// between blanks and slashes, each token once, made when new. One index serves one scan: it
// looks each token item up in the store once and cuts each folder's path once, since every
// file of a folder has its words and names share theirs. It works on the UTF-8 bytes the items
// hold, where every separator is a whole character, as in the 16-bit text.
//
// Texts are cut in batches: a batch's look-ups are asked of the memory ahead of their turn and
// its new tokens are made together, as most names bring one or two words of their own.
class WordIndex
{
public:
    // Room for about that many tokens from the start.
    explicit WordIndex(Type* ip_tokens, std::size_t i_expected = 0);

    // The tokens of a text of any letter case, in the order the passes meet them.
    std::vector<Item*> Tokens(std::string_view i_utf8);
    std::vector<Item*> Tokens(const QString& i_text) { return Tokens(i_text.toUtf8().toStdString()); }
    // The tokens of a `shared_file_folder` item's path, in the order of their identities.
    const std::vector<Item*>& FolderTokens(Item* ip_folder);

    // Texts whose tokens are found together.
    class Batch
    {
    public:
        // The tokens of the n-th text, once resolved, a token met twice given twice.
        std::pair<Item* const*, Item* const*> TokensOf(std::size_t i_text) const;
        void Clear();

    private:
        friend class WordIndex;
        // A token: where its text lies in the lowered texts. A piece that is one whole word of
        // its text is that word's token, found without a look-up.
        struct Span
        {
            std::uint32_t start;
            std::uint32_t length;
            std::uint64_t hash;
            std::int64_t sameAs;
        };
        std::string_view TextOf(const Span& i_span) const
        {
            return std::string_view(m_text).substr(i_span.start, i_span.length);
        }

        std::string m_text;
        std::vector<Span> m_spans;
        std::vector<Item*> m_items;
        // Where each text's spans end.
        std::vector<std::size_t> m_textEnds;
    };

    // Adds a text to a batch.
    static void Cut(std::string_view i_utf8, Batch& io_batch);
    // Finds or makes the tokens of every text cut into the batch since it was last resolved.
    void Resolve(Batch& io_batch);

private:
    std::size_t Probe(std::string_view i_text, std::uint64_t i_hash) const;
    void Insert(std::uint64_t i_hash, Item* ip_token);
    void Grow();

    // A slot of the token table: the hash of a token's text and its item, whose value holds the
    // text. Open addressing keeps a look-up within a cache line or two.
    struct Slot
    {
        std::uint64_t hash = 0;
        Item* item = nullptr;
    };

    Type* mp_tokens;
    std::vector<Slot> m_slots;
    std::size_t m_used = 0;
    std::unordered_map<Item*, std::vector<Item*>> m_folders;
};
