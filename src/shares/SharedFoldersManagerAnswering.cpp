// Answering other users' searches from the word index of the shares, and the compressed bodies
// that search replies, share lists and folder contents have in common.

#include "shares/SharedFoldersManager.h"

#include <zlib.h>

#include <algorithm>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "diagnostics/Log.h"
#include "peer/PeerMessenger.h"
#include "shares/BodyCompressor.h"
#include "shares/SearchParser.h"
#include "shares/SharedFileTypes.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"

const quint32 SharedFoldersManager::MaxMessageLength = PeerMessenger::MaxFrameLength;

namespace
{
// The shared files connected to every token, walked from the token with the fewest files.
std::vector<Item*> FilesWithAll(std::vector<const ItemSet*> io_sets)
{
    std::sort(io_sets.begin(), io_sets.end(),
              [](const ItemSet* ip_a, const ItemSet* ip_b) { return ip_a->Size() < ip_b->Size(); });
    std::vector<Item*> l_files;
    for (ItemPtr l_file : *io_sets.front())
    {
        bool l_inAll = true;
        for (std::size_t l_n = 1; l_n < io_sets.size() && l_inAll; ++l_n)
            l_inAll = io_sets[l_n]->Contains(l_file);
        if (l_inAll)
            l_files.push_back(l_file.Get());
    }
    return l_files;
}

// Partial and excluded tokens are looked for in the file's own name only.
bool NameMatches(const SearchParser& i_parser, const QString& i_name)
{
    const QString l_name = i_name.toLower();
    for (const QString& l_excluded : i_parser.GetExcludedTokenSet())
        if (l_name.contains(l_excluded))
            return false;
    for (const QString& l_part : i_parser.GetIncludedPartTokenSet())
        if (!l_name.contains(l_part))
            return false;
    return true;
}
} // namespace

void SharedFoldersManager::SetUploadPolicy(UploadPolicy i_policy)
{
    m_uploadPolicy = std::move(i_policy);
}

void SharedFoldersManager::OnDirectFileSearch(QString i_user, quint32 i_req, QString i_search)
{
    OnDNetSearchRequest(i_user, i_req, i_search);
}

void SharedFoldersManager::OnDNetSearchRequest(QString i_user, quint32 i_req,
                                               QString i_searchText)
{
    // Our own searches come back to us through the server and the tree; a search without a
    // searcher has nobody to answer.
    if (i_user.isEmpty() || i_user == GetSetting("username"))
        return;
    const bool l_answered = ProcessSearch(i_user, i_req, i_searchText);
    emit SearchProcessed(i_searchText, l_answered);
}

bool SharedFoldersManager::ProcessSearch(QString i_user, unsigned int i_req, QString i_text)
{
    SearchParser l_parser;
    if (!l_parser.SetRemoteSearchText(i_text) || l_parser.GetIncludedTokenSet().empty())
        return false;

    // Every required token must be a whole word of the index, and one must be longer than two
    // letters: candidates come from the index alone, never from a walk of all files.
    const SharedFileTypes l_types;
    std::vector<const ItemSet*> l_fileSets;
    bool l_hasLongToken = false;
    for (const QString& l_token : l_parser.GetIncludedTokenSet())
    {
        const ItemPtr l_item = l_types.token->HasItem(Value(l_token));
        const ItemSet* lp_files = l_item ? l_item->Connections().FindSet(l_types.file) : nullptr;
        if (!lp_files)
            return false;
        l_fileSets.push_back(lp_files);
        l_hasLongToken |= l_token.size() > 2;
    }
    if (!l_hasLongToken)
        return false;

    const bool l_filtersNames =
        !l_parser.GetExcludedTokenSet().empty() || !l_parser.GetIncludedPartTokenSet().empty();
    ItemSet l_visibleFolders;
    bool l_visibleKnown = false;
    // Whether a scanned folder lies in a shared folder the user may see, asked once per folder.
    std::unordered_map<Item*, bool> l_folderVisible;
    std::map<std::string, FileInfo> l_records;
    for (Item* lp_file : FilesWithAll(std::move(l_fileSets)))
    {
        Item* lp_name = lp_file->FirstOf(l_types.name);
        Item* lp_folder = lp_file->FirstOf(l_types.folder);
        if (!lp_name || !lp_folder)
            continue;
        if (l_filtersNames && !NameMatches(l_parser, ItemPtr(lp_name).AsString()))
            continue;
        if (!l_visibleKnown)
        {
            l_visibleFolders = GetUserSharedFolders(i_user);
            l_visibleKnown = true;
        }
        auto l_known = l_folderVisible.emplace(lp_folder, false);
        if (l_known.second)
            if (const ItemSet* lp_shared = lp_folder->Connections().FindSet(l_types.sharedFolder))
                for (ItemPtr l_shared : *lp_shared)
                    l_known.first->second |= l_visibleFolders.Contains(l_shared);
        if (!l_known.first->second)
            continue;

        const std::string_view l_folderBytes = lp_folder->GetValue().Bytes();
        const std::string_view l_nameBytes = lp_name->GetValue().Bytes();
        std::string l_path;
        l_path.reserve(l_folderBytes.size() + 1 + l_nameBytes.size());
        l_path.append(l_folderBytes).append(1, '/').append(l_nameBytes);
        std::replace(l_path.begin(), l_path.end(), '/', '\\');
        FileInfo l_record;
        l_record.name = l_path;
        l_record.size = ItemPtr(lp_file->FirstOf(l_types.size)).AsInt64();
        SetMp3Attributes(lp_file, l_path, l_types.bitrate, l_types.bitrateMode, l_record);
        l_records.insert_or_assign(std::move(l_path), std::move(l_record));
    }
    if (l_records.empty())
        return false;

    // Readers refuse a reply of more files than that, and with it the connection it came on:
    // the first files in path order are sent.
    const quint32 l_count = static_cast<quint32>(
        std::min<std::size_t>(l_records.size(), InputStream::MaxCount));
    if (l_count < l_records.size())
        Log("Search", 2,
            QString("Search %1 of user %2 matches %3 files, sending the first %4")
                .arg(i_text, i_user)
                .arg(l_records.size())
                .arg(l_count));
    MemStream l_body;
    l_body.Write(GetSetting("username"));
    l_body.Write(quint32(i_req));
    l_body.Write(l_count);
    auto l_record = l_records.cbegin();
    for (quint32 l_written = 0; l_written < l_count; ++l_written, ++l_record)
        l_body.Write(l_record->second);
    l_body.Write(quint8(m_uploadPolicy.IsFreeToUpload() ? 1 : 0));
    l_body.Write(m_uploadPolicy.UploadSpeed());
    l_body.Write(m_uploadPolicy.QueuedUploadCount());
    // The attribute-name table, always empty.
    l_body.Write(quint32(0));

    MemStream l_message;
    if (!CompressMessage(9, l_body, "Search", i_user, l_message))
        return false;
    Log("Search", 1,
        QString("Sending search results to user %1 for search string %2").arg(i_user, i_text));
    if (!peerMessenger)
        return false;
    peerMessenger->SendMessageToUser(i_user, l_message);
    return true;
}

