// Ethernet frames through the packet capture API (the one Npcap's and WinPcap's wpcap.dll
// export). The library is loaded by full path, from <System32>\Npcap (with its Packet.dll beside
// it) and then <System32>; never from the program's folder, the working folder or PATH, where
// anyone might have put a wpcap.dll.
#include "FrameLinkCapture.h"

#include <winsock2.h>
// winsock2.h before the others
#include <iphlpapi.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// The few types of the API this link uses, as its documentation gives them.
struct pcap;  // opaque
using pcap_t = pcap;
struct bpf_insn;
struct bpf_program {
    unsigned int bf_len;
    bpf_insn* bf_insns;
};
struct pcap_pkthdr {
    timeval ts;  // arrival, on the system's wall clock
    std::uint32_t caplen;
    std::uint32_t len;
};
constexpr int PcapErrbufSize = 256;
constexpr std::uint32_t PcapNetmaskUnknown = 0xFFFFFFFF;
constexpr int PcapTstampHostHiprec = 2;  // the system's precise time, comparable with ours
constexpr int PcapWarningTstampTypeNotsup = 3;

// The library's functions; those marked optional are missing from some builds of it.
struct TCaptureApi {
    HMODULE Module = nullptr;
    pcap_t*(__cdecl* Create)(const char*, char*) = nullptr;
    int(__cdecl* SetSnaplen)(pcap_t*, int) = nullptr;
    int(__cdecl* SetPromisc)(pcap_t*, int) = nullptr;
    int(__cdecl* SetTimeout)(pcap_t*, int) = nullptr;
    int(__cdecl* SetBufferSize)(pcap_t*, int) = nullptr;
    int(__cdecl* SetImmediateMode)(pcap_t*, int) = nullptr;  // optional
    int(__cdecl* SetTstampType)(pcap_t*, int) = nullptr;     // optional
    int(__cdecl* Activate)(pcap_t*) = nullptr;
    int(__cdecl* Compile)(pcap_t*, bpf_program*, const char*, int, std::uint32_t) = nullptr;
    int(__cdecl* SetFilter)(pcap_t*, bpf_program*) = nullptr;
    void(__cdecl* FreeCode)(bpf_program*) = nullptr;
    int(__cdecl* SetNonblock)(pcap_t*, int, char*) = nullptr;
    // Npcap's only: WinPcap-compatible builds may export it without giving an event.
    HANDLE(__cdecl* GetEvent)(pcap_t*) = nullptr;
    int(__cdecl* NextEx)(pcap_t*, pcap_pkthdr**, const unsigned char**) = nullptr;
    int(__cdecl* SendPacket)(pcap_t*, const unsigned char*, int) = nullptr;
    char*(__cdecl* GetErr)(pcap_t*) = nullptr;
    void(__cdecl* Close)(pcap_t*) = nullptr;
};

template <typename F>
bool Resolve(HMODULE module, const char* name, F* fn) {
    *fn = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *fn != nullptr;
}

