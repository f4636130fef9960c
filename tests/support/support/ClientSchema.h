#pragma once

#include <QString>

#include <initializer_list>
#include <utility>

#include "store/Data.h"
#include "store/SchemaDeclaration.h"

// The settings types the main window declares before anything else: `global` (saved) and
// `vglobal` (not saved), each holding one `global_value`.
inline void DeclareSettingsTypes()
{
    Type* lp_global = d.NewType("global", Primary, false, true);
    Type* lp_vglobal = d.NewType("vglobal", Primary, false, false);
    Type* lp_value = d.NewType("global_value", Leaf, false, false);
    lp_global->RelateToType(lp_value, Many, One, false);
    lp_vglobal->RelateToType(lp_value, Many, One, false);
}

// The peer messenger's types that some server messages write into, declared as the messenger
// declares them, for server tests that run without a messenger.
inline void DeclarePeerSideTypes()
{
    for (const char* l_name : {"user_address", "user_port", "user_obfuscated_port",
                               "peer_connection_request_id", "peer_connection_type",
                               "correlation_text", "correlation_rank"})
        d.NewType(l_name, Leaf, false, true);
    d.NewType("peer_connection_request", Primary, true, false);
    d.NewType("search_request_text", Primary, false, true);
    d.NewType("search_correlation", Intermediate, true, true);
    for (const auto& l_pair : std::initializer_list<std::pair<const char*, const char*>>{
             {"user", "user_address"},
             {"user", "user_port"},
             {"user", "user_obfuscated_port"},
             {"peer_connection_request", "peer_connection_request_id"},
             {"peer_connection_request", "user"},
             {"peer_connection_request", "peer_connection_type"},
             {"search_correlation", "correlation_text"},
             {"search_correlation", "correlation_rank"}})
        d.GetType(l_pair.first)->RelateToType(d.GetType(l_pair.second), Many, One, false);
    d.GetType("search_request_text")->RelateToType(d.GetType("search_correlation"), One, Many, false);
}

// A relation as Type::RelateToType reads it from the first type's side, e.g. "Many One owns":
// how many `i_type` items one `i_related` item may join, how many `i_related` items one
// `i_type` item may hold, and whether it owns them.
inline QString RelationText(const char* i_type, const char* i_related)
{
    const RelationInfo l_info = d.GetType(i_type)->GetRelation(d.GetType(i_related));
    return QString("%1 %2%3")
        .arg(l_info.thisSide == One ? "One" : "Many", l_info.otherSide == One ? "One" : "Many",
             l_info.owns ? " owns" : "");
}

// The shares engine's file types that the transfer queues relate to and read, declared as the
// shares engine declares them, for tests that run without it.
inline void DeclareSharedFileTypes()
{
    d.NewType("shared_file", Intermediate, true, true);
    d.NewType("shared_file_name", Intermediate, false, true);
    d.NewType("shared_file_folder", Intermediate, false, true);
    d.NewType("shared_file_size", Leaf, false, true);
    for (const char* l_part : {"shared_file_name", "shared_file_folder", "shared_file_size"})
        d.GetType("shared_file")->RelateToType(d.GetType(l_part), Many, One, false);
}

// The open-form records the main window declares for the chat views: a room or user connected to
// a `chat_log_form` has an open log viewer, a user connected to a `user_chat_widget` a chat tab.
// Needs the server link's `room` and `user`.
inline void DeclareChatViewTypes()
{
    DeclareTypes({{"chat_log_form", Primary, false}, {"user_chat_widget", Primary, false}});
    DeclareRelations({{"chat_log_form", "room", One, One},
                      {"chat_log_form", "user", One, One},
                      {"user_chat_widget", "user", One, One}});
}

// The file attribute types the peer messenger declares, which the shares engine relates its
// shared and browsed files to, for tests that run without a messenger.
inline void DeclarePeerFileTypes()
{
    for (const char* l_name : {"mpeg_version", "channel_mode", "audio_frequency", "bitrate_mode",
                               "bitrate", "length_seconds", "file_size"})
        d.NewType(l_name, Leaf, false, true);
}
