#pragma once

#include <QFile>
#include <QTextCodec>

// Sets the encoding in which file names are read and written (the locale's, which QFile's
// encodeName and decodeName follow) while it lives, so that what a name's bytes decode to does not
// hang on the test's locale. Qt takes UTF-8 on Linux even in the C locale.
class FileNameEncoding
{
public:
    explicit FileNameEncoding(const char* i_codec) : mp_before(QTextCodec::codecForLocale())
    {
        QTextCodec::setCodecForLocale(QTextCodec::codecForName(i_codec));
    }
    ~FileNameEncoding() { QTextCodec::setCodecForLocale(mp_before); }
    FileNameEncoding(const FileNameEncoding&) = delete;
    FileNameEncoding& operator=(const FileNameEncoding&) = delete;

    // Whether a name's text turns back into its bytes.
    static bool Decodes(const QByteArray& i_name) { return QFile::encodeName(QFile::decodeName(i_name)) == i_name; }

private:
    QTextCodec* mp_before;
};
