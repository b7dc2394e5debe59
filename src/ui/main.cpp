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
#include "UTypes.h"
#include "ui_main.h"

const char* const TQuorvelForm::RangeMessage = "扫描范围不正确，请输入正确的IP地址";
const char* const TQuorvelForm::UnreadableListMessage =
    "无法读取地址列表文件“ArpList.ini”。\n为保护其中的地址，本次运行不会改写该文件，"
    "也不会改写“BindArp.bat”和“BindDhcp.bat”。";

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

// A scan that could not ask the network, or stopped being able to, must not read as an empty
// network: its end says so once.
void ReportProbeFault(QWidget* parent, const TProbeFault& fault) {
    std::string text;
    switch (fault.Kind) {
        case TProbeFaultKind::None:
            return;
        case TProbeFaultKind::Refused:
            text =
                "本次扫描未能探测任何地址：系统拒绝了每一个ARP请求（" + fault.Detail +
                "）。\n未找到的地址并不表示没有主机，列表也未因此改变。\n"
                "请安装 Npcap 后再扫描；若安装时选择了仅限管理员使用，请以管理员身份运行本程序。";
            break;
        case TProbeFaultKind::LinkFailed:
            text = "扫描途中网卡的抓包接口出错（" + fault.Detail +
                   "），此后的地址都未经探测，未找到的地址并不表示没有主机。";
            break;
    }
    ShowWarning(parent, QString::fromStdString(text));
}

QString FaultText(const TFileResult& result, bool script) {
    switch (result.Fault) {
        case TFileFault::None:
            break;
        case TFileFault::ReadOnly:
            return Q("文件是只读的。");
        case TFileFault::NoAccess:
            return Q("没有写入权限（文件或所在文件夹不允许）。");
        case TFileFault::ReadOnlyDisk:
            return Q("所在磁盘是只读的。");
        case TFileFault::DiskFull:
            return Q("磁盘空间不足。");
        case TFileFault::InUse:
            return Q("文件正被其他程序占用。");
        case TFileFault::NotAFile:
            return Q("该名称处不是普通文件。");
        case TFileFault::LinkRefused:
            return Q(
                "它是指向别处的链接，而链接或其目标文件夹属于其他用户；以管理员身份运行时不经此链接"
                "写入。");
        case TFileFault::ListWithheld:
            return script ? Q("地址列表未能读取，为免丢失其中的绑定，脚本也不改写。")
                          : Q("启动时无法读取该文件，为保护其中的地址，本次运行不会改写它。");
        case TFileFault::UnreadableRow:
            return Q("第 %1 行的 IP 地址或 MAC 地址无法写入脚本，原有文件保持不变。")
                .arg(result.Row + 1);
        case TFileFault::Failed:
            return Q("写入出错：%1。").arg(QString::fromLocal8Bit(SystemErrorText(result.Error)));
    }
    return {};
}

// One text naming each file the save left unwritten and why.
QString SaveReportText(const TSaveReport& report) {
    QString text = Q("以下文件未能写入：");
    const std::pair<const char*, const TFileResult*> files[] = {{"ArpList.ini", &report.List},
                                                                {"BindArp.bat", &report.Arp},
                                                                {"BindDhcp.bat", &report.Dhcp}};
    for (const auto& [name, result] : files) {
        if (*result) continue;
        text += Q("\n“%1”：%2").arg(Q(name), FaultText(*result, result != &report.List));
    }
    return text;
}

TFormServices WithDefaults(TFormServices services) {
    if (!services.LocalIP) services.LocalIP = GetLocalIP;
    if (!services.CreateProbe) services.CreateProbe = CreateArpProbe;
    return services;
}

}  // namespace

TQuorvelForm::TQuorvelForm(TFormServices services, QWidget* parent)
    : QWidget(parent),
      ui_(MakeControls(this)),
      services_(WithDefaults(std::move(services))),
      rows_(ui_->ListView1),
      table_(rows_),
      dispatcher_(std::make_shared<TQtDispatcher>()) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(size());
    table_.SetLocalIPSource(services_.LocalIP);

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

void TQuorvelForm::FormDestroy() {
    if (ScanThread != nullptr) {
        // Nothing of the worker may reach this window again: its hand-off and end notice are
        // emptied, a blocked probe is woken, and a waiting hand-off is let go.
        ScanThread->OnScan = nullptr;
        ScanThread->OnTerminate = nullptr;
        ScanThread->Cancel();
        ScanThread = nullptr;
    }
    dispatcher_->Close();
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

void TQuorvelForm::D1Click() { ReportSaves(table_.DeleteSelected()); }

void TQuorvelForm::ListView1ContextPopup(const QPoint& pos) {
    ui_->PopupMenu1->popup(ui_->ListView1->viewport()->mapToGlobal(pos));
}

void TQuorvelForm::ScanStep() {
    if (Found) NoteScanSaves(table_.MergeFound(CurrentIP, MacAddr));
    ui_->IPEdit1->SetText(QString::fromStdString(IPToStr(HostToNet(CurrentIP + 1))));
    StepProgress();
}

void TQuorvelForm::ScanDone() {
    std::vector<TContested> contested;
    TProbeFault fault;
    if (ScanThread != nullptr) {
        contested = ScanThread->Contested();
        fault = ScanThread->Fault();
    }
    ScanThread = nullptr;
    ui_->BtStart->setEnabled(true);
    ui_->BtStop->setEnabled(false);
    progressDone_ = 0;
    ui_->ProgressBar1->setValue(0);
    ReportScanSaves();
    ReportContested(contested);
    ReportProbeFault(this, fault);
}

void TQuorvelForm::StepProgress() {
    ++progressDone_;
    ui_->ProgressBar1->setValue(static_cast<int>(progressDone_ >> progressShift_));
}

void TQuorvelForm::ReportUnreadableList() { ShowWarning(this, Q(UnreadableListMessage)); }

// The last save of a scan decides: a file it wrote holds every row, whatever earlier saves met.
void TQuorvelForm::NoteScanSaves(const TSaveReport& report) { scanSaves_ = report; }

void TQuorvelForm::ReportScanSaves() {
    std::optional<TSaveReport> report = std::exchange(scanSaves_, std::nullopt);
    if (report) ReportSaves(*report);
}

void TQuorvelForm::ReportSaves(const TSaveReport& report) {
    if (!report) ShowWarning(this, SaveReportText(report));
}

// Addresses for which different MACs answered were left out of the table: either may be forged.
// One warning lists them (the first 50) with every MAC that answered.
void TQuorvelForm::ReportContested(const std::vector<TContested>& contested) {
    if (contested.empty()) return;
    constexpr std::size_t Listed = 50;
    std::string text =
        "以下地址有多个不同的MAC地址应答，可能有主机冒充（ARP欺骗）。"
        "这些地址未加入列表，已有的记录保持不变：\n";
    for (std::size_t i = 0; i < contested.size() && i < Listed; ++i) {
        text += "\n" + IPToStr(HostToNet(contested[i].IP)) + "：";
        for (std::size_t k = 0; k < contested[i].Macs.size(); ++k)
            text += (k == 0 ? "" : "，") + MacToColonStr(contested[i].Macs[k].data());
    }
    if (contested.size() > Listed) text += "\n……共" + std::to_string(contested.size()) + "个地址";
    QMessageBox box(QMessageBox::Warning, Q("提示"), QString::fromStdString(text), QMessageBox::Ok,
                    this);
    box.setTextFormat(Qt::PlainText);
    // The administrator may copy the addresses and MACs out of it.
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
