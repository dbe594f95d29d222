#include "network/CoAddressChangeWatch.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tcp/CoOsError.h"

namespace Vantrel {
namespace {

const unsigned SUBSCRIBED_GROUPS = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR |
                                   RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;

void closeIfOpen(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Route messages come for every route the kernel adds or drops; only the main table's default
// routes decide the gateway attribute.
bool isDefaultRouteChange(const char* payload, std::size_t length) {
    if (length < sizeof(rtmsg)) return false;
    rtmsg route;
    std::memcpy(&route, payload, sizeof route);
    return route.rtm_dst_len == 0 && route.rtm_table == RT_TABLE_MAIN;
}

bool isInterfaceChange(const nlmsghdr& header, const char* payload, std::size_t length) {
    switch (header.nlmsg_type) {
    case RTM_NEWADDR:
    case RTM_DELADDR:
    case RTM_NEWLINK:
    case RTM_DELLINK:
        return true;
    case RTM_NEWROUTE:
    case RTM_DELROUTE:
        return isDefaultRouteChange(payload, length);
    default:
        return false;
    }
}

}  // namespace

bool CoAddressChangeWatch::containsInterfaceChange(const char* datagram, std::size_t length) {
    std::size_t offset = 0;
    while (length - offset >= NLMSG_HDRLEN) {
        nlmsghdr header;
        std::memcpy(&header, datagram + offset, sizeof header);
        if (header.nlmsg_len < NLMSG_HDRLEN || header.nlmsg_len > length - offset) return false;
        if (isInterfaceChange(header, datagram + offset + NLMSG_HDRLEN,
                              header.nlmsg_len - NLMSG_HDRLEN))
            return true;
        const std::size_t step = NLMSG_ALIGN(header.nlmsg_len);
        if (step >= length - offset) return false;
        offset += step;
    }
    return false;
}

struct CoAddressChangeWatch::Handles {
    int netlink = -1;
    int wakeEvent = -1;
};

CoAddressChangeWatch::CoAddressChangeWatch() : handles_(new Handles) {}

CoAddressChangeWatch::~CoAddressChangeWatch() {
    closeIfOpen(handles_->netlink);
    closeIfOpen(handles_->wakeEvent);
}

bool CoAddressChangeWatch::open(std::string& error) {
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = SUBSCRIBED_GROUPS;
    handles_->wakeEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (handles_->wakeEvent >= 0)
        handles_->netlink = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (handles_->netlink >= 0 &&
        bind(handles_->netlink, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0)
        return true;
    error = coCurrentOsErrorText();
    closeIfOpen(handles_->netlink);
    closeIfOpen(handles_->wakeEvent);
    return false;
}

CoAddressChangeWatch::Result CoAddressChangeWatch::wait(std::string& error) {
    for (;;) {
        pollfd fds[2] = {{handles_->wakeEvent, POLLIN, 0}, {handles_->netlink, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            error = coCurrentOsErrorText();
            return FAILED;
        }
        if (fds[0].revents != 0) return WOKEN;
        if (fds[1].revents == 0) continue;
        bool failed = false;
        const bool changed = drainChanges(error, failed);
        if (failed) return FAILED;
        if (changed) return CHANGED;
    }
}

bool CoAddressChangeWatch::drainChanges(std::string& error, bool& failed) {
    char buffer[16384];
    bool changed = false;
    for (;;) {
        sockaddr_nl sender{};
        socklen_t senderLength = sizeof sender;
        const ssize_t length = recvfrom(handles_->netlink, buffer, sizeof buffer, MSG_DONTWAIT,
                                        reinterpret_cast<sockaddr*>(&sender), &senderLength);
        if (length < 0 && errno == EINTR) continue;
        if (length < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return changed;
        // The kernel dropped messages for want of room: some change went unseen.
        if (length < 0 && errno == ENOBUFS) {
            changed = true;
            continue;
        }
        if (length < 0) {
            error = coCurrentOsErrorText();
            failed = true;
            return changed;
        }
        // Only the kernel (port 0) speaks for the interfaces.
        const std::size_t received = static_cast<std::size_t>(length);
        if (sender.nl_pid == 0 && containsInterfaceChange(buffer, received)) changed = true;
    }
}

void CoAddressChangeWatch::wake() {
    if (handles_->wakeEvent < 0) return;
    const uint64_t one = 1;
    // A full counter already wakes the waiter, so a failed write loses nothing.
    [[maybe_unused]] const ssize_t written = write(handles_->wakeEvent, &one, sizeof one);
}

}  // namespace Vantrel
