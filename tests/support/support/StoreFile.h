#pragma once

#include <QStringList>

#include <map>

// A store file written byte by byte, independently of the client's saver, so a test can put a
// stored state in place before a whole client (or another process) reads it: settings and
// autojoin rooms.
class StoreFile
{
public:
    StoreFile& Setting(const QString& i_key, const QString& i_value);
    StoreFile& AutojoinRoom(const QString& i_room);

    QByteArray Bytes() const;
    bool WriteTo(const QString& i_path) const;

private:
    std::map<QString, QString> m_settings;
    QStringList m_rooms;
};
