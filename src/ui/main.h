// The main window: the address table, the range to scan, start and stop, progress, deleting
// rows, the About box. The program starts and ends with it.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "AddressTable.h"
#include "ArpProbe.h"
#include "ListViewRows.h"
#include "Look.h"
#include "SaveWriter.h"
#include "ScanReport.h"

namespace Ui {
class QuorvelForm;
}

class TQtDispatcher;
class TScanIPThread;

// What the window takes from the system; tests put scripted ones in.
struct TFormServices {
    std::function<std::string()> LocalIP;                     // GetLocalIP when empty
    std::function<std::unique_ptr<TArpProbe>()> CreateProbe;  // CreateArpProbe when empty
    std::function<const TVendorRegistry*()> Vendors;          // LoadedVendors when empty
};

class TQuorvelForm : public QWidget {
    Q_OBJECT
  public:
    explicit TQuorvelForm(TFormServices services = {}, QWidget* parent = nullptr);
    ~TQuorvelForm() override;

    TAddressTable& Table() { return table_; }
    TListViewRows& Rows() { return rows_; }
    Ui::QuorvelForm& Controls() { return *ui_; }
    TSaveWriter& Writer() { return writer_; }
    // From the start of a scan until its last save has completed.
    bool Scanning() const { return ScanThread != nullptr || endingScan_; }

    static const char* const RangeMessage;
    static const char* const UnreadableListMessage;

  protected:
    void showEvent(QShowEvent* event) override;
    // Files the last saves left unwritten are told before the window goes.
    void closeEvent(QCloseEvent* event) override;

  private:
    void FormCreate();
    void FormDestroy();
    // Stops a scan and writes every find shown; the report of that save when nobody has heard
    // it yet.
    std::optional<TSaveReport> EndForClose();
    void BtStartClick();
    void BtStopClick();
    void BtAboutClick();
    void D1Click();
    void ListView1ContextPopup(const QPoint& pos);
    void ScanStep();
    void ScanDone();
    void ScanSaved(const TSaveReport& report);
    void ReportUnreadableList();
    void StepProgress();
    // Files a deletion's save left unwritten, told at once.
    void ReportSaves(const TSaveReport& report);
    // What a scan met (changed MACs, contested addresses, files not written), told when it ends.
    void ReportScan(const std::string& text);

    std::unique_ptr<Ui::QuorvelForm> ui_;
    TFormServices services_;
    TListViewRows rows_;
    TAddressTable table_;
    std::shared_ptr<TQtDispatcher> dispatcher_;
    TSaveWriter writer_;
    TScanIPThread* ScanThread = nullptr;
    // The progress bar counts in units of 2^progressShift_ addresses, so that a range of 2^31
    // addresses or more still fits its int maximum.
    int progressShift_ = 0;
    std::uint64_t progressDone_ = 0;
    bool centred_ = false;
    TScanReport scanReport_;
    // The scan has changed the table; its last save's report is told when it ends.
    bool scanChanged_ = false;
    bool endingScan_ = false;
    TFrameCentring centring_;
};

// After the window has closed: lets a scan it stopped end and free itself (its end notice runs on
// this thread), waiting at most limitMs.
void AwaitStoppedScans(int limitMs);
