#include "peer/PeerMessenger.h"

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics/Log.h"
#include "peer/Inflater.h"
#include "peer/PeerMessengerDetail.h"
#include "shares/SearchParser.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"

using namespace peer_detail;

namespace share_messages
{

// Reads the fields of an inflated body in place, without another copy of its bytes.
class BytesInput final : public InputStream
{
public:
    explicit BytesInput(const QByteArray& i_bytes) : m_bytes(i_bytes) {}

    bool ReadBuffer(void* op_destination, unsigned long i_count) override
    {
        if (i_count > static_cast<unsigned long>(m_bytes.size() - m_position))
            return false;
        if (i_count > 0)
            std::memcpy(op_destination, m_bytes.constData() + m_position, i_count);
        m_position += static_cast<int>(i_count);
        return true;
    }

    // The next byte, left unread; -1 at the end.
    int Peek() const
    {
        return m_position < m_bytes.size() ? static_cast<quint8>(m_bytes[m_position]) : -1;
    }

private:
    const QByteArray& m_bytes;
    int m_position = 0;
};

// About what reading one list or reply held, added to the messenger's count of freed bytes once
// the reading ends, whichever way: the inflated body and every record read, each in its set node
// or vector slot with whatever of its strings and attributes does not fit inside it. The
// half-minute hands the pages back once that count is large.
class ReadCost
{
public:
    explicit ReadCost(qint64& io_freed) : m_freed(io_freed) {}
    ~ReadCost() { m_freed += m_bytes; }
    ReadCost(const ReadCost&) = delete;
    ReadCost& operator=(const ReadCost&) = delete;

    void Add(qint64 i_bytes) { m_bytes += i_bytes; }
    void Add(const FileInfo& i_file)
    {
        m_bytes += qint64(sizeof(FileInfo) + 6 * sizeof(void*)) + Outside(i_file.name) +
                   Outside(i_file.attributeMap.extension) +
                   qint64(i_file.attributeMap.attributes.capacity() * sizeof(std::pair<int, int>));
    }

private:
    static qint64 Outside(const std::string& i_text)
    {
        static const std::size_t s_inside = std::string().capacity();
        return i_text.capacity() > s_inside ? qint64(i_text.capacity()) + 1 : 0;
    }