// Loads the library from one full path, its own dependencies from its folder and System32 only.
// A system without these search flags (Windows 7 without its update) loads nothing: the scan
// then goes through SendARP rather than through a search that reaches the working folder.
HMODULE LoadByFullPath(const std::wstring& path) {
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return nullptr;
    return LoadLibraryExW(path.c_str(), nullptr,
                          LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The library and its functions, loaded once for the process; Module null when none is there.
const TCaptureApi& CaptureApi() {
    static const TCaptureApi api = [] {
        TCaptureApi a;
        wchar_t dir[MAX_PATH];
        const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return a;
        const std::wstring system(dir, n);
        bool npcap = true;
        for (const std::wstring& path : {system + L"\\Npcap\\wpcap.dll", system + L"\\wpcap.dll"}) {
            a.Module = LoadByFullPath(path);
            if (a.Module != nullptr) break;
            npcap = false;
        }
        if (a.Module == nullptr) return a;
        const HMODULE m = a.Module;
        Resolve(m, "pcap_set_immediate_mode", &a.SetImmediateMode);
        Resolve(m, "pcap_set_tstamp_type", &a.SetTstampType);
        if (npcap) Resolve(m, "pcap_getevent", &a.GetEvent);
        const bool all =
            Resolve(m, "pcap_create", &a.Create) && Resolve(m, "pcap_set_snaplen", &a.SetSnaplen) &&
            Resolve(m, "pcap_set_promisc", &a.SetPromisc) &&
            Resolve(m, "pcap_set_timeout", &a.SetTimeout) &&
            Resolve(m, "pcap_set_buffer_size", &a.SetBufferSize) &&
            Resolve(m, "pcap_activate", &a.Activate) && Resolve(m, "pcap_compile", &a.Compile) &&
            Resolve(m, "pcap_setfilter", &a.SetFilter) &&
            Resolve(m, "pcap_freecode", &a.FreeCode) &&
            Resolve(m, "pcap_setnonblock", &a.SetNonblock) &&
            Resolve(m, "pcap_next_ex", &a.NextEx) && Resolve(m, "pcap_sendpacket", &a.SendPacket) &&
            Resolve(m, "pcap_geterr", &a.GetErr) && Resolve(m, "pcap_close", &a.Close);
        if (!all) {
            FreeLibrary(m);
            a = TCaptureApi{};
        }
        return a;
    }();
    return api;
}

std::uint32_t WireOf(const sockaddr* a) {
    return reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr;  // in memory: wire order
}

std::uint32_t PrefixMask(unsigned bits) {
    return bits == 0 ? 0 : HostToNet(bits >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> bits));
}

// Every IPv4 address of the adapters that are up and have an Ethernet address; Name is the
// adapter's name ("{GUID}"), as the capture driver names its device after it.
std::vector<TLocalLink> ReadAdapters() {
    std::vector<TLocalLink> links;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buf;
    ULONG r = ERROR_BUFFER_OVERFLOW;
    for (int i = 0; i < 4 && r == ERROR_BUFFER_OVERFLOW; ++i) {
        buf.resize(size);
        r = GetAdaptersAddresses(
            AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
            nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()), &size);
    }
    if (r != NO_ERROR) return links;
    for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()); a != nullptr; a = a->Next) {
        if (a->OperStatus != IfOperStatusUp || a->PhysicalAddressLength != 6 ||
            a->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
            continue;
        for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
            if (u->Address.lpSockaddr == nullptr || u->Address.lpSockaddr->sa_family != AF_INET)
                continue;
            TLocalLink l;
            l.Name = a->AdapterName;
            l.Index = static_cast<int>(a->IfIndex);
            l.IP = WireOf(u->Address.lpSockaddr);
            l.Netmask = PrefixMask(u->OnLinkPrefixLength);
            std::memcpy(l.Mac.data(), a->PhysicalAddress, 6);
            links.push_back(l);
        }
    }
    return links;
}

std::string MacText(const TMacAddr& m) { return MacToColonStr(m.data()); }

class TFrameLinkCapture : public TFrameLink {
  public:
    TFrameLinkCapture(const TCaptureApi& api, pcap_t* p, std::vector<TLocalLink> links,
                      bool hostStamps)
        : api_(api),
          p_(p),
          links_(std::move(links)),
          hostStamps_(hostStamps),
          wake_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        if (api_.GetEvent != nullptr) event_ = api_.GetEvent(p_);
    }
    ~TFrameLinkCapture() override {
        api_.Close(p_);
        if (wake_ != nullptr) CloseHandle(wake_);
    }
    TFrameLinkCapture(const TFrameLinkCapture&) = delete;
    TFrameLinkCapture& operator=(const TFrameLinkCapture&) = delete;

    std::vector<TLocalLink> ReadLinks() override { return links_; }
    TNeighParams ReadParams(const std::string& /*ifName*/) override { return {}; }

    std::string Send(const TLocalLink& /*link*/, const std::uint8_t* frame,
                     std::size_t size) override {
        if (api_.SendPacket(p_, frame, static_cast<int>(size)) == 0) return {};
        return std::string("pcap_sendpacket: ") + api_.GetErr(p_);
    }

    bool Receive(const std::function<void(const TFrameIn&)>& onFrame, int max) override {
        for (int read = 0; read < max && failure_.empty(); ++read) {
            pcap_pkthdr* h = nullptr;
            const unsigned char* data = nullptr;
            const int r = api_.NextEx(p_, &h, &data);
            if (r == 0) return false;
            if (r < 0) {
                failure_ = api_.GetErr(p_);
                if (failure_.empty()) failure_ = "pcap_next_ex";
                return false;
            }
            // Only frames sent to this host's MAC (the filter says so too).
            if (h->caplen < 14 || std::memcmp(data, links_.front().Mac.data(), 6) != 0) continue;
            onFrame(
                {links_.front().Index, data, h->caplen, hostStamps_ ? Arrival(*h) : TClock::now()});
        }
        return failure_.empty();
    }

    TLinkWait Wait(TClock::time_point deadline) override {
        if (!failure_.empty()) return TLinkWait::Failed;
        if (woken_) return TLinkWait::Woken;
        const TClock::time_point now = TClock::now();
        if (now >= deadline) return TLinkWait::TimedOut;
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        // Without the driver's event (Wine's library has none) the link is looked at every
        // millisecond: a frame may then have come.
        if (event_ == nullptr) ms = 1;
        HANDLE handles[2] = {wake_, event_};
        const DWORD r = WaitForMultipleObjects(event_ == nullptr ? 1 : 2, handles, FALSE,
                                               static_cast<DWORD>(ms));
        if (r == WAIT_OBJECT_0) return TLinkWait::Woken;
        if (r == WAIT_OBJECT_0 + 1 || (event_ == nullptr && r == WAIT_TIMEOUT))
            return TLinkWait::Ready;
        if (r == WAIT_TIMEOUT) return TLinkWait::TimedOut;
        failure_ = "WaitForMultipleObjects: " + std::to_string(GetLastError());
        return TLinkWait::Failed;
    }

    void Wake() override {
        woken_ = true;
        SetEvent(wake_);
    }
    bool Woken() const override { return woken_; }
    std::string Failure() const override { return failure_; }

  private:
    static TClock::time_point Arrival(const pcap_pkthdr& h) {
        const auto sinceEpoch =
            std::chrono::seconds(h.ts.tv_sec) + std::chrono::microseconds(h.ts.tv_usec);
        return SteadyArrival(std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(sinceEpoch)));
    }

    const TCaptureApi& api_;
    pcap_t* p_;
    std::vector<TLocalLink> links_;  // the adapter's addresses; all share its index and MAC
    // The frames carry the host's clock; otherwise (another clock, or one the library would not
    // say) each is stamped when read, a little late but never before its request.
    bool hostStamps_;
    HANDLE wake_;
    HANDLE event_ = nullptr;
    std::atomic<bool> woken_{false};
    std::string failure_;
};

