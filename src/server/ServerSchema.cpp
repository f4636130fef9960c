#include "server/Server.h"

#include "store/DataSaver.h"
#include "store/SchemaDeclaration.h"
#include "store/Settings.h"

namespace
{
const TypeDeclaration ServerTypes[] = {
    {"user", Primary, false},
    {"is_online", Leaf, true},
    {"is_tracked", Leaf, true},
    {"is_privileged", Leaf, true},
    {"is_away", Leaf, true},
    {"room", Primary, false},
    {"room_autojoin", Leaf, true},
    {"user_count", Leaf, false},
    {"is_private", Leaf, true},
    {"is_member", Leaf, true},
    {"in_room", Leaf, true},
    {"room_owner", Intermediate, true},
    {"room_operators", Intermediate, true},
    {"room_members", Intermediate, true},
    {"is_owner", Leaf, true},
    {"is_operator", Leaf, true},
    {"average_download_speed", Leaf, false},
    {"shared_files_count", Leaf, false},
    {"country_code", Leaf, false},
    {"in_user_list", Leaf, true},
    {"user_list_group", Primary, false},
    {"group_download_priority", Leaf, false},
    {"is_ignored", Leaf, true},
    {"accept_uploads", Leaf, true},
    {"user_address_request", Leaf, true},
    {"room_ticker", Intermediate, true},
    {"room_ticker_text", Leaf, false},
    {"room_ticker_order", Leaf, false},
    {"ticker_order_counter", Leaf, false},
};

const RelationDeclaration ServerRelations[] = {
    {"user", "is_online", Many, One},
    {"user", "is_tracked", Many, One},
    {"user", "is_privileged", Many, One},
    {"user", "average_download_speed", Many, One},
    {"user", "shared_files_count", Many, One},
    {"user", "country_code", Many, One},
    {"user", "in_user_list", One, One},
    {"user", "is_ignored", Many, One},
    {"user", "is_away", Many, One},
    {"in_user_list", "user_list_group", Many, Many},
    {"user_list_group", "group_download_priority", Many, One},
    {"user_list_group", "accept_uploads", Many, One},
    {"room", "user", Many, Many},
    {"room", "user_count", Many, One},
    {"room", "in_room", Many, One},
    {"room", "room_autojoin", Many, One},
    {"room", "room_owner", One, One},
    {"room", "room_operators", One, One},
    {"room", "room_members", One, One},
    {"room_owner", "user", Many, One},
    {"room_operators", "user", Many, Many},
    {"room_members", "user", Many, Many},
    {"room", "is_private", Many, One},
    {"room", "is_owner", Many, One},
    {"room", "is_operator", Many, One},
    {"room", "is_member", Many, One},
    {"user_address_request", "user", One, Many},
    {"room", "room_ticker", One, Many},
    {"room", "ticker_order_counter", Many, One},
    {"room_ticker", "room_ticker_text", Many, One},
    {"room_ticker", "room_ticker_order", Many, One},
    {"room_ticker", "user", Many, One},
};
} // namespace

void Server::CreateData()
{
    DeclareTypes(ServerTypes);
    DeclareRelations(ServerRelations);

    dataSaver->AddSavedType("room_autojoin");
    dataSaver->AddSavedByConnectionType("room", "room_autojoin");
    dataSaver->AddSavedType("in_user_list");
    dataSaver->AddSavedByConnectionType("user", "in_user_list");
    dataSaver->AddSavedType("user_list_group");
    dataSaver->AddSavedType("is_ignored");
    dataSaver->AddSavedByConnectionType("user", "is_ignored");
    dataSaver->AddSavedType("group_download_priority");
    dataSaver->AddSavedType("accept_uploads");

    SetSetting("availability_status", "available");
}
