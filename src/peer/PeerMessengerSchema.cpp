#include "peer/PeerMessenger.h"

#include "store/Data.h"
#include "store/SchemaDeclaration.h"

namespace
{
const TypeDeclaration SocketTypes[] = {
    {"uninitialized_socket", Primary, false, false},
    {"peer_socket", Primary, false, false},
    {"connection_open_time", Leaf, false, true},
    {"last_activity_time", Primary, false, true},
    {"is_obfuscated", Leaf, true, true},
};

const RelationDeclaration SocketRelations[] = {
    {"peer_socket", "user", Many, One, false},
    {"peer_socket", "connection_open_time", Many, One, false},
    {"peer_socket", "last_activity_time", Many, One, false},
    {"peer_socket", "is_obfuscated", Many, One, false},
    {"uninitialized_socket", "is_obfuscated", Many, One, false},
};

const TypeDeclaration RequestTypes[] = {
    {"peer_connection_request", Primary, true, false},
    {"peer_connection_request_id", Leaf, false, true},
    {"peer_connection_type", Leaf, false, true},
    {"peer_connection_request_socket", Primary, false, false},
    {"user_address", Leaf, false, true},
    {"user_port", Leaf, false, true},
    {"user_obfuscated_port", Leaf, false, true},
    {"socket_creation_time", Leaf, false, true},
};

const RelationDeclaration RequestRelations[] = {
    {"peer_connection_request", "peer_connection_request_id", Many, One, false},
    {"peer_connection_request", "peer_connection_request_socket", One, One, false},
    {"peer_connection_request", "user", Many, One, false},
    {"peer_connection_request", "peer_connection_type", Many, One, false},
    {"peer_connection_request", "is_obfuscated", Many, One, false},
    {"peer_connection_request_socket", "socket_creation_time", Many, One, false},
    {"user", "user_address", Many, One, false},
    {"user", "user_port", Many, One, false},
    {"user", "user_obfuscated_port", Many, One, false},
};

const TypeDeclaration SearchTypes[] = {
    {"search_request", Primary, false, false},
    {"search_request_text", Primary, false, true},
    {"wishlist_search", Leaf, true, true},
    {"search_results", Primary, true, true},
    {"search_result", Intermediate, true, true},
    {"search_results_user_available", Leaf, false, true},
    {"search_results_user_speed", Leaf, false, true},
    {"search_results_uploads_in_queue", Leaf, false, true},
    {"search_result_file_name", Leaf, false, true},
    {"search_result_file_folder", Leaf, false, true},
    {"file_size", Leaf, false, true},
    {"search_stopped", Leaf, true, true},
};

const RelationDeclaration SearchRelations[] = {
    {"search_request", "search_request_text", Many, One, false},
    {"search_request", "wishlist_search", Many, One, false},
    {"search_request", "search_results", One, Many, true},
    {"search_results", "search_result", One, Many, true},
    {"search_results", "user", Many, One, false},
    {"search_results", "search_results_user_available", Many, One, false},
    {"search_results", "search_results_user_speed", Many, One, false},
    {"search_results", "search_results_uploads_in_queue", Many, One, false},
    {"search_result", "search_result_file_name", Many, One, false},
    {"search_result", "search_result_file_folder", Many, One, false},
    {"search_result", "file_size", Many, One, false},
    {"search_request", "search_stopped", Many, One, false},
};

const TypeDeclaration CorrelationTypes[] = {
    {"search_correlation", Intermediate, true, true},
    {"correlation_text", Leaf, false, true},
    {"correlation_rank", Leaf, false, true},
};

const RelationDeclaration CorrelationRelations[] = {
    {"search_request_text", "search_correlation", One, Many, false},
    {"search_correlation", "correlation_text", Many, One, false},
    {"search_correlation", "correlation_rank", Many, One, false},
};

const TypeDeclaration Mp3Types[] = {
    {"mpeg_version", Leaf, false, true},
    {"channel_mode", Leaf, false, true},
    {"audio_frequency", Leaf, false, true},
    {"bitrate_mode", Leaf, false, true},
    {"bitrate", Leaf, false, true},
    {"length_seconds", Leaf, false, true},
};

const RelationDeclaration Mp3Relations[] = {
    {"search_result", "bitrate_mode", Many, One, false},
    {"search_result", "bitrate", Many, One, false},
    {"search_result", "length_seconds", Many, One, false},
};

const TypeDeclaration QueueTypes[] = {
    {"unsent_message", Primary, false, true},
    {"send_order", Leaf, false, true},
    {"send_time", Leaf, false, true},
};

const RelationDeclaration QueueRelations[] = {
    {"unsent_message", "user", Many, One, false},
    {"unsent_message", "send_order", One, One, false},
    {"unsent_message", "send_time", Many, One, false},
};

const TypeDeclaration AttemptTypes[] = {
    {"connect_to_peer_request", Primary, true, true},
    {"connect_to_peer_request_status", Leaf, false, true},
    {"connect_to_peer_request_socket", Primary, false, true},
    {"indirect_connect_to_peer_request", Primary, false, true},
};

// No owner flag ties an attempt to its legs: a settled attempt goes, its losing leg runs on.
const RelationDeclaration AttemptRelations[] = {
    {"connect_to_peer_request", "connect_to_peer_request_status", Many, One, false},
    {"connect_to_peer_request", "connect_to_peer_request_socket", One, One, false},
    {"connect_to_peer_request", "user", Many, One, false},
    {"connect_to_peer_request", "peer_connection_type", Many, One, false},
    {"connect_to_peer_request", "indirect_connect_to_peer_request", One, One, false},
    {"connect_to_peer_request_socket", "socket_creation_time", Many, One, false},
    {"indirect_connect_to_peer_request", "send_time", Many, One, false},
    {"connect_to_peer_request_socket", "user", Many, One, false},
    {"connect_to_peer_request_socket", "peer_connection_type", Many, One, false},
    {"connect_to_peer_request_socket", "is_obfuscated", Many, One, false},
    {"indirect_connect_to_peer_request", "user", Many, One, false},
    {"indirect_connect_to_peer_request", "peer_connection_type", Many, One, false},
    // Accepted sockets are stamped, so that one that never introduces itself can expire.
    {"uninitialized_socket", "socket_creation_time", Many, One, false},
};

// Hangs the three address children under a user node; each of them must be there and each
// new one triggers.
void AddAddressNodes(PathNode* ip_user)
{
    new PathNode(ip_user, "user_address", ConnectedAndNotify);
    new PathNode(ip_user, "user_port", ConnectedAndNotify);
    new PathNode(ip_user, "user_obfuscated_port", ConnectedAndNotify);
}
} // namespace

