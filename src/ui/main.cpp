#include "main.h"

#include <QMessageBox>
#include <QScreen>
#include <climits>

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
    "无法读取地址列表文件“ArpList.ini”。\n为保护其中的地址，本次运行不会改写该文件。";

namespace {

std::unique_ptr<Ui::QuorvelForm> MakeControls(QWidget* form) {
    PrepareLook();
    auto ui = std::make_unique<Ui::QuorvelForm>();
    ui->setupUi(form);
    return ui;
}

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

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
        if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
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
        QMessageBox box(QMessageBox::Information, Q("提示"), Q(RangeMessage), QMessageBox::Ok,
                        this);
        box.exec();
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

void TQuorvelForm::D1Click() { table_.DeleteSelected(); }

void TQuorvelForm::ListView1ContextPopup(const QPoint& pos) {
    ui_->PopupMenu1->popup(ui_->ListView1->viewport()->mapToGlobal(pos));
}

void TQuorvelForm::ScanStep() {
    if (Found) table_.MergeFound(CurrentIP, MacAddr);
    ui_->IPEdit1->SetText(QString::fromStdString(IPToStr(HostToNet(CurrentIP + 1))));
    StepProgress();
}

void TQuorvelForm::ScanDone() {
    std::vector<TContested> contested;
    if (ScanThread != nullptr) contested = ScanThread->Contested();
    ScanThread = nullptr;
    ui_->BtStart->setEnabled(true);
    ui_->BtStop->setEnabled(false);
    progressDone_ = 0;
    ui_->ProgressBar1->setValue(0);
    ReportContested(contested);
}

void TQuorvelForm::StepProgress() {
    ++progressDone_;
    ui_->ProgressBar1->setValue(static_cast<int>(progressDone_ >> progressShift_));
}

void TQuorvelForm::ReportUnreadableList() {
    QMessageBox::warning(this, Q("提示"), Q(UnreadableListMessage));
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
