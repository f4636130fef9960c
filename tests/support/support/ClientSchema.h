#pragma once

#include <QString>

#include "store/Data.h"
#include "store/SchemaDeclaration.h"

// The main window's settings: `global` (saved) and `vglobal` (not saved), each to `global_value`.
inline void DeclareSettingsTypes()
{
    DeclareTypes({{"global", Primary, false, true}, {"vglobal", Primary, false, false},
                  {"global_value", Leaf, false, false}});
    DeclareRelations({{"global", "global_value", Many, One}, {"vglobal", "global_value", Many, One}});
}

// The peer messenger's types that some server messages write into.
inline void DeclarePeerSideTypes()
{
    for (const char* l_name : {"user_address", "user_port", "user_obfuscated_port", "peer_connection_request_id",
                               "peer_connection_type", "correlation_text", "correlation_rank"})
        d.NewType(l_name, Leaf, false, true);
    DeclareTypes({{"peer_connection_request", Primary, true, false}, {"search_request_text", Primary, false, true},
                  {"search_correlation", Intermediate, true, true}});
    DeclareRelations({{"user", "user_address", Many, One}, {"user", "user_port", Many, One},
                      {"user", "user_obfuscated_port", Many, One},
                      {"peer_connection_request", "peer_connection_request_id", Many, One},
                      {"peer_connection_request", "user", Many, One},
                      {"peer_connection_request", "peer_connection_type", Many, One},
                      {"search_correlation", "correlation_text", Many, One},
                      {"search_correlation", "correlation_rank", Many, One},
                      {"search_request_text", "search_correlation", One, Many}});
}

// The peer messenger's file attributes, which the shares engine relates its files to.
inline void DeclarePeerFileTypes()
{
    for (const char* l_name : {"mpeg_version", "channel_mode", "audio_frequency", "bitrate_mode", "bitrate",
                               "length_seconds", "file_size"})
        d.NewType(l_name, Leaf, false, true);
}

// The shares engine's file types that the transfer queues relate to and read.
inline void DeclareSharedFileTypes()
{
    DeclareTypes({{"shared_file", Intermediate, true, true}, {"shared_file_name", Intermediate, false, true},
                  {"shared_file_folder", Intermediate, false, true}, {"shared_file_size", Leaf, false, true}});
    for (const char* l_part : {"shared_file_name", "shared_file_folder", "shared_file_size"})
        d.GetType("shared_file")->RelateToType(d.GetType(l_part), Many, One, false);
}

// The main window's open-form records for the chat views: a room or user joined to a
// `chat_log_form` has an open log viewer, a user joined to a `user_chat_widget` a chat tab.
inline void DeclareChatViewTypes()
{
    DeclareTypes({{"chat_log_form", Primary, false}, {"user_chat_widget", Primary, false}});
    DeclareRelations({{"chat_log_form", "room", One, One}, {"chat_log_form", "user", One, One},
                      {"user_chat_widget", "user", One, One}});
}

// A relation as Type::RelateToType reads it from the first type's side, e.g. "Many One owns":
// how many `i_type` items one `i_related` joins, how many `i_related` one `i_type` holds, owned?
inline QString RelationText(const char* i_type, const char* i_related)
{
    const RelationInfo l_info = d.GetType(i_type)->GetRelation(d.GetType(i_related));
    return QString("%1 %2%3").arg(l_info.thisSide == One ? "One" : "Many", l_info.otherSide == One ? "One" : "Many",
                                  l_info.owns ? " owns" : "");
}
