#include "shell/UpdateChecker.h"

#include "ShellFixture.h"
#include "support/support/FakeWebHost.h"
#include "support/support/ServerFixture.h"

TEST(UpdateChecker, ReadsTheVersionFile)
{
    DeclareSettingsTypes();
    const QString l_link = "http://127.0.0.1/get/Linux/tarnwick.tgz";
    // version 0: no offer
    const struct { const char* name; QByteArray file; qint64 skipped, version; QString link; QStringList notes; } l_cases[] = {
        {"blanks around the number", " \t20120916 \r\nhttp://127.0.0.1/get\ntarnwick\nFaster\n", 0, 20120916, l_link, {"Faster"}},
        {"the running build", "20120915\nhttp://127.0.0.1/get\ntarnwick\n", 0, 0, {}, {}},
        {"the skipped build", "20130101\nhttp://127.0.0.1/get\ntarnwick\n", 20130101, 0, {}, {}},
        {"above the skipped build", "20130102\nhttp://127.0.0.1/get\ntarnwick\n", 20130101, 20130102, l_link, {}},
        {"three lines, no break", "20130102\nhttp://127.0.0.1/get\ntarnwick", 0, 20130102, l_link, {}},
        {"unended last note", "20130102\nhttp://127.0.0.1/get\ntarnwick\n One \nCaf\xe9\nThr", 0, 20130102, l_link, {"One", "Caf\u00e9"}},
        {"empty line 2", "20130102\n \ntarnwick\nNote\n", 0, 0, {}, {}},
        {"empty line 3", "20130102\nhttp://127.0.0.1/get\n\nNote\n", 0, 0, {}, {}},
        {"no host", "20130102\nhttp://\ntarnwick\n", 0, 0, {}, {}},
    };
    for (const auto& l_case : l_cases)
    {
        SetSetting("skip_version", QString::number(l_case.skipped));
        UpdateChecker l_checker;
        QSignalSpy l_offers(&l_checker, &UpdateChecker::NewVersion);
        l_checker.ReadVersionFile(l_case.file);
        ASSERT_EQ(l_offers.count(), l_case.version ? 1 : 0) << l_case.name;
        EXPECT_EQ(l_offers.value(0), l_case.version ? QVariantList({l_case.version, l_case.link, l_case.notes})
                                                    : QVariantList()) << l_case.name;
    }
}

class UpdateCheckerOverLoopback : public ServerFixture
{
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        SetSetting("web_host", "127.0.0.1");
        SetSetting("web_port", QString::number(m_web.Port()));
        m_checker.Init();
    }

    FakeWebHost m_web;
    UpdateChecker m_checker;
    QSignalSpy m_offers{&m_checker, &UpdateChecker::NewVersion};
};

TEST_F(UpdateCheckerOverLoopback, OneRequestOnTheFirstLoginOfTheRun)
{
    m_web.SetReply(200, "20130105\nhttp://127.0.0.1/get\nt\nFaster\nSmaller\n");
    ASSERT_TRUE(LogIn());
    ASSERT_TRUE(m_offers.wait(5000));
    EXPECT_EQ(m_offers[0], QVariantList({qint64(20130105), "http://127.0.0.1/get/Linux/t.tgz", QStringList({"Faster", "Smaller"})}));
    EXPECT_EQ(m_web.Requests(), QList<QByteArray>{"GET /qtversion.txt HTTP/1.1"});
    mp_server->Disconnect();
    ASSERT_TRUE(m_fake.WaitForClientGone());
    ASSERT_TRUE(LogIn());
    // A request the second login made would have reached the host before this later one.
    QNetworkAccessManager l_probe;
    l_probe.get(QNetworkRequest(QUrl(QString("http://127.0.0.1:%1/probe").arg(m_web.Port()))));
    ASSERT_TRUE(m_web.WaitForRequests(2));
    EXPECT_EQ(m_web.Requests().at(1), "GET /probe HTTP/1.1");
    EXPECT_EQ(m_offers.count(), 1);
}

TEST_F(UpdateCheckerOverLoopback, AnErrorStatusARedirectOrARefusalOffersNothing)
{
    for (int l_status : {404, 500, 302, 0})
    {
        m_web.SetReply(l_status, "20130105\nhttp://127.0.0.1/get\nt\n");
        if (l_status == 0)
            m_web.StopListening();
        UpdateChecker l_checker;
        QSignalSpy l_offers(&l_checker, &UpdateChecker::NewVersion);
        // The checker hears of the end of its request before this spy does.
        QSignalSpy l_ended(l_checker.findChild<QNetworkAccessManager*>(), &QNetworkAccessManager::finished);
        l_checker.CheckForNewVersion();
        ASSERT_TRUE(l_ended.wait(5000)) << l_status;
        EXPECT_EQ(l_offers.count(), 0) << l_status;
    }
}

TEST_F(UpdateCheckerOverLoopback, ReadsNoMoreThanSixtyFourKibibytes)
{
    const QByteArray l_head = "20130105\nhttp://127.0.0.1/get\nt\n";
    m_web.SetReply(200, l_head + (QByteArray(999, 'x') + '\n').repeated(200));
    m_checker.CheckForNewVersion();
    ASSERT_TRUE(m_offers.wait(5000));
    EXPECT_EQ(m_offers[0][2].toStringList().size(), (UpdateChecker::MaxReplySize - l_head.size()) / 1000);
}
