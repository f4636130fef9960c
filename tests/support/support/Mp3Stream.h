#pragma once

#include <QByteArray>

// A synthetic MPEG audio stream: frame headers with their true frame lengths, and junk where a
// test puts it. Frame bodies are zeros, or pseudo-random bytes like real audio data, which
// then hold the odd false frame sync.
class Mp3Stream
{
public:
    // Header fields as ISO/IEC 11172-3 and 13818-3 encode them.
    enum Version { Mpeg25 = 0, ReservedVersion = 1, Mpeg2 = 2, Mpeg1 = 3 };
    enum Layer { LayerIII = 1, LayerII = 2, LayerI = 3 };
    enum ChannelMode { Stereo = 0, JointStereo = 1, DualChannel = 2, SingleChannel = 3 };

    struct Frame
    {
        int bitrateIndex = 9;
        Version version = Mpeg1;
        Layer layer = LayerIII;
        int samplingIndex = 0;
        ChannelMode channelMode = JointStereo;
        int protectionBit = 1; // 1: no checksum follows the header
    };

    explicit Mp3Stream(bool i_noisyBodies = false) : m_noisyBodies(i_noisyBodies) {}

    static QByteArray Header(const Frame& i_frame);
    // Header and body; free-format and invalid indexes get a body of 100 bytes.
    static int FrameLength(const Frame& i_frame);

    Mp3Stream& Add(const Frame& i_frame, int i_count = 1);
    Mp3Stream& Add(const QByteArray& i_junk) { m_bytes += i_junk; return *this; }
    const QByteArray& Bytes() const { return m_bytes; }

private:
    bool m_noisyBodies;
    quint32 m_noise = 12345;
    QByteArray m_bytes;
};