bool SharedFoldersManager::CompressMessage(quint32 i_code, const MemStream& i_body,
                                           const QString& i_area, const QString& i_user,
                                           MemStream& o_message)
{
    // Every reply is compressed on the GUI thread, so one compressor serves them all.
    static BodyCompressor s_compressor;
    const uLong l_bodyLength = static_cast<uLong>(i_body.GetWriteIndex());
    uLongf l_length = compressBound(l_bodyLength);
    std::vector<Bytef> l_compressed(l_length);
    const int l_result =
        s_compressor.Compress(l_compressed.data(), &l_length,
                              reinterpret_cast<const Bytef*>(i_body.GetBuffer()), l_bodyLength);
    if (l_result != Z_OK)
    {
        Log(i_area, 1,
            QString("Could not compress message %1 to user %2 (zlib error %3), not sending it")
                .arg(i_code)
                .arg(i_user)
                .arg(l_result));
        return false;
    }
    // Peers refuse a longer frame, and the connection with it.
    if (l_length > MaxMessageLength - sizeof(quint32))
    {
        Log(i_area, 1,
            QString("Message %1 to user %2 would be %3 bytes, more than a peer takes, not "
                    "sending it")
                .arg(i_code)
                .arg(i_user)
                .arg(static_cast<quint64>(l_length) + sizeof(quint32)));
        return false;
    }
    o_message.Write(i_code);
    o_message.WriteBuffer(l_compressed.data(), l_length);
    return true;
}

void SharedFoldersManager::SetMp3Attributes(Item* ip_file, const std::string& i_name,
                                            Type* ip_bitrate, Type* ip_mode, FileInfo& io_record)
{
    io_record.attributeMap = AttributeMap();
    // The extension is what follows the last dot, in any case: here, the name's last four bytes.
    const auto l_lower = [](char i_c) { return i_c >= 'A' && i_c <= 'Z' ? static_cast<char>(i_c - 'A' + 'a') : i_c; };
    const std::size_t l_size = i_name.size();
    if (l_size < 4 || i_name[l_size - 4] != '.' || l_lower(i_name[l_size - 3]) != 'm' ||
        l_lower(i_name[l_size - 2]) != 'p' || i_name[l_size - 1] != '3')
        return;
    io_record.attributeMap.extension = "mp3";
    if (Item* lp_bitrate = ip_file->FirstOf(ip_bitrate))
        io_record.attributeMap.attributes.emplace_back(AttributeMap::Bitrate,
                                                       ItemPtr(lp_bitrate).AsInt());
    if (Item* lp_mode = ip_file->FirstOf(ip_mode))
        io_record.attributeMap.attributes.emplace_back(
            AttributeMap::VariableBitrate, lp_mode->GetValue().Bytes() == "vbr" ? 1 : 0);
}
