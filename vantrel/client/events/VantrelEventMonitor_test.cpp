// The event monitor's life with the library and its port setting.
#include "vantrel/client/events/VantrelEventMonitor.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "osal/CoEnvSettings.h"
#include "threads/CoThreadMgr.h"
#include "vantrel/client/connection/VantrelClientTestSupport.h"

namespace {

// A loopback port nobody holds (bound by the system's choice, then given back).
int freePort() {
    const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin6_port);
}

class PortSetting {
public:
    explicit PortSetting(const std::string& value)
        : setting_(Vantrel::CoEnvStringSetting::find(VantrelEventMonitor::PORT_VARIABLE)),
          saved_(setting_->value()) {
        setting_->set(value);
    }
    ~PortSetting() { setting_->set(saved_); }

private:
    Vantrel::CoEnvStringSetting* setting_;
    std::string saved_;
};

}  // namespace

TEST(VantrelEventMonitor, RunsFromInitToUninitOnItsOwnThread) {
    EXPECT_EQ(nullptr, VantrelEventMonitor::instance());
    {
        vantrel_testing::ClientScope client;
        VantrelEventMonitor* monitor = VantrelEventMonitor::instance();
        ASSERT_NE(nullptr, monitor);
        EXPECT_GT(monitor->port(), 0);
        EXPECT_NE(nullptr, Vantrel::CoThreadMgr::getInstance().findThread("Vantrel Event Monitor"));
        EXPECT_FALSE(VantrelEventMonitor::onMonitorThread());
        // Every address of the host, so a server reaches it wherever its clients come from.
        std::string bound;
        monitor->descriptor()->getSocketIP(bound);
        EXPECT_TRUE(bound == "::" || bound == "0.0.0.0") << bound;
    }
    EXPECT_EQ(nullptr, VantrelEventMonitor::instance());
    EXPECT_EQ(nullptr, Vantrel::CoThreadMgr::getInstance().findThread("Vantrel Event Monitor"));
}

TEST(VantrelEventMonitor, PortComesFromTheSettingWhenItIsAPort) {
    const int port = freePort();
    {
        PortSetting fixed(std::to_string(port));
        vantrel_testing::ClientScope client;
        ASSERT_NE(nullptr, VantrelEventMonitor::instance());
        EXPECT_EQ(port, VantrelEventMonitor::instance()->port());
    }
    for (const char* unusable : {"0", "65536", "12ab", "-5"}) {
        PortSetting wrong(unusable);
        vantrel_testing::ClientScope client;
        ASSERT_NE(nullptr, VantrelEventMonitor::instance()) << unusable;
        EXPECT_GT(VantrelEventMonitor::instance()->port(), 0) << unusable;
    }
}
