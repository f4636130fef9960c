#pragma once

#include <QSignalSpy>
#include <QStringList>

#include "support/support/QtPrinters.h"
#include "support/support/ServerMessageFixture.h"

// Each emission a spy saw, its arguments as text joined by '|'.
inline QStringList Emitted(const QSignalSpy& i_spy)
{
    QStringList l_rows;
    for (const QList<QVariant>& l_arguments : i_spy)
        l_rows << QVariant(l_arguments).toStringList().join('|');
    return l_rows;
}

// A frame as the server sends it, length and code first.
inline QByteArray FrameOf(qint32 i_code, const QByteArray& i_fields = {}) { return FakeCentralServer::MakeFrame(i_code, i_fields); }

// The whole frames, as they came.
inline QList<QByteArray> RawOf(const QList<FakeCentralServer::Frame>& i_frames)
{
    QList<QByteArray> l_raw;
    for (const FakeCentralServer::Frame& l_frame : i_frames)
        l_raw << l_frame.raw;
    return l_raw;
}
