// ParseNeighDatagram on arbitrary bytes. Properties: reading never leaves the datagram (the
// sanitizers watch), the notes of a cut-off datagram are the first notes of the whole one, and a
// request we build is passed over.
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "NeighMessage.h"

namespace {

bool SameNote(const TNeighNote& a, const TNeighNote& b) {
    return a.Kind == b.Kind && a.Seq == b.Seq && a.ErrorCode == b.ErrorCode &&
           a.Neigh.Deleted == b.Neigh.Deleted && a.Neigh.IfIndex == b.Neigh.IfIndex &&
           a.Neigh.State == b.Neigh.State && a.Neigh.IP == b.Neigh.IP &&
           a.Neigh.HasMac == b.Neigh.HasMac && (!a.Neigh.HasMac || a.Neigh.Mac == b.Neigh.Mac);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly the given length, so that any read past it is caught.
    std::vector<std::uint8_t> whole(data, data + size);
    bool malformed = false;
    std::vector<TNeighNote> notes = ParseNeighDatagram(whole.data(), whole.size(), &malformed);
    if (notes.size() > size / sizeof(nlmsghdr)) std::abort();

    std::size_t cut = size == 0 ? 0 : data[0] % (size + 1);
    std::vector<std::uint8_t> part(data, data + cut);
    std::vector<TNeighNote> partNotes = ParseNeighDatagram(part.data(), part.size());
    if (partNotes.size() > notes.size()) std::abort();
    for (std::size_t i = 0; i < partNotes.size(); ++i) {
        if (!SameNote(partNotes[i], notes[i])) std::abort();
    }

    if (size >= 12) {
        std::uint32_t seq, ip;
        int ifIndex;
        std::memcpy(&seq, data, 4);
        std::memcpy(&ifIndex, data + 4, 4);
        std::memcpy(&ip, data + 8, 4);
        std::vector<std::uint8_t> request = BuildNeighGet(seq, ifIndex, ip);
        bool requestMalformed = true;
        if (!ParseNeighDatagram(request.data(), request.size(), &requestMalformed).empty() ||
            requestMalformed) {
            std::abort();
        }
    }
    return 0;
}
