#include <gtest/gtest.h>

#include <QRandomGenerator>

#include <string>
#include <vector>

#include "shares/BodyCompressor.h"

namespace
{
std::string ByCompress2(const std::string& i_body, uLongf i_room)
{
    std::string l_out(i_room, '\0');
    uLongf l_length = i_room;
    const int l_result = compress2(reinterpret_cast<Bytef*>(&l_out[0]), &l_length,
                                   reinterpret_cast<const Bytef*>(i_body.data()), i_body.size(), 9);
    return l_result == Z_OK ? l_out.substr(0, l_length) : "zlib error " + std::to_string(l_result);
}

std::string ByCompressor(BodyCompressor& io_compressor, const std::string& i_body, uLongf i_room)
{
    std::string l_out(i_room, '\0');
    uLongf l_length = i_room;
    const int l_result = io_compressor.Compress(reinterpret_cast<Bytef*>(&l_out[0]), &l_length,
                                                reinterpret_cast<const Bytef*>(i_body.data()), i_body.size());
    return l_result == Z_OK ? l_out.substr(0, l_length) : "zlib error " + std::to_string(l_result);
}
} // namespace

// Peers see the bytes compress2 makes: one compressor, used for body after body, makes the same
// bytes for each, whatever came before it, a body that did not fit included.
TEST(BodyCompressor, MakesCompress2sBytesForEveryBodyInTurn)
{
    std::string l_random(300000, '\0');
    QRandomGenerator(7).generate(l_random.begin(), l_random.end());
    std::string l_reply;
    for (int l_n = 0; l_n < 40; ++l_n)
        l_reply += "\\Music\\Artist " + std::to_string(l_n % 3) + "\\track " + std::to_string(l_n) + ".mp3";
    const std::string l_repeated(4 << 20, 'x');
    const struct { const char* name; std::string body; bool tight = false; } l_cases[] = {
        {"empty", ""},
        {"one byte", "a"},
        {"a small reply", l_reply},
        {"incompressible", l_random},
        {"the small reply again", l_reply},
        {"too little room", l_random, true},
        {"after the failure", l_reply},
        {"long and repetitive", l_repeated},
        {"one byte again", "a"},
    };
    BodyCompressor l_compressor;
    for (const auto& l_case : l_cases)
    {
        const uLongf l_room = l_case.tight ? 1000 : compressBound(l_case.body.size());
        const std::string l_expected = ByCompress2(l_case.body, l_room);
        EXPECT_EQ(ByCompressor(l_compressor, l_case.body, l_room), l_expected) << l_case.name;
        EXPECT_EQ(l_expected.rfind("zlib error", 0) == 0, l_case.tight) << l_case.name;
    }
}
