#include "peer/PeerMessenger.h"

#include "store/Settings.h"

namespace
{
MemStream MessageWithCode(quint32 i_code)
{
    MemStream l_message;
    l_message.Write(i_code);
    return l_message;
}
} // namespace

void PeerMessenger::GetUserInfo(QString i_user)
{
    MemStream l_message = MessageWithCode(15);
    SendMessage(i_user, l_message);
}

unsigned int PeerMessenger::RequestUpload(QString i_user, QString i_file, long long i_size)
{
    // Stored as decimal text, like every setting.
    const unsigned int l_req = GetSetting("transfer_req_counter").toUInt();
    SetSetting("transfer_req_counter", Value(QString::number(l_req + 1u)));

    MemStream l_message = MessageWithCode(40);
    l_message.Write(static_cast<qint32>(1));
    l_message.Write(static_cast<quint32>(l_req));
    l_message.Write(i_file);
    l_message.Write(static_cast<qint64>(i_size));
    SendMessage(i_user, l_message);
    return l_req;
}

void PeerMessenger::AcceptTransferRequest(QString i_user, unsigned int i_req, bool i_sendFileSize,
                                          long long i_fileSize)
{
    MemStream l_message = MessageWithCode(41);
    l_message.Write(static_cast<quint32>(i_req));
    l_message.Write(static_cast<quint8>(1));
    if (i_sendFileSize)
        l_message.Write(static_cast<qint64>(i_fileSize));
    SendMessage(i_user, l_message);
}

void PeerMessenger::DenyTransferRequest(QString i_user, unsigned int i_req, QString i_reason)
{
    MemStream l_message = MessageWithCode(41);
    l_message.Write(static_cast<quint32>(i_req));
    l_message.Write(static_cast<quint8>(0));
    l_message.Write(i_reason);
    SendMessage(i_user, l_message);
}

void PeerMessenger::QueueDownload(QString i_user, std::string i_file)
{
    MemStream l_message = MessageWithCode(43);
    l_message.Write(i_file);
    SendMessage(i_user, l_message);
}

void PeerMessenger::SendUploadPlaceInLine(QString i_user, QString i_file, int i_place)
{
    MemStream l_message = MessageWithCode(44);
    l_message.Write(i_file);
    l_message.Write(static_cast<qint32>(i_place));
    SendMessage(i_user, l_message);
}

void PeerMessenger::DenyUpload(QString i_user, QString i_file, QString i_reason)
{
    MemStream l_message = MessageWithCode(50);
    l_message.Write(i_file);
    l_message.Write(i_reason);
    SendMessage(i_user, l_message);
}

void PeerMessenger::QueueUpload(QString i_user, QString i_file, long long i_size)
{
    MemStream l_message = MessageWithCode(60);
    l_message.Write(i_file);
    l_message.Write(static_cast<qint64>(i_size));
    SendMessage(i_user, l_message);
}

bool PeerMessenger::ReceiveUserInfoReply(const QString& i_user, MemStream& io_body)
{
    QString l_description;
    quint8 l_hasPicture = 0;
    if (!io_body.Read(l_description) || !io_body.Read(l_hasPicture))
        return false;
    QByteArray l_picture;
    if (l_hasPicture)
    {
        qint32 l_length = 0;
        if (!io_body.Read(l_length))
            return false;
        // Checked against what the frame still holds before anything is allocated.
        if (l_length < 0 || l_length > io_body.GetPendingReadLength())
            return false;
        l_picture.resize(l_length);
        if (l_length > 0 &&
            !io_body.ReadBuffer(l_picture.data(), static_cast<unsigned long>(l_length)))
            return false;
    }
    qint32 l_slots = 0;
    qint32 l_queued = 0;
    quint8 l_free = 0;
    if (!io_body.Read(l_slots) || !io_body.Read(l_queued) || !io_body.Read(l_free))
        return false;
    emit UserInfoReceived(i_user, l_description, l_hasPicture != 0, l_picture, l_slots, l_queued,
                          l_free != 0);
    return true;
}

bool PeerMessenger::ReceiveTransferRequest(const QString& i_user, MemStream& io_body)
{
    qint32 l_direction = 0;
    quint32 l_req = 0;
    std::string l_file;
    if (!io_body.Read(l_direction) || !io_body.Read(l_req) || !io_body.Read(l_file))
        return false;
    // Only an upload announcement carries a size; otherwise it stays 0.
    qint64 l_size = 0;
    if (l_direction == 1 && !io_body.Read(l_size))
        return false;
    emit FileTransferRequested(i_user, l_direction, l_req, l_file, l_size);
    return true;
}

bool PeerMessenger::ReceiveTransferResponse(const QString& i_user, MemStream& io_body)
{
    quint32 l_req = 0;
    quint8 l_allowed = 0;
    if (!io_body.Read(l_req) || !io_body.Read(l_allowed))
        return false;
    if (l_allowed)
    {
        qint64 l_size = 0;
        const bool l_hasSize = io_body.Read(l_size);
        emit FileTransferResponse(i_user, l_req, true, l_hasSize, l_hasSize ? l_size : 0,
                                  QString());
        return true;
    }
    QString l_reason;
    if (!io_body.Read(l_reason))
        return false;
    emit FileTransferResponse(i_user, l_req, false, false, 0, l_reason);
    return true;
}

bool PeerMessenger::ReceiveQueueMessage(quint32 i_code, const QString& i_user, MemStream& io_body)
{
    if (i_code == 43 || i_code == 51)
    {
        QString l_file;
        if (!io_body.Read(l_file))
            return false;
        if (i_code == 43)
            emit QueueUploadRequested(i_user, l_file);
        else
            emit UploadPlaceInLineRequested(i_user, l_file);
        return true;
    }

    std::string l_file;
    if (!io_body.Read(l_file))
        return false;
    switch (i_code)
    {
    case 44:
    {
        qint32 l_place = 0;
        if (!io_body.Read(l_place))
            return false;
        emit DownloadPlaceInLine(i_user, l_file, l_place);
        return true;
    }
    case 46:
        emit UploadFailed(i_user, l_file);
        return true;
    case 50:
    {
        QString l_reason;
        if (!io_body.Read(l_reason))
            return false;
        emit UploadDenied(i_user, l_file, l_reason);
        return true;
    }
    case 60:
    {
        qint64 l_size = 0;
        if (!io_body.Read(l_size))
            return false;
        emit QueueDownloadRequested(i_user, l_file, l_size);
        return true;
    }
    default:
        return true;
    }
}
