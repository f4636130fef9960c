#pragma once

#include <QString>

// The append-only chat logs, one file per room and per private conversation partner under
// "Tarnwick Chat Logs" in the home folder, and the one writer that room and private chat tabs use.
class ChatLog
{
public:
    enum class Kind
    {
        Room, // "Rooms", written while `log_room_chat` is "yes"
        User, // "Users", written while `log_private_chat` is "yes"
    };

    // Names are chosen by other users, so a name that could leave the folder, hide the file or
    // not fit a file name is mapped; every other name is its own file name, so logs written by
    // earlier versions are still found.
    static QString Folder(Kind i_kind);
    static QString FileName(const QString& i_name);
    static QString Path(Kind i_kind, const QString& i_name);

    // Appends the line and a line feed, in UTF-8, when the kind's setting is "yes", and shows
    // it in the open viewer of that room or user. A file that cannot be written loses the line.
    static void Write(Kind i_kind, const QString& i_name, const QString& i_line);
};
