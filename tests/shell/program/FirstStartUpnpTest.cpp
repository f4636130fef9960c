#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>

#include "ProgramFixture.h"
#include "shell/ChangeUsernamePasswordDialog.h"
#include "support/support/ModalAnswers.h"

// A newcomer's first start, with nothing stored: the name and password are asked before anything
// connects. Whether or not they are given, filling the options looks for a router once; cancelling
// the question, unticking "use UPnP" on the Login options and only then giving a name and
// connecting forwards no port, and later starts do not even look. Leaving the box ticked forwards
// the listening ports at the first login, which shows the gateway seen here is the one asked.
// The rows: the first start with the box unticked or left ticked before the first connection, and
// a later start from the store that the unticked one saved.
enum class Upnp { UntickedFirst, LeftTicked, StoredOff };

std::string RowName(const ::testing::TestParamInfo<Upnp>& i_info)
{
    const char* const l_names[] = {"UntickedFirst", "LeftTicked", "StoredOff"};
    return l_names[static_cast<int>(i_info.param)];
}

class FirstStartUpnp : public ProgramFixture, public ::testing::WithParamInterface<Upnp>
{
protected:
    void SetUp() override
    {
        ProgramFixture::SetUp();
        // Nothing stored yet: every setting is the client's default, but that the server and the
        // web host are this test's and UPnP reaches only a gateway in memory.
        MainWindow::SetUpnpBackendFactory([this] {
            auto lp_backend = std::make_unique<FakeUpnpBackend>();
            lp_backend->m_addresses = QStringList{"127.0.0.1", "10.0.0.5"};
            mp_gateway = lp_backend.get();
            return lp_backend;
        });
        MainWindow::SetBeforeLoad([this] {
            SetSetting("server_host", "127.0.0.1");
            SetSetting("server_port", QString::number(m_server.Port()));
            SetSetting("web_host", "127.0.0.1");
            SetSetting("web_port", QString::number(m_closedWeb.Port()));
            SetSetting("listening_port", FakePeer::FreePort());
            SetSetting("obfuscated_listening_port", FakePeer::FreePort());
        });
        // The real question, answered with Cancel as soon as it is shown.
        MainWindow::SetFirstStartPrompt([this](QWidget*) {
            ++m_prompts;
            const ModalAnswers l_cancel([](QWidget* ip_dialog) {
                ip_dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
            });
            EXPECT_FALSE(ChangeUsernamePasswordDialog::AskAtFirstStart());
        });
        m_server.AcceptLogins();
    }

    // The name and password given through "Change Username/Password", as a user types them.
    void GiveNameAndPassword()
    {
        Trigger("set_user_pass");
        auto* lp_dialog = mp_window->findChild<ChangeUsernamePasswordDialog*>();
        ASSERT_NE(lp_dialog, nullptr);
        lp_dialog->findChild<QLineEdit*>("usernameEdit")->setText("newbie");
        lp_dialog->findChild<QLineEdit*>("passwordEdit")->setText("first");
        lp_dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    }

    // The forwarder's lines come back from its worker by queued signal; once they are here, so are
    // the calls that made them.
    QStringList ForwarderLines(int i_atLeast, int i_ms)
    {
        static_cast<void>(QTest::qWaitFor([&] { return m_log.Of("Port Forwarding").size() >= i_atLeast; }, i_ms));
        return m_log.Of("Port Forwarding");
    }

    FakeUpnpBackend* mp_gateway = nullptr;
};
INSTANTIATE_TEST_SUITE_P(FirstOrLaterStart, FirstStartUpnp,
                         ::testing::Values(Upnp::UntickedFirst, Upnp::LeftTicked, Upnp::StoredOff), RowName);

TEST_P(FirstStartUpnp, FindsTheRouterAtTheFirstStartButForwardsNoPortOnceTheBoxIsUnticked)
{
    const Upnp l_case = GetParam();
    const bool l_off = l_case != Upnp::LeftTicked;
    if (l_case == Upnp::StoredOff)
    {
        // What the first row saves, less what start-up writes again.
        ASSERT_TRUE(StoreFile().Setting("username", "newbie").Setting("password", "first")
                        .Setting("use_upnp", "no").WriteTo(StorePath()));
        Start();
        EXPECT_EQ(m_prompts, 0);
        EXPECT_FALSE(mp_ui->uPnPCheckBox->isChecked());
    }
    else
    {
        ASSERT_FALSE(QFile::exists(StorePath()));
        Start();
        mp_window->show();
        EXPECT_EQ(m_prompts, 1);
        QTest::qWait(300);
        EXPECT_EQ(m_server.ConnectionCount(), 0);
        EXPECT_EQ(m_log.Count("server: Attempting connection"), 0);
        EXPECT_EQ(ForwarderLines(1, 5000).value(0), "Initializing UPnP");
        EXPECT_EQ(mp_gateway->m_calls, (QStringList{"clear", "discover 2000"}));
        EXPECT_TRUE(mp_ui->uPnPCheckBox->isChecked());
        if (l_case == Upnp::UntickedFirst)
            mp_ui->uPnPCheckBox->click();
        GiveNameAndPassword();
        EXPECT_EQ(GetSetting("username"), "newbie");
        Trigger("connect_disconnect");
    }
    EXPECT_EQ(GetSetting("use_upnp"), l_off ? "no" : "yes");
    ASSERT_TRUE(QTest::qWaitFor([] { return gp_server->IsConnected(); }, 5000));
    // Both listening ports when forwarding; nothing at all once it was off from the start.
    const QStringList l_lines = ForwarderLines(l_off ? 100 : 8, l_off ? 1000 : 5000);
    EXPECT_EQ(l_lines.filter(QRegExp("^Port \\d+ successfully mapped")).size(), l_off ? 0 : 2)
        << l_lines.join("\n").toStdString();
    EXPECT_EQ(mp_gateway->m_calls.filter("add ").size(), l_off ? 0 : 2);
    if (l_case == Upnp::StoredOff)
    {
        EXPECT_EQ(l_lines, QStringList());
    }

    mp_window.reset();
    EXPECT_TRUE(StoreFile::Links(StoreBytes()).contains(QString("global=use_upnp~global_value=") +
                                                        (l_off ? "no" : "yes")));
}
