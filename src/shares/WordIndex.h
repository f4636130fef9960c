#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class Item;
class Type;

// The `search_token` items of texts, in the word index's two passes over the lower-cased text:
// the words (runs of ASCII letters and digits and of the Latin-1 upper half), then the pieces
// between blanks and slashes, each token once, made when new. One index serves one scan: it
// looks each token item up in the store once and cuts each folder's path once, since every
// file of a folder has its words and names share theirs. It works on the UTF-8 bytes the items
// hold, where every separator is a whole character, as in the 16-bit text.
class WordIndex
{
public:
    explicit WordIndex(Type* ip_tokens) : mp_tokens(ip_tokens) {}

    // The tokens of a text of any letter case, in the order the passes meet them.
    std::vector<Item*> Tokens(std::string_view i_utf8);
    std::vector<Item*> Tokens(const QString& i_text) { return Tokens(i_text.toUtf8().toStdString()); }
    // The tokens of a `shared_file_folder` item's path.
    const std::vector<Item*>& FolderTokens(Item* ip_folder);

private:
    Item* Token(std::string_view i_text);
    void Grow();

    // A slot of the token table: the hash of a token's text and its item, whose value holds the
    // text. Open addressing keeps a look-up within a cache line or two: a scan looks tokens up
    // a dozen times per file.
    struct Slot
    {
        std::uint64_t hash = 0;
        Item* item = nullptr;
    };

    Type* mp_tokens;
    std::string m_lower;
    std::vector<Slot> m_slots = std::vector<Slot>(1024);
    std::size_t m_used = 0;
    std::unordered_map<Item*, std::vector<Item*>> m_folders;
};
