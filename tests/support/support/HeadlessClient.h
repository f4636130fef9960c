#pragma once

#include <QProcess>
#include <QStringList>
#include <QTest>

// One headless client process (tests/support/headless) with its own home, logged in to a fake
// server on this machine; what it printed is kept line by line. A test target that uses it
// depends on headless_peer and defines HEADLESS_PEER as its path.
class HeadlessClient
{
public:
    HeadlessClient(const QString& i_home, const QStringList& i_arguments, quint16 i_serverPort)
    {
        QProcessEnvironment l_environment = QProcessEnvironment::systemEnvironment();
        l_environment.insert("HOME", i_home);
        l_environment.insert("TARNWICK_SERVER_PORT", QString::number(i_serverPort));
        // File names are read as UTF-8 whatever the test's own locale: what a name's bytes
        // decode to decides whether it is shared.
        l_environment.insert("LC_ALL", "C.UTF-8");
        m_process.setProcessEnvironment(l_environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(HEADLESS_PEER, i_arguments);
    }
    ~HeadlessClient() { Kill(); }
    HeadlessClient(const HeadlessClient&) = delete;
    HeadlessClient& operator=(const HeadlessClient&) = delete;

    bool Says(const QString& i_line, int i_ms = 20000)
    {
        return QTest::qWaitFor([&] {
            while (m_process.canReadLine())
                m_lines << QString::fromUtf8(m_process.readLine()).trimmed();
            return m_lines.contains(i_line);
        }, i_ms);
    }
    void Kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QProcess m_process;
    QStringList m_lines;
};