// Opens the adapter's device as the probe needs it: ARP replies to its MAC only, every frame
// handed on at once, stamped with the system's precise time where the library can (hostStamps).
// Null with the reason in why.
pcap_t* OpenDevice(const TCaptureApi& api, const TLocalLink& adapter, bool* hostStamps,
                   std::string* why) {
    char err[PcapErrbufSize] = {};
    const std::string device = "\\Device\\NPF_" + adapter.Name;
    pcap_t* p = api.Create(device.c_str(), err);
    if (p == nullptr) {
        *why = device + ": " + err;
        return nullptr;
    }
    api.SetSnaplen(p, 128);
    api.SetPromisc(p, 0);
    api.SetTimeout(p, 1);
    api.SetBufferSize(p, 4 << 20);
    if (api.SetImmediateMode != nullptr) api.SetImmediateMode(p, 1);
    *hostStamps = api.SetTstampType != nullptr && api.SetTstampType(p, PcapTstampHostHiprec) == 0;
    // Warnings (a time stamp type it cannot give) are positive: the device is open all the same.
    const int activated = api.Activate(p);
    if (activated == PcapWarningTstampTypeNotsup) *hostStamps = false;
    if (activated < 0) {
        *why = device + ": " + api.GetErr(p);
        api.Close(p);
        return nullptr;
    }
    // ARP, opcode 2 (reply), sent to our MAC.
    const std::string filter = "arp and arp[6:2] = 2 and ether dst " + MacText(adapter.Mac);
    bpf_program code{};
    bool filtered = api.Compile(p, &code, filter.c_str(), 1, PcapNetmaskUnknown) == 0;
    if (filtered) {
        filtered = api.SetFilter(p, &code) == 0;
        api.FreeCode(&code);
    }
    if (!filtered || api.SetNonblock(p, 1, err) != 0) {
        *why = device + ": " + api.GetErr(p);
        api.Close(p);
        return nullptr;
    }
    return p;
}

}  // namespace

std::unique_ptr<TFrameLink> OpenCaptureLink(std::uint32_t first, std::uint32_t last,
                                            std::string* why) {
    std::string reason;
    if (why == nullptr) why = &reason;
    const TCaptureApi& api = CaptureApi();
    if (api.Module == nullptr) {
        *why = "wpcap.dll is not installed";
        return nullptr;
    }
    const std::vector<TLocalLink> all = ReadAdapters();
    const TLocalLink* covering = CoveringLink(all, first, last);
    if (covering == nullptr) {
        *why = "no adapter's network covers the range";
        return nullptr;
    }
    std::vector<TLocalLink> adapter;
    for (const TLocalLink& l : all)
        if (l.Name == covering->Name) adapter.push_back(l);
    bool hostStamps = false;
    pcap_t* p = OpenDevice(api, adapter.front(), &hostStamps, why);
    if (p == nullptr) return nullptr;
    return std::make_unique<TFrameLinkCapture>(api, p, std::move(adapter), hostStamps);
}
