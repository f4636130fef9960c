#include "server/Server.h"

#include <utility>
#include <vector>

#include "server/ServerItems.h"
#include "store/Data.h"

using namespace server_items;

// Distributed network, search and notice messages.

void Server::HandleFileSearch(MemStream& io_body)
{
    QString l_userName;
    quint32 l_token = 0;
    QString l_text;
    io_body.Read(l_userName);
    io_body.Read(l_token);
    io_body.Read(l_text);
    emit DirectFileSearch(l_userName, l_token, l_text);
}

void Server::HandleDNetMessage(MemStream& io_body)
{
    // The receiver gets the rest of this body in a stream of its own: its reads end with the
    // frame, and nothing it does to the stream reaches the link's receive buffer.
    MemStream l_message;
    const int l_length = io_body.GetPendingReadLength();
    if (l_length > 0)
        l_message.WriteBuffer(io_body.GetReadBuffer(), static_cast<unsigned long>(l_length));
    emit DNetMessage(l_message);
}

void Server::HandlePossibleParents(MemStream& io_body)
{
    std::list<std::pair<QString, TCPAddress>> l_parents;
    qint32 l_count = 0;
    if (io_body.Read(l_count) && l_count <= qint32(InputStream::MaxCount))
    {
        // A negative count means "as many as follow"; the same ceiling holds.
        const qint32 l_limit = l_count < 0 ? qint32(InputStream::MaxCount) : l_count;
        for (qint32 l_index = 0; l_index < l_limit; ++l_index)
        {
            std::pair<QString, TCPAddress> l_entry;
            if (!io_body.Read(l_entry.first) || !io_body.Read(l_entry.second.address) ||
                !io_body.Read(l_entry.second.port))
                break;
            l_parents.push_back(std::move(l_entry));
        }
    }
    emit DNetPossibleParents(l_parents);
}

void Server::HandleSearchCorrelations(MemStream& io_body)
{
    QString l_search;
    std::vector<std::pair<QString, qint32>> l_terms;
    io_body.Read(l_search);
    io_body.Read(l_terms);

    ItemPtr l_text = Lookup("search_request_text", l_search);
    l_text.GetItems("search_correlation").Remove();
    for (const std::pair<QString, qint32>& l_term : l_terms)
    {
        ItemPtr l_correlation = l_text.NewItem("search_correlation");
        l_correlation += Lookup("correlation_text", l_term.first);
        l_correlation += Lookup("correlation_rank", l_term.second);
    }
    emit SearchCorrelations(l_search);
}
