// Test helpers: hand-made Ethernet frames sent from inside one namespace of the test LAN, over
// and over on a thread of its own until stopped (a misbehaving host, or a flood); and a host
// that answers late. Need root.
#pragma once

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ArpPacket.h"
#include "NetnsLan.h"
#include "UTypes.h"

using TFrame = std::vector<std::uint8_t>;

// An ARP-for-IPv4 frame; addresses wire order. The fields stand where a well-formed frame has
// them, so tests can spoil single bytes afterwards.
inline TFrame ArpFrame(const TMacAddr& dst, const TMacAddr& src, std::uint16_t op,
                       const TMacAddr& senderMac, std::uint32_t senderIP, const TMacAddr& targetMac,
                       std::uint32_t targetIP) {
    TFrame f;
    auto mac = [&f](const TMacAddr& m) { f.insert(f.end(), m.begin(), m.end()); };
    auto u16 = [&f](unsigned v) {
        f.push_back(static_cast<std::uint8_t>(v >> 8));
        f.push_back(static_cast<std::uint8_t>(v));
    };
    auto ip = [&f](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) f.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    mac(dst);
    mac(src);
    u16(0x0806);  // EtherType ARP
    u16(1);       // hardware: Ethernet
    u16(0x0800);  // protocol: IPv4
    f.push_back(6);
    f.push_back(4);
    u16(op);
    mac(senderMac);
    ip(senderIP);
    mac(targetMac);
    ip(targetIP);
    return f;
}

class TFrameSender {
  public:
    // Sends every frame of the list in turn, in rounds, from iface in namespace ns; after each
    // round it pauses for pause (none: as fast as the socket takes them).
    TFrameSender(std::string ns, std::string iface, std::vector<TFrame> frames,
                 std::chrono::microseconds pause = std::chrono::microseconds(0))
        : frames_(std::move(frames)), pause_(pause) {
        std::promise<std::string> opened;
        auto result = opened.get_future();
        thread_ = std::thread([this, ns, iface, &opened] { Run(ns, iface, opened); });
        error_ = result.get();
    }
    ~TFrameSender() { Stop(); }
    TFrameSender(const TFrameSender&) = delete;
    TFrameSender& operator=(const TFrameSender&) = delete;

    const std::string& Error() const { return error_; }
    std::uint64_t Sent() const { return sent_; }
    // Whether count frames have gone out within timeout.
    bool WaitSent(std::uint64_t count, std::chrono::milliseconds timeout) const {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (sent_ < count) {
            if (std::chrono::steady_clock::now() >= until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

  private:
    void Run(const std::string& ns, const std::string& iface, std::promise<std::string>& opened) {
        TNetnsEnter enter(ns);
        if (!enter.Ok()) return opened.set_value("cannot enter " + ns);
        int sock = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
        unsigned index = if_nametoindex(iface.c_str());
        if (sock < 0 || index == 0) {
            if (sock >= 0) close(sock);
            return opened.set_value("cannot open a packet socket on " + iface + " in " + ns);
        }
        opened.set_value("");
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_ifindex = static_cast<int>(index);
        to.sll_halen = 6;
        while (!stop_) {
            for (const TFrame& f : frames_) {
                // A full queue drops the frame, as a busy link would.
                if (sendto(sock, f.data(), f.size(), 0, reinterpret_cast<sockaddr*>(&to),
                           sizeof to) >= 0) {
                    ++sent_;
                }
            }
            if (pause_.count() > 0) std::this_thread::sleep_for(pause_);
        }
        close(sock);
    }

    std::vector<TFrame> frames_;
    std::chrono::microseconds pause_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> sent_{0};
    std::string error_;
    std::thread thread_;
};

// A slow host: answers every who-has for ip (wire order) that comes in on iface, as mac, delay
// after the request arrived. Its kernel must be kept from answering first (arp_ignore=8). With
// an empty ns it runs in the caller's namespace.
class TLateResponder {
  public:
    TLateResponder(std::string ns, std::string iface, std::uint32_t ip, TMacAddr mac,
                   std::chrono::milliseconds delay)
        : ip_(ip), mac_(mac), delay_(delay) {
        std::promise<std::string> opened;
        auto result = opened.get_future();
        thread_ = std::thread([this, ns, iface, &opened] { Run(ns, iface, opened); });
        error_ = result.get();
    }
    ~TLateResponder() { Stop(); }
    TLateResponder(const TLateResponder&) = delete;
    TLateResponder& operator=(const TLateResponder&) = delete;

    const std::string& Error() const { return error_; }
    std::uint64_t Answered() const { return answered_; }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

  private:
    using TTime = std::chrono::steady_clock::time_point;

    void Run(const std::string& ns, const std::string& iface, std::promise<std::string>& opened) {
        std::unique_ptr<TNetnsEnter> enter;
        if (!ns.empty()) enter = std::make_unique<TNetnsEnter>(ns);
        if (enter && !enter->Ok()) return opened.set_value("cannot enter " + ns);
        int sock = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(ETH_P_ARP));
        sockaddr_ll at{};
        at.sll_family = AF_PACKET;
        at.sll_protocol = htons(ETH_P_ARP);
        at.sll_ifindex = static_cast<int>(if_nametoindex(iface.c_str()));
        if (sock < 0 || at.sll_ifindex == 0 ||
            bind(sock, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
            if (sock >= 0) close(sock);
            return opened.set_value("cannot listen for ARP on " + iface + " in " + ns);
        }
        opened.set_value("");
        std::deque<std::pair<TTime, TFrame>> due;
        while (!stop_) {
            auto wait = std::chrono::milliseconds(20);
            if (!due.empty()) {
                wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(
                                          due.front().first - std::chrono::steady_clock::now()));
            }
            pollfd p{sock, POLLIN, 0};
            poll(&p, 1, static_cast<int>(std::max<std::int64_t>(wait.count(), 0)));
            std::uint8_t buf[1600];
            ssize_t n;
            while ((n = recv(sock, buf, sizeof buf, 0)) > 0) {
                auto m = ParseArpFrame(buf, static_cast<std::size_t>(n));
                if (!m || m->Op != ArpRequest || m->TargetIP != ip_) continue;
                due.emplace_back(
                    std::chrono::steady_clock::now() + delay_,
                    ArpFrame(m->SenderMac, mac_, ArpReply, mac_, ip_, m->SenderMac, m->SenderIP));
            }
            while (!due.empty() && due.front().first <= std::chrono::steady_clock::now()) {
                const TFrame& f = due.front().second;
                sockaddr_ll to = at;
                to.sll_halen = 6;
                std::copy(f.begin(), f.begin() + 6, to.sll_addr);
                if (sendto(sock, f.data(), f.size(), 0, reinterpret_cast<sockaddr*>(&to),
                           sizeof to) >= 0)
                    ++answered_;
                due.pop_front();
            }
        }
        close(sock);
    }

    std::uint32_t ip_;
    TMacAddr mac_;
    std::chrono::milliseconds delay_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> answered_{0};
    std::string error_;
    std::thread thread_;
};
