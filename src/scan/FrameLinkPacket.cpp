// Ethernet frames on an AF_PACKET socket: needs root or cap_net_raw.
#include "FrameLinkPacket.h"

#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <netpacket/packet.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// The kernel stamps each frame on arrival (wall clock).
TClock::time_point ArrivalTime(const msghdr& msg) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr;
         c = CMSG_NXTHDR(const_cast<msghdr*>(&msg), c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
        timespec stamp;
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        const auto sinceEpoch =
            std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec);
        return SteadyArrival(std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(sinceEpoch)));
    }
    return TClock::now();
}

class TFrameLinkPacket : public TFrameLink {
  public:
    explicit TFrameLinkPacket(TFd sock) : sock_(std::move(sock)) {
        // Arrival stamps tell the replies that came before a request from those after it.
        int one = 1;
        setsockopt(sock_.Get(), SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
    }

    std::vector<TLocalLink> ReadLinks() override { return ReadLocalLinks(); }
    TNeighParams ReadParams(const std::string& ifName) override { return ReadNeighParams(ifName); }

    std::string Send(const TLocalLink& link, const std::uint8_t* frame, std::size_t size) override {
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_protocol = htons(ETH_P_ARP);
        to.sll_ifindex = link.Index;
        to.sll_halen = 6;
        std::memset(to.sll_addr, 0xFF, 6);
        while (sendto(sock_.Get(), frame, size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) <
               0) {
            if (errno == EINTR) continue;
            if (errno == ENOBUFS || errno == EAGAIN) return {};
            return std::string("sendto: ") + std::strerror(errno);
        }
        return {};
    }

    // Frames are taken a batch per call: under a flood the calls, not the frames, cost the
    // most, and a socket read too slowly drops the real replies with the forged ones.
    bool Receive(const std::function<void(const TFrameIn&)>& onFrame, int max) override {
        for (int read = 0; read < max;) {
            const int batch = std::min(max - read, static_cast<int>(Batch));
            std::array<mmsghdr, Batch> msgs{};
            std::array<sockaddr_ll, Batch> from{};
            std::array<iovec, Batch> iov{};
            for (int i = 0; i < batch; ++i) {
                iov[i] = {frames_[i].data(), frames_[i].size()};
                msghdr& m = msgs[i].msg_hdr;
                m.msg_name = &from[i];
                m.msg_namelen = sizeof from[i];
                m.msg_iov = &iov[i];
                m.msg_iovlen = 1;
                m.msg_control = controls_[i].Bytes;
                m.msg_controllen = sizeof controls_[i].Bytes;
            }
            const int n = recvmmsg(sock_.Get(), msgs.data(), batch, MSG_DONTWAIT, nullptr);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            read += n;
            for (int i = 0; i < n; ++i) {
                // Only frames sent to this host: not those a promiscuous interface overhears,
                // nor broadcasts, nor our own.
                if (from[i].sll_pkttype != PACKET_HOST) continue;
                onFrame({from[i].sll_ifindex, frames_[i].data(), msgs[i].msg_len,
                         ArrivalTime(msgs[i].msg_hdr)});
            }
            if (n < batch) return false;
        }
        return true;
    }

    TLinkWait Wait(TClock::time_point deadline) override {
        switch (WaitReadable(sock_.Get(), cancel_, deadline)) {
            case TWaitResult::Readable:
                return TLinkWait::Ready;
            case TWaitResult::TimedOut:
                return TLinkWait::TimedOut;
            case TWaitResult::Cancelled:
                break;
        }
        return TLinkWait::Woken;
    }

    void Wake() override { cancel_.Raise(); }
    bool Woken() const override { return cancel_.Raised(); }

  private:
    static constexpr std::size_t Batch = 16;
    struct TControl {
        alignas(cmsghdr) char Bytes[CMSG_SPACE(sizeof(timespec))];
    };

    TFd sock_;
    TCancelFlag cancel_;
    std::array<std::array<std::uint8_t, 1600>, Batch> frames_{};
    std::array<TControl, Batch> controls_{};
};

// Lets through only ARP-for-IPv4-over-Ethernet replies sent to this host (not overheard, not
// broadcast, not our own) whose target MAC is the one they were sent to: the kernel drops the
// rest before they fill the socket's buffer. The probe checks every field again.
bool AttachReplyFilter(int fd) {
    constexpr int DropAt = 14;  // the index of the statement that drops
    auto toDrop = [](int at) { return static_cast<std::uint8_t>(DropAt - at - 1); };
    auto jumpUnless = [&](std::uint32_t value, int at) {
        return sock_filter BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, 0, toDrop(at));
    };
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<std::uint32_t>(SKF_AD_OFF + SKF_AD_PKTTYPE)),
        jumpUnless(PACKET_HOST, 1),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 14),  // hardware and protocol type
        jumpUnless(0x00010800, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 18),  // address lengths and opcode
        jumpUnless(0x06040002, 5),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 32),  // target MAC, first 4 bytes ...
        BPF_STMT(BPF_MISC | BPF_TAX, 0),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 0),  // ... against the Ethernet destination's
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_X, 0, 0, toDrop(9)),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 36),
        BPF_STMT(BPF_MISC | BPF_TAX, 0),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 4),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_X, 0, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, 0),
        BPF_STMT(BPF_RET | BPF_K, 0xFFFF),
    };
    sock_fprog prog{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &prog, sizeof prog) == 0;
}

}  // namespace

TFd OpenRawArpSocket() {
    TFd sock(socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ARP)));
    if (!sock.Valid()) return sock;
    AttachReplyFilter(sock.Get());
    // Room for the replies that arrive while the worker hands an outcome to the main thread.
    int size = 4 << 20;
    if (setsockopt(sock.Get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        setsockopt(sock.Get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    return sock;
}

std::unique_ptr<TFrameLink> CreatePacketLink(TFd sock) {
    return std::make_unique<TFrameLinkPacket>(std::move(sock));
}
