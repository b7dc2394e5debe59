#include "SaveWriter.h"

#include <utility>

TSaveWriter::TSaveWriter(std::function<TSave()> snapshot, std::shared_ptr<TDispatcher> dispatcher)
    : snapshot_(std::move(snapshot)),
      dispatcher_(std::move(dispatcher)),
      self_(std::make_shared<TSaveWriter*>(this)),
      thread_([this] { Run(); }) {}

TSaveWriter::~TSaveWriter() {
    *self_ = nullptr;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void TSaveWriter::Changed() {
    dirty_ = true;
    if (!busy_) Launch();
}

void TSaveWriter::AfterSave(TDone done) {
    const std::uint64_t holding = dirty_ ? launched_ + 1 : launched_;
    if (holding <= completed_) {
        heard_ = completed_;
        done(last_);
        return;
    }
    waiting_.emplace_back(holding, std::move(done));
}

TSaveReport TSaveWriter::AwaitWritten() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return written_ == launched_; });
    busy_ = false;
    return writtenReport_;
}

std::optional<TSaveReport> TSaveWriter::Flush() {
    last_ = AwaitWritten();
    if (dirty_) {
        Launch();
        last_ = AwaitWritten();
    }
    completed_ = launched_;
    waiting_.clear();
    if (heard_ == launched_) return std::nullopt;
    heard_ = launched_;
    return last_;
}

void TSaveWriter::SetBeforeSave(std::function<void()> beforeSave) {
    std::lock_guard lock(mutex_);
    beforeSave_ = std::move(beforeSave);
}

// The snapshot is taken here, once per save rather than once per change.
void TSaveWriter::Launch() {
    TSave job = snapshot_();
    dirty_ = false;
    busy_ = true;
    {
        std::lock_guard lock(mutex_);
        job_ = std::move(job);
        jobGeneration_ = ++launched_;
    }
    wake_.notify_all();
}

void TSaveWriter::Saved(std::uint64_t generation, const TSaveReport& report) {
    if (generation <= completed_) return;  // already waited for by Flush
    completed_ = generation;
    last_ = report;
    busy_ = false;
    if (dirty_) Launch();
    std::vector<TDone> due;
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        if (it->first <= generation) {
            due.push_back(std::move(it->second));
            it = waiting_.erase(it);
        } else {
            ++it;
        }
    }
    if (!due.empty()) heard_ = generation;
    for (TDone& done : due) done(report);
}

void TSaveWriter::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return job_ || stop_; });
        if (!job_) return;
        TSave job = std::move(job_);
        job_ = nullptr;
        const std::uint64_t generation = jobGeneration_;
        std::function<void()> beforeSave = beforeSave_;
        lock.unlock();
        if (beforeSave) beforeSave();
        const TSaveReport report = job();
        dispatcher_->Queue([self = self_, generation, report] {
            if (*self != nullptr) (*self)->Saved(generation, report);
        });
        lock.lock();
        written_ = generation;
        writtenReport_ = report;
        done_.notify_all();
    }
}
