#include "main.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QScreen>
#include <QThread>
#include <climits>
#include <utility>

#include "About.h"
#include "Application.h"
#include "LocalIP.h"
#include "Look.h"
#include "QtDispatcher.h"
#include "ScanIPThread.h"
#include "ScanReport.h"
#include "UTypes.h"
#include "Vendor.h"
#include "ui_main.h"

const char* const TQuorvelForm::RangeMessage = "扫描范围不正确，请输入正确的IP地址";
const char* const TQuorvelForm::UnreadableListMessage = kUnreadableListText;

namespace {

std::unique_ptr<Ui::QuorvelForm> MakeControls(QWidget* form) {
    PrepareLook();
    auto ui = std::make_unique<Ui::QuorvelForm>();
    ui->setupUi(form);
    return ui;
}

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

// A warning in plain text: file names and system messages are never read as markup.
void ShowWarning(QWidget* parent, const QString& text) {
    ShowMessageBox(parent, QMessageBox::Warning, Q("提示"), text);
}

TFormServices WithDefaults(TFormServices services) {
    if (!services.LocalIP) services.LocalIP = GetLocalIP;
    if (!services.CreateProbe) services.CreateProbe = CreateArpProbe;
    if (!services.Vendors) services.Vendors = LoadedVendors;
    return services;
}

}  // namespace

TQuorvelForm::TQuorvelForm(TFormServices services, QWidget* parent)
    : QWidget(parent),
      ui_(MakeControls(this)),
      services_(WithDefaults(std::move(services))),
      rows_(ui_->ListView1),
      table_(rows_),
      dispatcher_(std::make_shared<TQtDispatcher>()),
      writer_([this] { return table_.Snapshot(); }, dispatcher_) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(size());
    table_.SetLocalIPSource(services_.LocalIP);
    StartLoadingVendors();

    connect(ui_->BtStart, &QPushButton::clicked, this,
            [this] { Guarded([this] { BtStartClick(); }); });
    connect(ui_->BtStop, &QPushButton::clicked, this,
            [this] { Guarded([this] { BtStopClick(); }); });
    connect(ui_->BtAbout, &QPushButton::clicked, this,
            [this] { Guarded([this] { BtAboutClick(); }); });
    connect(ui_->D1, &QAction::triggered, this, [this] { Guarded([this] { D1Click(); }); });
    connect(ui_->ListView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { ListView1ContextPopup(pos); });
    FormCreate();
}

TQuorvelForm::~TQuorvelForm() { FormDestroy(); }

void TQuorvelForm::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        if (QScreen* s = screen())
            centring_.Centre(this, s->availableGeometry(), s->availableGeometry());
    }
    QWidget::showEvent(event);
}

void TQuorvelForm::FormCreate() {
    // A local address the field cannot take (none found) leaves both fields at "0.0.0.0".
    try {
        ui_->IPEdit1->SetText(QString::fromStdString(services_.LocalIP()));
        ui_->IPEdit1->SetIP4(1);
        ui_->IPEdit2->SetText(ui_->IPEdit1->Text());
        ui_->IPEdit2->SetIP4(255);
    } catch (const EConvertError&) {
    }
    ShowTrayIcon = true;
    if (table_.LoadArpList() == TLoadStatus::Unreadable) {
        // Told once the window is up, not from inside its construction.
        QMetaObject::invokeMethod(
            this, [this] { ReportUnreadableList(); }, Qt::QueuedConnection);
    }
}

void TQuorvelForm::closeEvent(QCloseEvent* event) {
    if (const std::optional<TSaveReport> unheard = EndForClose(); unheard && !*unheard)
        ShowWarning(this, QString::fromStdString(UnsavedText(*unheard)));
    QWidget::closeEvent(event);
}

void TQuorvelForm::FormDestroy() {
    EndForClose();
    dispatcher_->Close();
}

std::optional<TSaveReport> TQuorvelForm::EndForClose() {
    if (ScanThread != nullptr) {
        // Nothing of the worker may reach this window again: its hand-off and end notice are
        // emptied, a blocked probe is woken, and a waiting hand-off is let go.
        ScanThread->OnScan = nullptr;
        ScanThread->OnTerminate = nullptr;
        ScanThread->Cancel();
        ScanThread = nullptr;
    }
    // Every find shown reaches the files before the window goes, also in the middle of a scan.
    return writer_.Flush();
}

