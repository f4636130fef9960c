#pragma once

#include <QDir>
#include <QString>

#include <fstream>
#include <random>
#include <string>
#include <vector>

// Album folders of 20 files each under artist folders of 100 albums; names of 3 to 6 words drawn
// from a fixed vocabulary, as music collections name their tracks. The same count always gives
// the same tree.
constexpr int kFilesPerFolder = 20;
constexpr int kAlbumsPerArtist = 100;

inline void WriteMusicTree(const QString& i_root, int i_files)
{
    std::mt19937 l_random(i_files);
    std::vector<std::string> l_words;
    for (int l_k = 0; l_k < 3000; ++l_k)
    {
        std::string l_word;
        const int l_length = 3 + static_cast<int>(l_random() % 7);
        for (int l_c = 0; l_c < l_length; ++l_c)
            l_word += static_cast<char>('a' + l_random() % 26);
        l_word[0] = static_cast<char>(l_word[0] - 'a' + 'A');
        l_words.push_back(l_word);
    }
    const char* const l_extensions[] = {".mp3", ".mp3", ".ogg", ".flac", ".jpg"};
    const auto l_name = [&](int i_count) {
        std::string l_text;
        for (int l_w = 0; l_w < i_count; ++l_w)
            l_text += (l_w ? " " : "") + l_words[l_random() % l_words.size()];
        return l_text;
    };
    for (int l_album = 0; l_album < i_files / kFilesPerFolder; ++l_album)
    {
        const std::string l_folder = i_root.toStdString() + "/" +
                                     std::to_string(l_album / kAlbumsPerArtist) + " " +
                                     l_name(2) + "/" + l_name(3);
        QDir().mkpath(QString::fromStdString(l_folder));
        for (int l_track = 0; l_track < kFilesPerFolder; ++l_track)
            std::ofstream(l_folder + "/" + std::to_string(l_track) + " " +
                          l_name(2 + static_cast<int>(l_random() % 4)) +
                          l_extensions[l_random() % 5]);
    }
}
