// The table of IP/MAC pairs: merging scan results, address order, duplicate marks, and the
// files written from it ("ArpList.ini", "BindArp.bat", "BindDhcp.bat").
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

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
    // Where the DHCP scope comes from; GetLocalIP unless replaced.
    void SetLocalIPSource(std::function<std::string()> source) { localIP_ = std::move(source); }

    // One successful probe: hostIP in host order, mac 6 bytes. Updates the first row with that
    // IP text or appends a row and sorts; then SaveAll.
    TSaveReport MergeFound(std::uint32_t hostIP, const std::uint8_t* mac);
    // The first row whose IP text is exactly ipText.
    std::optional<int> FindIP(const std::string& ipText) const;
    void SortByAddress();
    void MarkDuplicates();
    // Deletes the selected rows, then SaveAll.
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

    // True after LoadArpList met a list file it could not read; no file is written after that,
    // so the stored list is never replaced by a table that lacks its rows.
    bool ListWithheld() const { return listWithheld_; }

  private:
    std::string PathOf(const char* name) const;

    TRows& rows_;
    std::string dir_;
    std::function<std::string()> localIP_;
    bool listWithheld_ = false;
};