    qint64& m_freed;
    qint64 m_bytes = 0;
};

// Everything after the code, inflated. An unreadable stream leaves the output empty, so that
// the first field read fails.
Inflater::Result InflateRest(const QString& i_user, MemStream& io_message, QByteArray& o_body,
                             ReadCost& io_cost)
{
    const Inflater::Result l_result = Inflater::Inflate(
        io_message.GetReadBuffer(), io_message.GetPendingReadLength(), o_body);
    // A stream stopped at the ceiling grew its output that far before it was dropped.
    io_cost.Add(l_result == Inflater::TooLarge ? Inflater::DefaultCeiling : o_body.size());
    if (l_result == Inflater::TooLarge)
        Log(Area, 1,
            QString("Message from user %1 inflates past %2 bytes, dropping it")
                .arg(i_user)
                .arg(Inflater::DefaultCeiling),
            d.GetType("user")->GetItem(i_user));
    return l_result;
}

bool ReadCount(BytesInput& io_input, qint32& o_count)
{
    return io_input.Read(o_count) && o_count >= 0 &&
           o_count <= static_cast<qint32>(InputStream::MaxCount);
}

// One record. A record marked absent is one byte and stands for no file: o_present is false,
// and nothing of an earlier record is repeated.
bool ReadFileRecord(BytesInput& io_input, FileInfo& o_file, bool& o_present, ReadCost& io_cost)
{
    const int l_marker = io_input.Peek();
    if (l_marker < 0)
        return false;
    o_present = l_marker != 0;
    if (!o_present)
    {
        quint8 l_absent = 0;
        return io_input.Read(l_absent);
    }
    o_file = FileInfo();
    if (!o_file.Read(io_input))
        return false;
    io_cost.Add(o_file);
    return true;
}

bool ReadShareList(BytesInput& io_input, FileInfoMap& o_share, ReadCost& io_cost)
{
    qint32 l_folders = 0;
    if (!ReadCount(io_input, l_folders))
        return false;
    for (qint32 l_folder = 0; l_folder < l_folders; ++l_folder)
    {
        std::string l_path;
        qint32 l_count = 0;
        if (!io_input.Read(l_path) || !ReadCount(io_input, l_count))
            return false;
        std::set<FileInfo> l_files;
        for (qint32 l_index = 0; l_index < l_count; ++l_index)
        {
            FileInfo l_file;
            bool l_present = false;
            if (!ReadFileRecord(io_input, l_file, l_present, io_cost))
                return false;
            // Lists come sorted as a rule; the hint keeps that case linear.
            if (l_present)
                l_files.emplace_hint(l_files.end(), std::move(l_file));
        }
        o_share.insert_or_assign(o_share.end(), std::move(l_path), std::move(l_files));
    }
    return true;
}

// The store's types, looked up once per reply rather than once per file.
struct ResultTypes
{
    Type* request = d.GetType("search_request");
    Type* results = d.GetType("search_results");
    Type* result = d.GetType("search_result");
    Type* fileName = d.GetType("search_result_file_name");
    Type* folder = d.GetType("search_result_file_folder");
    Type* size = d.GetType("file_size");
    Type* wishList = d.GetType("wishlist_search");
    Type* bitrate = d.GetType("bitrate");
    Type* length = d.GetType("length_seconds");
    Type* bitrateMode = d.GetType("bitrate_mode");
};

// Whether the user already offered this file name in this folder to this search, or to any
// wish-list search when this is one. Walks the smaller of the two result lists, so a folder of
// many files costs no more per file than the name's few results.
bool AlreadyOffered(const ResultTypes& i_types, Item* ip_name, Item* ip_folder,
                    Item* ip_request, bool i_wishList, Item* ip_user)
{
    const ItemSet* lp_byName = ip_name->Connections().FindSet(i_types.result);
    const ItemSet* lp_byFolder = ip_folder->Connections().FindSet(i_types.result);
    if (!lp_byName || !lp_byFolder)
        return false;
    const bool l_nameFewer = lp_byName->Size() <= lp_byFolder->Size();
    Item* lp_other = l_nameFewer ? ip_folder : ip_name;
    for (ItemPtr l_result : l_nameFewer ? *lp_byName : *lp_byFolder)
    {
        if (!l_result->IsConnected(lp_other))
            continue;
        Item* lp_results = l_result->FirstOf(i_types.results);
        if (!lp_results || !lp_results->IsConnected(ip_user))
            continue;
        Item* lp_request = lp_results->FirstOf(i_types.request);
        if (lp_request &&
            (lp_request == ip_request || (i_wishList && lp_request->IsConnected(i_types.wishList))))
            return true;
    }
    return false;
}

void AddResult(const ResultTypes& i_types, ItemPtr i_results, const FileInfo& i_file,
               const std::string& i_name, const std::string& i_folder)
{
    ItemPtr l_result = i_types.result->NewItem();
    for (const std::pair<int, int>& l_attribute : i_file.attributeMap.attributes)
    {
        if (l_attribute.first == AttributeMap::Bitrate)
            l_result += i_types.bitrate->GetItem(Value(l_attribute.second));
        else if (l_attribute.first == AttributeMap::Length)
            l_result += i_types.length->GetItem(Value(l_attribute.second));
        else if (l_attribute.first == AttributeMap::VariableBitrate)
            l_result += i_types.bitrateMode->GetItem(l_attribute.second != 0 ? "vbr" : "cbr");
    }
    l_result += i_results;
    l_result += i_types.fileName->GetItem(Value(i_name));
    l_result += i_types.folder->GetItem(Value(i_folder));
    l_result += i_types.size->GetItem(Value(static_cast<long long>(i_file.size)));
}
} // namespace share_messages

void PeerMessenger::GetUserSharedFiles(QString i_user)
{
    MemStream l_message;
    l_message.Write(quint32(4));
    SendMessage(i_user, l_message);
}

bool PeerMessenger::ReceiveSharedFileListRequest(const QString& i_user)
{
    emit SharedFileListRequested(i_user);
    return true;
}

bool PeerMessenger::ReceiveSharedFileList(const QString& i_user, MemStream& io_body)
{
    using namespace share_messages;
    ReadCost l_cost(m_readBytesFreed);
    QByteArray l_inflated;
    if (InflateRest(i_user, io_body, l_inflated, l_cost) == Inflater::TooLarge)
        return true;
    BytesInput l_input(l_inflated);
    FileInfoMap l_share;
    if (!ReadShareList(l_input, l_share, l_cost))
        return false;
    AttributeTranslationTable l_names;
    if (!l_input.Read(l_names))
        l_names.clear();
    emit UserShare(i_user, l_share, l_names);
    return true;
}

