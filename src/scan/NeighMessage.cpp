#include "NeighMessage.h"

#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstring>

namespace {

template <typename T>
T Read(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::uint32_t GetIP(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

// Reads the attributes after the ndmsg header; false when one does not fit.
bool ReadAttributes(const std::uint8_t* p, std::size_t len, TNeighEntry& e, bool& hasIP) {
    while (len >= sizeof(rtattr)) {
        auto a = Read<rtattr>(p);
        if (a.rta_len < sizeof(rtattr) || a.rta_len > len) return false;
        const std::uint8_t* payload = p + RTA_LENGTH(0);
        std::size_t size = a.rta_len - RTA_LENGTH(0);
        if (a.rta_type == NDA_DST && size == 4) {
            e.IP = GetIP(payload);
            hasIP = true;
        } else if (a.rta_type == NDA_LLADDR && size == 6) {
            std::memcpy(e.Mac.data(), payload, 6);
            e.HasMac = true;
        }
        std::size_t step = RTA_ALIGN(a.rta_len);
        if (step >= len) break;
        p += step;
        len -= step;
    }
    return true;
}

}  // namespace

std::vector<std::uint8_t> BuildNeighGet(std::uint32_t seq, int ifIndex, std::uint32_t ip) {
    std::vector<std::uint8_t> buf(NLMSG_SPACE(sizeof(ndmsg)) + RTA_SPACE(4));
    nlmsghdr h{};
    h.nlmsg_len = static_cast<std::uint32_t>(buf.size());
    h.nlmsg_type = RTM_GETNEIGH;
    h.nlmsg_flags = NLM_F_REQUEST;
    h.nlmsg_seq = seq;
    std::memcpy(buf.data(), &h, sizeof h);
    ndmsg n{};
    n.ndm_family = AF_INET;
    n.ndm_ifindex = ifIndex;
    std::memcpy(buf.data() + NLMSG_HDRLEN, &n, sizeof n);
    rtattr a{};
    a.rta_len = RTA_LENGTH(4);
    a.rta_type = NDA_DST;
    std::uint8_t* at = buf.data() + NLMSG_SPACE(sizeof(ndmsg));
    std::memcpy(at, &a, sizeof a);
    for (int i = 0; i < 4; ++i) at[RTA_LENGTH(0) + i] = static_cast<std::uint8_t>(ip >> (8 * i));
    return buf;
}

std::vector<std::uint8_t> BuildNeighDump(std::uint32_t seq) {
    std::vector<std::uint8_t> buf(NLMSG_SPACE(sizeof(ndmsg)));
    nlmsghdr h{};
    h.nlmsg_len = static_cast<std::uint32_t>(buf.size());
    h.nlmsg_type = RTM_GETNEIGH;
    h.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    h.nlmsg_seq = seq;
    std::memcpy(buf.data(), &h, sizeof h);
    ndmsg n{};
    n.ndm_family = AF_INET;
    std::memcpy(buf.data() + NLMSG_HDRLEN, &n, sizeof n);
    return buf;
}

std::vector<TNeighNote> ParseNeighDatagram(const std::uint8_t* data, std::size_t len,
                                           bool* malformed) {
    std::vector<TNeighNote> notes;
    if (malformed != nullptr) *malformed = false;
    if (len == 0) return notes;
    for (;;) {
        if (len < sizeof(nlmsghdr)) break;
        auto h = Read<nlmsghdr>(data);
        if (h.nlmsg_len < sizeof(nlmsghdr) || h.nlmsg_len > len) break;
        const std::uint8_t* body = data + NLMSG_HDRLEN;
        std::size_t bodyLen = h.nlmsg_len - NLMSG_HDRLEN;
        TNeighNote note;
        note.Seq = h.nlmsg_seq;
        bool keep = false;
        if (h.nlmsg_type == NLMSG_DONE) {
            note.Kind = TNeighNote::Done;
            keep = true;
        } else if (h.nlmsg_type == NLMSG_ERROR) {
            if (bodyLen < sizeof(int)) break;
            note.Kind = TNeighNote::Error;
            note.ErrorCode = Read<int>(body);
            keep = true;
        } else if (h.nlmsg_type == RTM_NEWNEIGH || h.nlmsg_type == RTM_DELNEIGH) {
            if (bodyLen < sizeof(ndmsg)) break;
            auto n = Read<ndmsg>(body);
            bool hasIP = false;
            std::size_t head = NLMSG_ALIGN(sizeof(ndmsg));
            if (bodyLen > head && !ReadAttributes(body + head, bodyLen - head, note.Neigh, hasIP))
                break;
            note.Neigh.Deleted = h.nlmsg_type == RTM_DELNEIGH;
            note.Neigh.IfIndex = n.ndm_ifindex;
            note.Neigh.State = n.ndm_state;
            keep = n.ndm_family == AF_INET && hasIP;
        }
        if (keep) notes.push_back(note);
        std::size_t step = NLMSG_ALIGN(h.nlmsg_len);
        if (step >= len) return notes;
        data += step;
        len -= step;
    }
    if (malformed != nullptr) *malformed = true;
    return notes;
}

bool IsVerifiedState(std::uint16_t state) {
    return (state & (NUD_REACHABLE | NUD_PERMANENT | NUD_NOARP)) != 0;
}
