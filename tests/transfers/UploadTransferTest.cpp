#include <QElapsedTimer>


#include "UploadFixture.h"

using namespace transfer_status;

class UploadTransfer : public UploadFixture
{
protected:
    // One upload thread on its own, the file on disk and the downloader's script.
    struct Run
    {
        QString error; // empty after a completion
        QByteArray received;
        qint64 lastProgress = -1;
        int reports = 0;
    };
    Run RunThread(qint64 i_size, std::vector<QByteArray> i_offset, qint64 i_closeAfter = -1,
                  bool i_truncate = false)
    {
        QFile l_file(m_dir.filePath("file"));
        EXPECT_TRUE(l_file.open(QIODevice::WriteOnly) && l_file.write(Pattern(i_size)) == i_size);
        l_file.close();
        EXPECT_TRUE(l_file.open(QIODevice::ReadOnly));
        auto [lp_uploader, lp_downloaderEnd] = Connection();
        // Once the thread has taken the size, the file loses all but 100 bytes.
        if (i_truncate)
            QObject::connect(lp_downloaderEnd, &QTcpSocket::readyRead, [&] { QFile::resize(l_file.fileName(), 100); });
        Downloader l_downloader(lp_downloaderEnd, std::move(i_offset), i_closeAfter);
        UploadThread l_thread(lp_uploader, &l_file, 0x01020304, nullptr);
        l_thread.SetWaitLimit(500);
        lp_uploader->moveToThread(&l_thread);
        Run l_run;
        bool l_ended = false;
        QObject::connect(&l_thread, &UploadThread::UploadProgress, [&](qint64 i_offset, int) {
            l_run.lastProgress = i_offset;
            ++l_run.reports;
        });
        QObject::connect(&l_thread, &UploadThread::UploadComplete, [&] { l_ended = true; });
        QObject::connect(&l_thread, &UploadThread::UploadError, [&](QString i_error) {
            l_run.error = i_error;
            l_ended = true;
        });
        l_thread.start();
        EXPECT_TRUE(QTest::qWaitFor([&] { return l_ended; }, 10000));
        l_thread.wait();
        EXPECT_EQ(lp_uploader->thread(), QThread::currentThread()) << "handed back before the last report";
        EXPECT_EQ(l_downloader.m_number, QByteArray::fromHex("04030201"));
        l_run.received = l_downloader.m_data;
        delete lp_uploader;
        return l_run;
    }
};

TEST_F(UploadTransfer, TheHandshakeSendsFromTheOffsetOrEndsWithItsErrorText)
{
    const QByteArray l_offset = Downloader::Offset(3000)[0];
    const struct
    {
        const char* name;
        qint64 size;
        std::vector<QByteArray> offset;
        qint64 closeAfter;
        qint64 from; // the first byte received, or -1
        QString error;
    } l_cases[] = {
        {"one block", 8192, Downloader::Offset(0), -1, 0, ""},
        {"two blocks", 8193, Downloader::Offset(0), -1, 0, ""},
        {"from the middle", 8193, Downloader::Offset(3000), -1, 3000, ""},
        {"offset in two pieces", 8193, {l_offset.left(3), l_offset.mid(3)}, -1, 3000, ""},
        {"offset at the end", 8193, Downloader::Offset(8193), -1, -1, "Won't seek to offset 8193 in file of size 8193"},
        {"negative offset", 8193, Downloader::Offset(-1), -1, -1, "Won't seek to offset -1 in file of size 8193"},
        {"empty file", 0, Downloader::Offset(0), -1, -1, "Won't seek to offset 0 in file of size 0"},
        {"seven bytes, then silence", 8193, {l_offset.left(7)}, -1, -1,
         "Waiting for initialization data to read failed. Error string: Network operation timed out"},
        {"closed before the offset", 8193, {}, 0, -1,
         "Waiting for initialization data to read failed. Error string: The remote host closed the connection"},
    };
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.name);
        const Run l_run = RunThread(l_case.size, l_case.offset, l_case.closeAfter);
        EXPECT_EQ(l_run.error.toStdString(), l_case.error.toStdString());
        EXPECT_EQ(l_run.received, l_case.from < 0 ? QByteArray() : Pattern(l_case.size).mid(int(l_case.from)));
        EXPECT_EQ(l_run.lastProgress, l_case.from < 0 ? -1 : l_case.size);
    }
}

TEST_F(UploadTransfer, ADownloaderLeavingHalfWayOrAShrunkenFileEndsTheUploadWithTheText)
{
    const Run l_left = RunThread(8 << 20, Downloader::Offset(0), 100000);
    EXPECT_TRUE(l_left.error.startsWith("Writing to socket failed. Error string: ") ||
                l_left.error.startsWith("Waiting for bytes to be written to socket failed. Error string: "))
        << l_left.error.toStdString();
    EXPECT_LT(l_left.reports, 20) << "reports are spaced, not one per block";
    const Run l_shrunk = RunThread(8193, Downloader::Offset(0), -1, true);
    EXPECT_TRUE(l_shrunk.error.startsWith("Reading from file failed. Error string: ")) << l_shrunk.error.toStdString();
}
