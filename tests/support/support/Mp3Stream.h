#pragma once

#include <QByteArray>

// A synthetic MPEG audio stream: frame headers with their true frame lengths, and bodies of zeros
// or of noise like real audio (which holds the odd false sync).
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

    static QByteArray Header(const Frame& i_frame)
    {
        QByteArray l_header(4, '\xff');
        l_header[1] = static_cast<char>(0xe0 | i_frame.version << 3 | i_frame.layer << 1 | i_frame.protectionBit);
        l_header[2] = static_cast<char>(i_frame.bitrateIndex << 4 | i_frame.samplingIndex << 2);
        l_header[3] = static_cast<char>(i_frame.channelMode << 6 | 0x04); // "original" set
        return l_header;
    }
    // Header and body; free-format and invalid indexes get a body of 100 bytes.
    static int FrameLength(const Frame& i_frame)
    {
        static const int l_mpeg1LayerIII[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
        static const int l_mpeg1LayerII[15] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
        static const int l_mpeg2[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
        static const int l_rates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000},
                                          {44100, 48000, 32000}};
        const bool l_mpeg1 = i_frame.version == Mpeg1;
        const int* lp_table = !l_mpeg1 ? l_mpeg2 : i_frame.layer == LayerII ? l_mpeg1LayerII : l_mpeg1LayerIII;
        const int l_rate = i_frame.samplingIndex < 3 ? l_rates[i_frame.version][i_frame.samplingIndex] : 0;
        if (i_frame.layer == LayerI || l_rate == 0 || i_frame.bitrateIndex < 1 || i_frame.bitrateIndex > 14)
            return 104;
        return (l_mpeg1 || i_frame.layer == LayerII ? 1152 : 576) / 8 * lp_table[i_frame.bitrateIndex] * 1000 / l_rate;
    }

    Mp3Stream& Add(const Frame& i_frame, int i_count = 1)
    {
        for (int l_frame = 0; l_frame < i_count; ++l_frame)
        {
            QByteArray l_body(FrameLength(i_frame) - 4, '\0');
            for (int l_byte = 0; m_noisyBodies && l_byte < l_body.size(); ++l_byte)
            {
                m_noise = m_noise * 1103515245u + 12345u;
                l_body[l_byte] = static_cast<char>(m_noise >> 23);
            }
            m_bytes += Header(i_frame) + l_body;
        }
        return *this;
    }
    const QByteArray& Bytes() const { return m_bytes; }

private:
    bool m_noisyBodies;
    quint32 m_noise = 12345;
    QByteArray m_bytes;
};
