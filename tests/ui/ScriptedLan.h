// A scripted local link for window tests: which addresses answer, with which MAC, where a probe
// blocks until released or cancelled, and a log of the addresses probed (host order).
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "ArpProbe.h"
#include "UTypes.h"

class TScriptedLan {
  public:
    void Answer(std::uint32_t hostIP, const TMacAddr& mac) {
        std::lock_guard lock(mutex_);
        answers_[hostIP] = mac;
    }
    // Different MACs answer for hostIP: the probe hands it off as not found and tells it as
    // contested.
    void Contest(std::uint32_t hostIP, std::vector<TMacAddr> macs) {
        std::lock_guard lock(mutex_);
        contests_[hostIP] = std::move(macs);
    }
    // The probe of hostIP waits until Release() or the probe's Cancel().
    void BlockAt(std::uint32_t hostIP) {
        std::lock_guard lock(mutex_);
        blockAt_ = hostIP;
        released_ = false;
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    // What the probes say kept them from asking, at the scan's end.
    void Fault(TProbeFault fault) {
        std::lock_guard lock(mutex_);
        fault_ = std::move(fault);
    }
    // Runs on the worker's thread at each probe, before it answers.
    void OnProbe(std::function<void(std::uint32_t)> fn) {
        std::lock_guard lock(mutex_);
        onProbe_ = std::move(fn);
    }
    bool Blocked() const {
        std::lock_guard lock(mutex_);
        return blocked_;
    }
    bool Cancelled() const {
        std::lock_guard lock(mutex_);
        return cancelled_;
    }
    int ProbesAlive() const {
        std::lock_guard lock(mutex_);
        return probesAlive_;
    }
    std::vector<std::uint32_t> Probed() const {
        std::lock_guard lock(mutex_);
        return probed_;
    }

  private:
    friend class TScriptedProbe;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::uint32_t, TMacAddr> answers_;
    std::map<std::uint32_t, std::vector<TMacAddr>> contests_;
    std::optional<std::uint32_t> blockAt_;
    std::function<void(std::uint32_t)> onProbe_;
    std::vector<std::uint32_t> probed_;
    TProbeFault fault_;
    bool released_ = false;
    bool blocked_ = false;
    bool cancelled_ = false;
    int probesAlive_ = 0;
};

class TScriptedProbe : public TArpProbe {
  public:
    explicit TScriptedProbe(std::shared_ptr<TScriptedLan> lan) : lan_(std::move(lan)) {
        std::lock_guard lock(lan_->mutex_);
        ++lan_->probesAlive_;
    }
    ~TScriptedProbe() override {
        std::lock_guard lock(lan_->mutex_);
        --lan_->probesAlive_;
    }

    bool SendArp(std::uint32_t wireIP, std::uint8_t* mac) override {
        const std::uint32_t host = NetToHost(wireIP);
        std::unique_lock lock(lan_->mutex_);
        lan_->probed_.push_back(host);
        if (auto fn = lan_->onProbe_) {
            lock.unlock();
            fn(host);
            lock.lock();
        }
        if (lan_->blockAt_ == host) {
            lan_->blocked_ = true;
            lan_->changed_.wait(lock, [&] { return lan_->released_ || lan_->cancelled_; });
            lan_->blocked_ = false;
        }
        if (auto c = lan_->contests_.find(host); c != lan_->contests_.end()) {
            contested_.push_back({host, c->second});
            return false;
        }
        // A woken probe still answers when the host is scripted: a late answer.
        auto it = lan_->answers_.find(host);
        if (it == lan_->answers_.end()) return false;
        std::copy(it->second.begin(), it->second.end(), mac);
        return true;
    }

    std::vector<TContested> TakeContested() override { return std::exchange(contested_, {}); }

    void Cancel() override {
        std::lock_guard lock(lan_->mutex_);
        lan_->cancelled_ = true;
        lan_->changed_.notify_all();
    }
    TProbeFault TakeFault() override {
        std::lock_guard lock(lan_->mutex_);
        return lan_->fault_;
    }

  private:
    std::shared_ptr<TScriptedLan> lan_;
    std::vector<TContested> contested_;
};

inline std::function<std::unique_ptr<TArpProbe>()> MakeProbeFactory(
    const std::shared_ptr<TScriptedLan>& lan) {
    return [lan] { return std::make_unique<TScriptedProbe>(lan); };
}

// Answers every modal message box that opens while it lives, and remembers what it said.
class TBoxCatcher {
  public:
    TBoxCatcher() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible()) return;
            Titles << box->windowTitle();
            Texts << box->text();
            Icons.push_back(box->icon());
            Formats.push_back(box->textFormat());
            box->done(QMessageBox::Ok);
        });
        timer_.start();
    }

    QStringList Titles;
    QStringList Texts;
    std::vector<QMessageBox::Icon> Icons;
    std::vector<Qt::TextFormat> Formats;

  private:
    QTimer timer_;
};
