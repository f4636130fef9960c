#include "UploadFixture.h"

using UploadThreadRun = UploadFixture;

// One upload thread on its own against a scripted downloader, its waits cut to 500 ms.
TEST_F(UploadThreadRun, TheUploadThreadSendsFromTheOffsetOrEndsWithItsErrorText)
{
    const QByteArray l_offset = Downloader::Offset(3000)[0];
    const QString l_wait = "Waiting for initialization data to read failed. Error string: ";
    const struct
    {
        const char* name;
        qint64 size;
        std::vector<QByteArray> offset;
        qint64 closeAfter;
        qint64 from; // the first byte received, or -1
        QString error; // a part: writing can fail in the write or in the wait
    } l_cases[] = {
        {"one block", 8192, Downloader::Offset(0), 8192, 0, ""},
        {"two blocks", 8193, Downloader::Offset(0), 8193, 0, ""},
        {"from the middle", 8193, Downloader::Offset(3000), 5193, 3000, ""},
        {"offset in two pieces", 8193, {l_offset.left(3), l_offset.mid(3)}, -1, 3000, ""},
        {"offset at the end", 8193, Downloader::Offset(8193), -1, -1, "Won't seek to offset 8193 in file of size 8193"},
        {"negative offset", 8193, Downloader::Offset(-1), -1, -1, "Won't seek to offset -1 in file of size 8193"},
        {"empty file", 0, Downloader::Offset(0), -1, -1, "Won't seek to offset 0 in file of size 0"},
        {"seven bytes, then silence", 8193, {l_offset.left(7)}, -1, -1, l_wait + "Network operation timed out"},
        {"closed before the offset", 8193, {}, 0, -1, l_wait + "The remote host closed the connection"},
        {"closed half-way", 8 << 20, Downloader::Offset(0), 100000, -2, "to socket failed. Error string: The remote host closed"},
        {"file shrunk once open", 8193, Downloader::Offset(0), -1, -2, "Reading from file failed. Error string: "},
    };
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.name);
        QFile l_file(m_dir.filePath("file"));
        ASSERT_TRUE(l_file.open(QIODevice::WriteOnly) && l_file.write(Pattern(l_case.size)) == l_case.size);
        l_file.close();
        ASSERT_TRUE(l_file.open(QIODevice::ReadOnly));
        auto [lp_uploader, lp_downloaderEnd] = Connection();
        // The thread has taken the size before it sends the number.
        if (l_case.from == -2 && l_case.closeAfter < 0)
            QObject::connect(lp_downloaderEnd, &QTcpSocket::readyRead, [&] { QFile::resize(l_file.fileName(), 100); });
        Downloader l_downloader(lp_downloaderEnd, l_case.offset, l_case.closeAfter);
        UploadThread l_thread(lp_uploader, &l_file, 0x01020304, nullptr);
        l_thread.SetWaitLimit(500);
        lp_uploader->moveToThread(&l_thread);
        QString l_error = "(none)";
        qint64 l_lastProgress = -1, l_reports = 0;
        QObject::connect(&l_thread, &UploadThread::UploadProgress, [&](qint64 i_at) { l_lastProgress = i_at, ++l_reports; });
        QObject::connect(&l_thread, &UploadThread::UploadComplete, [&] { l_error = ""; });
        QObject::connect(&l_thread, &UploadThread::UploadError, [&](QString i_error) { l_error = i_error; });
        l_thread.start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return l_error != "(none)"; }, 10000));
        l_thread.wait();
        EXPECT_EQ(lp_uploader->thread(), QThread::currentThread()) << "handed back before the last report";
        delete lp_uploader;
        EXPECT_EQ(l_downloader.m_number, QByteArray::fromHex("04030201"));
        EXPECT_TRUE(l_case.error.isEmpty() ? l_error.isEmpty() : l_error.contains(l_case.error)) << l_error.toStdString();
        if (l_case.from == -2)
            continue;
        EXPECT_EQ(l_downloader.m_data, l_case.from < 0 ? QByteArray() : Pattern(l_case.size).mid(int(l_case.from)));
        EXPECT_EQ(l_lastProgress, l_case.from < 0 ? -1 : l_case.size);
        EXPECT_EQ(l_reports, l_case.from < 0 ? 0 : 1) << "reports are spaced, and the last always goes";
    }
}
