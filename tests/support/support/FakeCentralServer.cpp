#include "support/support/FakeCentralServer.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QtEndian>

namespace
{
void AppendLittleEndian(QByteArray& io_bytes, quint32 i_value)
{
    for (int l_shift = 0; l_shift < 32; l_shift += 8)
        io_bytes.append(static_cast<char>((i_value >> l_shift) & 0xff));
}

quint32 ReadLittleEndian(const char* ip_bytes) { return qFromLittleEndian<quint32>(ip_bytes); }
} // namespace

WireFields& WireFields::Int32(qint32 i_value) { return UInt32(static_cast<quint32>(i_value)); }
WireFields& WireFields::UInt32(quint32 i_value) { AppendLittleEndian(m_bytes, i_value); return *this; }
WireFields& WireFields::Byte(quint8 i_value) { return Raw(QByteArray(1, static_cast<char>(i_value))); }
WireFields& WireFields::Text(const QString& i_text)
{
    const QByteArray l_utf8 = i_text.toUtf8();
    return UInt32(static_cast<quint32>(l_utf8.size())).Raw(l_utf8);
}
WireFields& WireFields::Raw(const QByteArray& i_bytes) { m_bytes.append(i_bytes); return *this; }

WireFields& WireFields::Texts(const QStringList& i_texts)
{
    Int32(i_texts.size());
    for (const QString& l_text : i_texts)
        Text(l_text);
    return *this;
}

WireFields& WireFields::Int32s(const QList<qint32>& i_numbers)
{
    Int32(i_numbers.size());
    for (qint32 l_number : i_numbers)
        Int32(l_number);
    return *this;
}

FakeCentralServer::FakeCentralServer()
{
    connect(&m_listener, &QTcpServer::newConnection, this, &FakeCentralServer::OnNewConnection);
    m_listener.listen(QHostAddress::LocalHost, 0);
}

FakeCentralServer::~FakeCentralServer()
{
    if (mp_client)
        { mp_client->disconnect(this); mp_client->abort(); delete mp_client; }
}

QByteArray FakeCentralServer::MakeFrame(qint32 i_code, const QByteArray& i_fields)
{
    return WireFields().UInt32(static_cast<quint32>(i_fields.size() + 4)).Int32(i_code).Raw(i_fields);
}

void FakeCentralServer::SendRaw(const QByteArray& i_bytes)
{
    if (mp_client)
        { mp_client->write(i_bytes); mp_client->flush(); }
}

void FakeCentralServer::SendFrame(qint32 i_code, const QByteArray& i_fields) { SendRaw(MakeFrame(i_code, i_fields)); }

void FakeCentralServer::DropClient()
{
    if (!mp_client)
        return;
    QTcpSocket* lp_client = mp_client;
    mp_client = nullptr;
    lp_client->disconnect(this);
    lp_client->abort();
    lp_client->deleteLater();
}

QList<FakeCentralServer::Frame> FakeCentralServer::FramesWithCode(qint32 i_code) const
{
    QList<Frame> l_found;
    for (const Frame& l_frame : m_frames)
        if (l_frame.code == i_code)
            l_found.append(l_frame);
    return l_found;
}

void FakeCentralServer::OnNewConnection()
{
    while (QTcpSocket* lp_socket = m_listener.nextPendingConnection())
    {
        // One client at a time, as the real server sees one login per link.
        DropClient();
        mp_client = lp_socket;
        m_pending.clear();
        ++m_connectionCount;
        connect(mp_client, &QTcpSocket::readyRead, this, &FakeCentralServer::OnReadyRead);
        connect(mp_client, &QTcpSocket::disconnected, this, &FakeCentralServer::OnClientGone);
        OnReadyRead();
    }
}

void FakeCentralServer::OnReadyRead()
{
    if (!mp_client)
        return;
    m_pending.append(mp_client->readAll());
    while (m_pending.size() >= 4)
    {
        const quint32 l_length = ReadLittleEndian(m_pending.constData());
        if (static_cast<quint64>(m_pending.size()) < 4ull + l_length)
            return;
        Frame l_frame;
        l_frame.raw = m_pending.left(static_cast<int>(4 + l_length));
        if (l_length >= 4)
        {
            l_frame.code = static_cast<qint32>(ReadLittleEndian(m_pending.constData() + 4));
            l_frame.fields = l_frame.raw.mid(8);
        }
        m_pending.remove(0, static_cast<int>(4 + l_length));
        m_frames.append(l_frame);
        Answer(l_frame);
    }
}

void FakeCentralServer::OnClientGone()
{
    if (mp_client)
        { mp_client->deleteLater(); mp_client = nullptr; }
}

void FakeCentralServer::Answer(const Frame& i_frame)
{
    if (i_frame.code != 1 || m_script == LoginScript::Silent)
        return;
    if (m_script == LoginScript::Accept)
        SendFrame(1, WireFields().Byte(1).Text("Welcome").UInt32(0x0100007f).Text("0123456789abcdef"));
    else
        SendFrame(1, WireFields().Byte(0).Text(m_refusal));
}
