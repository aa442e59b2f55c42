#include "online/Background.h"

namespace crenovix {

void CBackgroundJob::Start(BackgroundWork work) {
    Stop();
    cancel_ = std::make_unique<CCancelToken>();
    {
        const std::lock_guard lock(mutex_);
        busy_ = true;
        stopped_ = false;
    }
    thread_ = std::thread([this, work = std::move(work), cancel = cancel_.get()] {
        std::function<void()> answer = work(*cancel);
        {
            const std::lock_guard lock(mutex_);
            if (stopped_) {
                return; // the window no longer waits for it
            }
            answer_ = answer ? std::move(answer) : [] {};
        }
        wake_();
    });
}

void CBackgroundJob::Deliver() {
    std::function<void()> answer;
    {
        const std::lock_guard lock(mutex_);
        if (!answer_) {
            return;
        }
        answer = std::move(answer_);
        answer_ = nullptr;
        busy_ = false;
    }
    if (thread_.joinable()) {
        thread_.join(); // it has handed over its answer and is ending
    }
    answer();
}

void CBackgroundJob::Stop() {
    if (cancel_ != nullptr) {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
        cancel_->Cancel();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    const std::lock_guard lock(mutex_);
    answer_ = nullptr;
    busy_ = false;
}

void CBackgroundJob::Cancel() {
    if (cancel_ != nullptr) {
        cancel_->Cancel();
    }
}

bool CBackgroundJob::Busy() const {
    const std::lock_guard lock(mutex_);
    return busy_;
}

void CWindowQueue::Post(std::function<void()> call) {
    bool first = false;
    {
        const std::lock_guard lock(mutex_);
        first = calls_.empty();
        calls_.push_back(std::move(call));
    }
    if (first) {
        wake_(); // one wake for everything posted until the window's thread comes round
    }
}

void CWindowQueue::Deliver() {
    std::deque<std::function<void()>> calls;
    {
        const std::lock_guard lock(mutex_);
        calls.swap(calls_);
    }
    for (const std::function<void()>& call : calls) {
        call();
    }
}

} // namespace crenovix