void TQuorvelForm::BtStartClick() {
    const std::uint32_t start = NetToHost(StrToIP(ui_->IPEdit1->Text().toStdString()));
    const std::uint32_t end = NetToHost(StrToIP(ui_->IPEdit2->Text().toStdString()));
    if (end < start) {
        ShowMessageBox(this, QMessageBox::Information, Q("提示"), Q(RangeMessage));
        return;
    }
    ui_->BtStart->setEnabled(false);
    ui_->BtStop->setEnabled(true);

    const std::uint64_t count = std::uint64_t{end} - start + 1;
    progressShift_ = 0;
    while ((count >> progressShift_) > static_cast<std::uint64_t>(INT_MAX)) ++progressShift_;
    progressDone_ = 0;
    ui_->ProgressBar1->setRange(0, static_cast<int>(count >> progressShift_));
    ui_->ProgressBar1->setValue(0);

    try {
        auto* thread = new TScanIPThread(start, end, true, services_.CreateProbe(), dispatcher_);
        thread->OnScan = [this] { Guarded([this] { ScanStep(); }); };
        thread->OnTerminate = [this] { Guarded([this] { ScanDone(); }); };
        ScanThread = thread;
        thread->Start();
    } catch (...) {
        // No worker: the window must not stay in the scanning state.
        ScanThread = nullptr;
        ScanDone();
        throw;
    }
}

void TQuorvelForm::BtStopClick() {
    if (ScanThread != nullptr) ScanThread->Terminate();
}

void TQuorvelForm::BtAboutClick() {
    TAboutBox box(this);
    box.exec();
}

void TQuorvelForm::D1Click() {
    table_.RemoveSelected();
    writer_.Changed();
    writer_.AfterSave(
        [this](const TSaveReport& report) { Guarded([this, report] { ReportSaves(report); }); });
}

void TQuorvelForm::ListView1ContextPopup(const QPoint& pos) {
    ui_->PopupMenu1->popup(ui_->ListView1->viewport()->mapToGlobal(pos));
}

void TQuorvelForm::ScanStep() {
    if (Found) {
        scanReport_.NoteFind(table_, CurrentIP, MacAddr);
        table_.MergeFound(CurrentIP, MacAddr);
        scanChanged_ = true;
        writer_.Changed();
    }
    ui_->IPEdit1->SetText(QString::fromStdString(IPToStr(HostToNet(CurrentIP + 1))));
    StepProgress();
}

void TQuorvelForm::ScanDone() {
    if (ScanThread != nullptr) {
        scanReport_.NoteContested(ScanThread->Contested());
        scanReport_.NoteFault(ScanThread->Fault());
    }
    ScanThread = nullptr;
    // The buttons return once the scan's last save has completed and its report is known.
    endingScan_ = true;
    writer_.AfterSave(
        [this](const TSaveReport& report) { Guarded([this, report] { ScanSaved(report); }); });
}

void TQuorvelForm::ScanSaved(const TSaveReport& report) {
    endingScan_ = false;
    ui_->BtStart->setEnabled(true);
    ui_->BtStop->setEnabled(false);
    progressDone_ = 0;
    ui_->ProgressBar1->setValue(0);
    // The last save of a scan decides: a file it wrote holds every row, whatever earlier saves
    // met.
    if (std::exchange(scanChanged_, false)) scanReport_.NoteSaves(report);
    scanReport_.SetVendors(services_.Vendors());
    ReportScan(std::exchange(scanReport_, {}).Text());
}

void TQuorvelForm::StepProgress() {
    ++progressDone_;
    ui_->ProgressBar1->setValue(static_cast<int>(progressDone_ >> progressShift_));
}

void TQuorvelForm::ReportUnreadableList() { ShowWarning(this, Q(UnreadableListMessage)); }

void TQuorvelForm::ReportSaves(const TSaveReport& report) {
    if (!report) ShowWarning(this, QString::fromStdString(UnsavedText(report)));
}

// One box for all a scan has to tell; the administrator may copy addresses and MACs out of it.
void TQuorvelForm::ReportScan(const std::string& text) {
    if (text.empty()) return;
    QMessageBox box(QMessageBox::Warning, Q("提示"), QString::fromStdString(text), QMessageBox::Ok,
                    this);
    box.setTextFormat(Qt::PlainText);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box.exec();
}

void AwaitStoppedScans(int limitMs) {
    QElapsedTimer waited;
    waited.start();
    while (TScanIPThread::Alive() > 0 && waited.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(5);
    }
}
