// The table of IP/MAC pairs: merging scan results, address order, duplicate marks, and the
// files written from it ("ArpList.ini", "BindArp.bat", "BindDhcp.bat").
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

#include "Rows.h"
#include "Sort.h"
#include "TextFile.h"

// The one setting, kept in the list file as "TrayIcon=False" when false.
extern bool ShowTrayIcon;

enum class TLoadStatus {
    Loaded,      // the file was read (lines it could not use were passed over)
    Missing,     // no file: the table starts empty and the first save creates it
    Unreadable,  // the file exists but could not be read: it is never overwritten afterwards
};

struct TSaveSettings;

// What one save did with each of the three files.
struct TSaveReport {
    TFileResult List;  // "ArpList.ini"
    TFileResult Arp;   // "BindArp.bat"
    TFileResult Dhcp;  // "BindDhcp.bat"
    explicit operator bool() const { return List && Arp && Dhcp; }
};

class TAddressTable {
  public:
    explicit TAddressTable(TRows& rows);

    TRows& Rows() { return rows_; }

    // Folder for the three files; empty means the current directory.
    void SetDirectory(std::string dir) { dir_ = std::move(dir); }
    // Or a folder opened once (TFolder::Fd, kept open while the table is used), which the
    // files are read and written relative to whatever becomes of its name.
    void SetFolder(int folder) {
        folder_ = folder;
        dir_.clear();
    }
    // Where the DHCP scope comes from; GetLocalIP unless replaced.
    void SetLocalIPSource(std::function<std::string()> source) { localIP_ = std::move(source); }

    // What one find did to the table: the row it set, and whether that row is new.
    struct TMerged {
        int Row = -1;
        bool Appended = false;
    };
    // One successful probe: hostIP in host order, mac 6 bytes. Updates the first row with that
    // IP text or adds a row in address order, and the duplicate marks of the rows it touches.
    // Nothing is saved: that is SaveAll's, or a TSaveWriter's with Snapshot.
    TMerged MergeFound(std::uint32_t hostIP, const std::uint8_t* mac);
    // The first row whose IP text is ipText. While the rows are in address order (after
    // LoadArpList or SortByAddress, and changed through this table since) it takes the time of
    // a binary search; otherwise every row is looked at.
    std::optional<int> FindIP(const std::string& ipText) const;
    void SortByAddress();
    void MarkDuplicates();
    // Deletes the selected rows and marks the duplicates among the rest.
    void RemoveSelected();
    // RemoveSelected, then SaveAll.
    TSaveReport DeleteSelected();

    // A list that cannot be read whole (too large, not a file, a read error, text hidden
    // behind a NUL, no memory left) is Unreadable.
    TLoadStatus LoadArpList();
    // Each says why its file was not (re)written; the previous file then stands.
    TFileResult SaveArpList();
    TFileResult SaveBindArp();
    TFileResult SaveBindDhcp();
    // SaveArpList, SaveBindArp, SaveBindDhcp.
    TSaveReport SaveAll();
    // The table as it is now, for writing elsewhere: the returned save writes the three files
    // exactly as SaveAll would have written them at this moment, on any thread.
    std::function<TSaveReport()> Snapshot() const;

    // True after LoadArpList met a list file it could not read; no file is written after that,
    // so the stored list is never replaced by a table that lacks its rows.
    bool ListWithheld() const { return listWithheld_; }

  private:
    std::string PathOf(const char* name) const;
    TSaveSettings Settings() const;
    bool Ordered() const { return rows_.Count() == orderedCount_; }
    // The first row whose address sorts at or after key (LowerBound) or after it (UpperBound);
    // the rows must be Ordered.
    int LowerBound(std::uint32_t key) const;
    int UpperBound(std::uint32_t key) const;
    // Marks the one row other than row whose address sorts as key and whose MAC text is mac;
    // false when there is none.
    bool MarkOther(const std::string& mac, std::uint64_t key, int row, bool duplicate);
    void IndexMACs();
    void IndexMAC(const std::string& mac, std::uint32_t key);
    void UnindexMAC(const std::string& mac, std::uint32_t key);
    void Mark(int row, bool duplicate);
    // Marks after row's MAC became its present text, having been oldMac (none for a new row).
    void UpdateMarks(int row, const std::string* oldMac);

    TRows& rows_;
    std::string dir_;
    int folder_ = kWorkingFolder;
    std::function<std::string()> localIP_;
    bool listWithheld_ = false;
    // The row count at which the rows were last known to be in address order.
    int orderedCount_ = 0;
    // Per MAC text, how many rows hold it and the sum of their address keys: a row is marked
    // while its text's count exceeds one, and when the count is one the sum is the address of
    // the row left. Built at the first find after a load, sort or deletion; kept by every find
    // after it.
    struct TMacRows {
        int Count = 0;
        std::uint64_t KeySum = 0;
    };
    std::unordered_map<std::string, TMacRows> macRows_;
    bool macIndexed_ = false;
};
