#include <QRegExp>
#include <QTcpServer>

#include "ServerTesting.h"
#include "server/PortForwarder.h"
#include "support/support/LogLines.h"

namespace
{
const char* const Igd = "urn:schemas-upnp-org:device:InternetGatewayDevice:1";
const char* const OwnAddressLine = "Own address is reported as 127.0.0.1, checking all addresses.";

class PortForwarderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Start();
        ASSERT_TRUE(m_listener.listen(QHostAddress::LocalHost, 0));
        m_socket.connectToHost(QHostAddress::LocalHost, m_listener.serverPort());
        ASSERT_TRUE(m_socket.waitForConnected(5000));
    }

    void TearDown() override
    {
        mp_forwarder.reset();
        EXPECT_EQ(portForwarder, nullptr);
        EXPECT_FALSE(m_log.m_offGuiThread);
    }

    // A fresh forwarder over a backend whose discovery finds these devices, a gateway on 192.168.1.
    void Start(const QList<UpnpDevice>& i_devices = {}, bool i_descriptionAvailable = false)
    {
        mp_forwarder.reset();
        auto lp_backend = std::make_unique<FakeUpnpBackend>();
        mp_backend = lp_backend.get();
        mp_backend->m_devices = i_devices;
        mp_backend->m_descriptionAvailable = i_descriptionAvailable;
        mp_backend->m_descriptionControlUrl = "http://192.168.1.1:5000/ctl/IPConn";
        mp_forwarder = std::make_unique<PortForwarder>(std::move(lp_backend));
    }

    // The lines not taken before, once there are that many.
    QStringList TakeLines(int i_count)
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return m_log.Of("Port Forwarding").size() >= i_count; }, 5000));
        const QStringList l_lines = m_log.Of("Port Forwarding");
        m_log.m_lines.clear();
        return l_lines;
    }

    LogLines m_log;
    FakeUpnpBackend* mp_backend = nullptr;
    std::unique_ptr<PortForwarder> mp_forwarder;
    QTcpServer m_listener;
    // Its local address is 127.0.0.1, as the server link's is against a local server.
    QTcpSocket m_socket;
};

TEST_F(PortForwarderTest, FindsTheGatewayMapsForItsNetworkRetriesAConflictOnceAndWaitsWhenDestroyed)
{
    EXPECT_EQ(portForwarder, mp_forwarder.get());
    mp_backend->m_error = -101;
    mp_backend->m_addresses = QStringList{"127.0.0.1", "10.0.0.5"};
    mp_backend->m_addResults = {-2};
    mp_forwarder->Init();
    mp_forwarder->Init();
    mp_forwarder->AddPortMapping(&m_socket, 2234);
    mp_forwarder->RemovePortMapping(2234);

    EXPECT_EQ(TakeLines(7), (QStringList{"Initializing UPnP", "No device list found during discovery. miniupnp error code: -101",
                                         OwnAddressLine, "Found own address to be 10.0.0.5",
                                         "Port 2234 mapping failure, miniupnp error: -2", "Removing mapping for port 2234",
                                         "UPnP appears to not have been initialized, aborting."}));
    EXPECT_EQ(mp_backend->m_calls, (QStringList{"clear", "discover 2000", "add 2234 2234 10.0.0.5 TarnwickQT TCP"}));

    Start({{"http://a/root.xml", "upnp:rootdevice"}, {"http://b/x.xml", "x"}}, false);
    mp_forwarder->Init();
    EXPECT_EQ(TakeLines(6), (QStringList{"Initializing UPnP", "Device list found", "http://a/root.xml, upnp:rootdevice skipping",
                                         "http://b/x.xml, x skipping", "Defaulting to first device found, upnp:rootdevice",
                                         "Device XML not found."}));
    EXPECT_EQ(mp_backend->m_calls, (QStringList{"clear", "discover 2000", "load http://a/root.xml"}));

    // The first gateway device is chosen, not the devices before it nor a later gateway.
    Start({{"http://a/l3f.xml", "urn:schemas-upnp-org:service:Layer3Forwarding:1"},
           {"http://192.168.1.1:5000/rootDesc.xml", Igd}, {"http://c/igd.xml", Igd}}, true);
    mp_forwarder->Init();
    ASSERT_EQ(TakeLines(5), (QStringList{"Initializing UPnP", "Device list found",
                                         "http://a/l3f.xml, urn:schemas-upnp-org:service:Layer3Forwarding:1 skipping",
                                         "http://192.168.1.1:5000/rootDesc.xml, InternetGatewayDevice, found",
                                         "Device XML found."}));
    ASSERT_EQ(mp_backend->m_calls, (QStringList{"clear", "discover 2000", "load http://192.168.1.1:5000/rootDesc.xml"}));
    const std::pair<QStringList, QString> l_cases[] = {
        {{"127.0.0.1", "10.0.0.5", "fe80::1", "192.168.1.20", "172.16.0.9"}, "192.168.1.20"},
        // No address on the gateway's network: the last one examined.
        {{"127.0.0.1", "10.0.0.5", "172.16.0.9"}, "10.0.0.5"},
        {{"127.0.0.1", "::1"}, "127.0.0.1"},
    };
    for (const auto& [l_addresses, l_expected] : l_cases)
    {
        mp_backend->m_addresses = l_addresses;
        mp_forwarder->AddPortMapping(&m_socket, 2234);
        EXPECT_EQ(TakeLines(3), (QStringList{OwnAddressLine, "Found own address to be " + l_expected,
                                             "Port 2234 successfully mapped."}));
        EXPECT_EQ(mp_backend->m_calls.last(), "add 2234 2234 " + l_expected + " TarnwickQT TCP");
    }

    mp_backend->m_addresses = QStringList{"192.168.1.20"};
    mp_backend->m_addResults = {718, 0, 718, 501, 718, 718};
    mp_backend->m_deleteResults = {0, 714, 0};
    const QStringList l_head = {OwnAddressLine, "Found own address to be 192.168.1.20",
                                "Port already mapped, attempting to remove existing mapping before retrying."};
    const QString l_removing = "Removing mapping for port 2234";
    const QStringList l_outcomes[][2] = {
        {{l_removing, "Port mapping successfully removed."}, {"Second mapping attempt successful."}},
        {{l_removing, "Port mapping removal failed, miniupnp error: 714"}, {"Second mapping attempt failed, miniupnp error: 501"}},
        // A second conflict is a failure, not a success.
        {{l_removing, "Port mapping successfully removed."}, {"Second mapping attempt failed, miniupnp error: 718"}},
    };
    const QString l_add = "add 2234 2234 192.168.1.20 TarnwickQT TCP";
    for (const auto& l_outcome : l_outcomes)
    {
        mp_forwarder->AddPortMapping(&m_socket, 2234);
        // The removal's own lines come first.
        EXPECT_EQ(TakeLines(6), l_outcome[0] + l_head + l_outcome[1]);
        EXPECT_EQ(mp_backend->m_calls.mid(mp_backend->m_calls.size() - 3), (QStringList{l_add, "delete 2234 TCP", l_add}));
    }

    // Destroying the front waits for the call under way.
    Start();
    mp_backend->m_discoveryMs = 300;
    mp_forwarder->Init();
    mp_forwarder->AddPortMapping(&m_socket, 2234);
    ASSERT_TRUE(QTest::qWaitFor([&] { return mp_backend->m_discovering.load(); }, 5000));
    mp_forwarder.reset();
    // The discovery's lines and the queued mapping are dropped with the front: anything the
    // worker posted was posted before it was joined.
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(m_log.m_lines.isEmpty());
}