void PeerMessenger::DeclareSchema()
{
    DeclareTypes(SocketTypes);
    DeclareRelations(SocketRelations);
    Type* lp_peerSocket = d.GetType("peer_socket");
    lp_peerSocket->m_newItemEvent.AddHandler(
        NewEventHandler(this, &PeerMessenger::OnPeerSocketItemAdded));
    lp_peerSocket->m_removedEvent.AddHandler(
        NewEventHandler(this, &PeerMessenger::OnPeerSocketItemRemoved));

    DeclareTypes(RequestTypes);
    DeclareRelations(RequestRelations);
    PathNode* lp_request = new PathNode(&d, "peer_connection_request");
    new PathNode(lp_request, "peer_connection_request_id", ConnectedAndNotify);
    new PathNode(lp_request, "peer_connection_type", ConnectedAndNotify);
    AddAddressNodes(new PathNode(lp_request, "user", ConnectedAndNotify));
    d.AddPathEventHandler(lp_request,
                          NewEventHandler(this, &PeerMessenger::OnPeerConnectionRequest));

    DeclareTypes(SearchTypes);
    DeclareRelations(SearchRelations);
    DeclareTypes(CorrelationTypes);
    DeclareRelations(CorrelationRelations);
    DeclareTypes(Mp3Types);
    DeclareRelations(Mp3Relations);
    DeclareTypes(QueueTypes);
    DeclareRelations(QueueRelations);
    d.GetType("unsent_message")->m_removedEvent.AddHandler(
        NewEventHandler(this, &PeerMessenger::OnUnsentMessageRemoved));
    DeclareTypes(AttemptTypes);
    DeclareRelations(AttemptRelations);
    d.GetType("uninitialized_socket")
        ->m_newItemEvent.AddHandler(
            NewEventHandler(this, &PeerMessenger::OnUninitializedSocketItemAdded));

    d.GetType("user")->m_removedEvent.AddHandler(
        NewEventHandler(this, &PeerMessenger::OnUserRemoved));
    PathNode* lp_user = new PathNode(&d, "user");
    AddAddressNodes(lp_user);
    d.AddPathEventHandler(lp_user, NewEventHandler(this, &PeerMessenger::OnUserAddress));
}
