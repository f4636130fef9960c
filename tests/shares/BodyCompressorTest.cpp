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

namespace
{
// Bodies of one length, each made a different way: random bytes, a few letters, one byte,
// short and long periods, runs, zeros with rare marks, and records as search replies hold them.
std::vector<std::pair<std::string, std::string>> BodiesOf(std::size_t i_length, quint32 i_seed)
{
    QRandomGenerator l_random(i_seed);
    const auto l_make = [&](auto i_byte) {
        std::string l_body(i_length, '\0');
        for (std::size_t l_at = 0; l_at < i_length; ++l_at)
            l_body[l_at] = static_cast<char>(i_byte(l_at));
        return l_body;
    };
    const std::size_t l_period = 1 + l_random.bounded(300);
    std::string l_records;
    for (int l_n = 0; l_records.size() < i_length; ++l_n)
        l_records += std::string("\x01\x2a\0\0\0", 5) + "\\Music\\Artist " + std::to_string(l_n % 4) +
                     "\\Album " + std::to_string(l_n % 7) + "\\" + std::to_string(l_random.bounded(100)) +
                     " track.mp3" + std::string("\x40\x1f\0\0\0\0\0\0\x03\0\0\0mp3", 15);
    l_records.resize(i_length);
    return {
        {"random", l_make([&](std::size_t) { return l_random.bounded(256); })},
        {"four letters", l_make([&](std::size_t) { return 'a' + l_random.bounded(4); })},
        {"one byte", std::string(i_length, 'x')},
        {"period three", l_make([](std::size_t i_at) { return "abc"[i_at % 3]; })},
        {"long period", l_make([&](std::size_t i_at) { return 'a' + (i_at % l_period) * 7 % 26; })},
        {"runs", l_make([&](std::size_t i_at) { return 'a' + (i_at / (1 + i_seed % 40)) % 3; })},
        {"sparse marks", l_make([&](std::size_t) { return l_random.bounded(50) == 0 ? 0xff : 0; })},
        {"records", l_records},
    };
}
} // namespace

// A short body goes through a smaller compressor than compress2's. For every body that may,
// every smaller memory level it may use makes compress2's bytes: lengths on both sides of each
// level's limit, bodies made every way; the compressor's own choice too. Past a level's symbol
// buffer its blocks end elsewhere, so bodies that long differ there: the limit is real.
TEST(BodyCompressor, ShortBodiesMakeCompress2sBytesAtEverySmallerMemoryLevel)
{
    BodyCompressor l_compressor;
    std::vector<std::size_t> l_lengths;
    for (std::size_t l_length = 0; l_length <= 300; ++l_length)
        l_lengths.push_back(l_length);
    for (std::size_t l_limit : {127, 255, 511, 1023})
        for (std::size_t l_length = l_limit - 6; l_length <= l_limit + 6; ++l_length)
            l_lengths.push_back(l_length);
    for (std::size_t l_length = 300; l_length < 1100; l_length += 37)
        l_lengths.push_back(l_length);
    int l_compared = 0;
    bool l_differsPastTheLimit[BodyCompressor::HighestSmallLevel + 1] = {};
    for (std::size_t l_length : l_lengths)
        for (const auto& [l_name, l_body] : BodiesOf(l_length, static_cast<quint32>(l_length)))
        {
            const uLongf l_room = compressBound(l_body.size());
            const std::string l_expected = ByCompress2(l_body, l_room);
            ASSERT_EQ(ByCompressor(l_compressor, l_body, l_room), l_expected) << l_name << " " << l_length;
            for (int l_level = BodyCompressor::LowestLevel; l_level <= BodyCompressor::HighestSmallLevel; ++l_level)
            {
                std::string l_out(l_room, '\0');
                uLongf l_size = l_room;
                // Past the limit, more blocks may not fit in compress2's bound: that differs too.
                const int l_result =
                    l_compressor.CompressAt(l_level, reinterpret_cast<Bytef*>(&l_out[0]), &l_size,
                                            reinterpret_cast<const Bytef*>(l_body.data()), l_body.size());
                l_out = l_result == Z_OK ? l_out.substr(0, l_size) : "zlib error";
                const bool l_fits = l_length + 1 < (std::size_t(1) << (l_level + 6));
                if (l_fits)
                {
                    ASSERT_EQ(l_out, l_expected) << l_name << " " << l_length << " at level " << l_level;
                    ++l_compared;
                }
                else if (l_out != l_expected)
                    l_differsPastTheLimit[l_level] = true;
            }
        }
    EXPECT_GT(l_compared, 5000);
    for (int l_level = BodyCompressor::LowestLevel; l_level <= BodyCompressor::HighestSmallLevel; ++l_level)
        EXPECT_TRUE(l_differsPastTheLimit[l_level]) << "level " << l_level;
    // The compressor's choice: the smallest level whose buffer holds the body, compress2's past 1 KiB.
    EXPECT_EQ((std::vector<int>{BodyCompressor::MemoryLevelFor(0), BodyCompressor::MemoryLevelFor(126),
                                BodyCompressor::MemoryLevelFor(127), BodyCompressor::MemoryLevelFor(1022),
                                BodyCompressor::MemoryLevelFor(1023)}),
              (std::vector<int>{1, 1, 2, 4, 8}));
}
