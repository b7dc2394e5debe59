// Writes the table's files on a thread of its own, so that neither the scan nor the window waits
// for the disk. It always writes the newest state of the table: changes made while a save is
// under way are gathered into the next one (a group commit).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "AddressTable.h"
#include "ScanIPThread.h"

class TSaveWriter {
  public:
    using TSave = std::function<TSaveReport()>;
    using TDone = std::function<void(const TSaveReport&)>;

    // snapshot takes the table as it is (TAddressTable::Snapshot); it is called on the main
    // thread, and only when the writer is free to start the save. Reports come back through
    // dispatcher.
    TSaveWriter(std::function<TSave()> snapshot, std::shared_ptr<TDispatcher> dispatcher);
    // Finishes the save under way (not the pending changes: Flush writes those).
    ~TSaveWriter();
    TSaveWriter(const TSaveWriter&) = delete;
    TSaveWriter& operator=(const TSaveWriter&) = delete;

    // The table has changed: a save starts now when none is under way, else right after it.
    void Changed();
    // done gets the report of the first save that holds the table as it is now, on the main
    // thread once that save has completed; at once when the last save already holds it.
    void AfterSave(TDone done);
    // Writes the newest state and waits for it; for closing the program. Returns that save's
    // report when nobody has heard it yet through AfterSave (those still waiting are not
    // called): the caller tells it, as what the files lack must not go untold.
    std::optional<TSaveReport> Flush();
    // No save under way and no change waiting for one.
    bool Idle() const { return !busy_ && !dirty_; }

    // For tests: runs on the writer's thread before each save, as a slow disk would delay it.
    void SetBeforeSave(std::function<void()> beforeSave);

  private:
    void Launch();
    // Waits for the save under way; the report of the last save written.
    TSaveReport AwaitWritten();
    void Saved(std::uint64_t generation, const TSaveReport& report);
    void Run();

    std::function<TSave()> snapshot_;
    std::shared_ptr<TDispatcher> dispatcher_;
    // Main thread only.
    bool dirty_ = false;
    bool busy_ = false;
    std::uint64_t launched_ = 0;   // saves started
    std::uint64_t completed_ = 0;  // the last save whose report has come back
    std::uint64_t heard_ = 0;      // the last save whose report was handed to AfterSave
    TSaveReport last_;
    std::vector<std::pair<std::uint64_t, TDone>> waiting_;
    std::shared_ptr<TSaveWriter*> self_;
    // Shared with the writer's thread.
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    TSave job_;
    std::uint64_t jobGeneration_ = 0;
    std::uint64_t written_ = 0;
    TSaveReport writtenReport_;  // the report of save written_
    bool stop_ = false;
    std::function<void()> beforeSave_;
    std::thread thread_;
};
