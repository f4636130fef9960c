#include "support/support/Mp3Stream.h"

namespace
{
const int Mpeg1LayerIII[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
const int Mpeg1LayerII[15] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
const int Mpeg2LayersIIandIII[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
const int SampleRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
} // namespace

QByteArray Mp3Stream::Header(const Frame& i_frame)
{
    QByteArray l_header(4, '\0');
    l_header[0] = '\xff';
    l_header[1] = static_cast<char>(0xe0 | i_frame.version << 3 | i_frame.layer << 1 | i_frame.protectionBit);
    l_header[2] = static_cast<char>(i_frame.bitrateIndex << 4 | i_frame.samplingIndex << 2);
    l_header[3] = static_cast<char>(i_frame.channelMode << 6 | 0x04); // "original" set
    return l_header;
}

int Mp3Stream::FrameLength(const Frame& i_frame)
{
    const bool l_mpeg1 = i_frame.version == Mpeg1;
    const int* lp_table = !l_mpeg1 ? Mpeg2LayersIIandIII : i_frame.layer == LayerII ? Mpeg1LayerII : Mpeg1LayerIII;
    const int l_rate = i_frame.samplingIndex < 3 ? SampleRates[i_frame.version][i_frame.samplingIndex] : 0;
    const int l_index = i_frame.bitrateIndex;
    if (i_frame.layer == LayerI || l_rate == 0 || l_index < 1 || l_index > 14)
        return 104;
    const int l_samples = l_mpeg1 || i_frame.layer == LayerII ? 1152 : 576;
    return l_samples / 8 * lp_table[l_index] * 1000 / l_rate;
}

Mp3Stream& Mp3Stream::Add(const Frame& i_frame, int i_count)
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