bool PeerMessenger::ReceiveSearchReply(const QString& i_user, MemStream& io_body)
{
    using namespace share_messages;
    ReadCost l_cost(m_readBytesFreed);
    QByteArray l_inflated;
    if (InflateRest(i_user, io_body, l_inflated, l_cost) == Inflater::TooLarge)
        return true;
    BytesInput l_input(l_inflated);
    QString l_replier;
    quint32 l_token = 0;
    if (!l_input.Read(l_replier) || l_replier != i_user || !l_input.Read(l_token))
        return false;
    const ResultTypes l_types;
    ItemPtr l_request = l_types.request->HasItem(Value(l_token));
    if (!l_request || l_request.IsConnected("search_stopped"))
        return true;

    // Our own text: should it not be a valid search, the tokens read before the fault still
    // filter.
    SearchParser l_parser;
    l_parser.SetSearchText(l_request["search_request_text"].AsString());

    qint32 l_count = 0;
    if (!ReadCount(l_input, l_count))
        return false;
    std::vector<FileInfo> l_files;
    l_files.reserve(static_cast<std::size_t>(qMin(l_count, qint32(1024))));
    for (qint32 l_index = 0; l_index < l_count; ++l_index)
    {
        FileInfo l_file;
        bool l_present = false;
        if (!ReadFileRecord(l_input, l_file, l_present, l_cost))
            return false;
        if (l_present)
            l_files.push_back(std::move(l_file));
    }
    // The tail is optional: whatever is missing keeps its default.
    quint8 l_freeSlot = 0;
    qint32 l_speed = 0;
    qint32 l_queued = 0;
    if (l_input.Read(l_freeSlot) && l_input.Read(l_speed))
        l_input.Read(l_queued);

    ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    const bool l_wishList = l_request.IsConnected(l_types.wishList);
    // Every file is judged against the results stored before this reply, which is all that
    // the check can see anyway, and each name and folder pair only once: a reply that repeats
    // one file many times costs no more than one that lists it once.
    struct Accepted
    {
        const FileInfo* file;
        std::string name;
        std::string folder;
    };
    std::vector<Accepted> l_accepted;
    std::map<std::pair<Item*, Item*>, bool> l_offered;
    for (const FileInfo& l_file : l_files)
    {
        const QString l_path = ToQString(l_file.name);
        if (!l_parser.IsMatch(l_path))
        {
            Log("Search", 1,
                QString("Filtered out search result %1 from user %2").arg(l_path, i_user));
            continue;
        }
        Accepted l_entry{&l_file, GetFileName(l_file.name), GetFolder(l_file.name)};
        ItemPtr l_nameItem = l_types.fileName->HasItem(Value(l_entry.name));
        ItemPtr l_folderItem = l_types.folder->HasItem(Value(l_entry.folder));
        if (l_nameItem && l_folderItem)
        {
            auto l_known = l_offered.emplace(std::make_pair(l_nameItem.Get(), l_folderItem.Get()),
                                             false);
            if (l_known.second)
                l_known.first->second =
                    AlreadyOffered(l_types, l_nameItem.Get(), l_folderItem.Get(),
                                   l_request.Get(), l_wishList, l_user.Get());
            if (l_known.first->second)
                continue;
        }
        l_accepted.push_back(std::move(l_entry));
    }
    if (l_accepted.empty())
        return true;

    ItemPtr l_results = l_types.results->NewItem();
    for (const Accepted& l_entry : l_accepted)
        AddResult(l_types, l_results, *l_entry.file, l_entry.name, l_entry.folder);
    l_results += l_request;
    l_results += l_user;
    l_results += d.GetType("search_results_user_available")->GetItem(l_freeSlot ? "yes" : "no");
    l_results += d.GetType("search_results_user_speed")->GetItem(Value(int(l_speed)));
    l_results += d.GetType("search_results_uploads_in_queue")->GetItem(Value(int(l_queued)));
    emit SearchResults(l_results);
    return true;
}

bool PeerMessenger::ReceiveFolderContentsRequest(const QString& i_user, MemStream& io_body)
{
    quint32 l_request = 0;
    QString l_folder;
    if (!io_body.Read(l_request) || !io_body.Read(l_folder))
        return false;
    emit SharedFilesInFolderRequested(i_user, l_request, l_folder);
    return true;
}