using ServerPortMappingTest = ServerFixture;

TEST_F(ServerPortMappingTest, ConnectingDiscoversOnceAndEveryHourRemapsBothPorts)
{
    LogLines l_log;
    mp_saver->EmitDataLoaded();
    EXPECT_EQ(Setting("use_upnp"), "yes") << "on by default";
    SetSetting("listening_port", "2235");
    SetSetting("obfuscated_listening_port", "2236");
    // One line ends each mapping; the backend is read only once the worker has answered.
    const auto l_mapped = [&](int i_count) {
        return QTest::qWaitFor([&] { return l_log.Count("Port Forwarding: Port 223[56] successfully") == i_count; }, 5000);
    };
    ASSERT_TRUE(LogIn());
    ASSERT_TRUE(l_mapped(2)) << l_log.m_lines.join("\n").toStdString();
    Tick(mp_timers->hourTimer);
    EXPECT_EQ(l_log.Count("server: Renewing UPnP port mapping."), 1);
    ASSERT_TRUE(l_mapped(4));
    const QString l_first = "add 2235 2235 127.0.0.1 TarnwickQT TCP", l_second = "add 2236 2236 127.0.0.1 TarnwickQT TCP";
    EXPECT_EQ(mp_upnp->m_calls.filter(QRegExp("^(discover|add)")),
              (QStringList{"discover 2000", l_first, l_second, l_first, l_second}));
}

TEST_F(ServerPortMappingTest, OffMeansTheGatewayIsNeverAsked)
{
    LogLines l_log;
    SetSetting("use_upnp", "no");
    ASSERT_TRUE(LogIn());
    Tick(mp_timers->hourTimer);
    // The worker takes its calls in order: once a later removal is answered, anything the login
    // or the tick had asked of it would have been answered first.
    portForwarder->RemovePortMapping(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_log.Count("Port Forwarding") >= 2; }, 5000));
    EXPECT_EQ(l_log.Of("Port Forwarding"),
              (QStringList{"Removing mapping for port 1", "UPnP appears to not have been initialized, aborting."}));
    EXPECT_EQ(l_log.Count("server: Renewing"), 0);
}
} // namespace
