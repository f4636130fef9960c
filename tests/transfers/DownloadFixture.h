#pragma once

#include <QDateTime>
#include <QtEndian>

#include "TransferFixture.h"

// A transfer queue manager whose download folder is the test's own, and what it tells bob.
class DownloadFixture : public TransferFixture
{
protected:
    void SetUp() override
    {
        TransferFixture::SetUp();
        SetSetting("download_folder", m_dir.path());
    }

    // The messages parked for the user until a connection exists, oldest first, as text: the
    // code, then the path of a queue (43) or place-in-line (51) request, or the number, the
    // answer and a denial's reason of a transfer response (41).
    static QStringList Parked(const QString& i_user = "bob")
    {
        QStringList l_messages;
        for (ItemPtr l_item : User(i_user).GetItems("unsent_message").SortNumericBy("send_order", true))
        {
            const MemStream* lp_message = l_item.AsPointer<MemStream>();
            const QByteArray l_bytes(lp_message->GetBuffer(), lp_message->GetWriteIndex());
            const auto l_word = [&](int i_at) { return qFromLittleEndian<quint32>(l_bytes.constData() + i_at); };
            QString l_text = QString::number(l_word(0));
            if (l_word(0) == 41)
                l_text += QString(" %1 %2").arg(l_word(4)).arg(int(l_bytes[8])) +
                          (l_bytes[8] ? "" : " " + QString::fromUtf8(l_bytes.mid(13, int(l_word(9)))));
            else
                l_text += " " + QString::fromUtf8(l_bytes.mid(8, int(l_word(4))));
            l_messages << l_text;
        }
        return l_messages;
    }

    // Whole seconds from now to the user's stamp of that type.
    static qint64 SecondsAhead(ItemPtr i_user, const char* i_type)
    {
        const QDateTime l_stamp = QDateTime::fromString(i_user[i_type].AsString(), Qt::TextDate);
        return l_stamp.isValid() ? QDateTime::currentDateTime().secsTo(l_stamp) : -999;
    }

    ItemPtr Download(const std::string& i_file = "song.mp3", qint64 i_size = 100, const QString& i_user = "bob")
    {
        return mp_manager->AddDownload(i_user, i_file, "Music\\Album", i_size, 0);
    }

    static QString Status(ItemPtr i_entry) { return i_entry["download_entry_status"].AsString(); }
    static void GoOnline(const QString& i_user) { User(i_user).NewItem("is_online"); }
};
