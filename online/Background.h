// Network work that a window must not wait for: the start-up version check and the download
// window's catalogue fetch run off the window's thread, and only their answer comes back to it.
//
// A BackgroundWork runs on a thread of its own, gets the token that ends it, and answers what
// the window's thread is to do with the result (empty: nothing). CBackgroundJob is what a
// toolkit's window keeps for it: `wake` is called on the work's thread when an answer waits, and
// must make the window's thread call Deliver() soon (a queued call, a posted message). Stop()
// cancels the work and waits for it, which the downloaders bound to kCancelPollMs, and drops an
// answer that was not delivered, with what it holds (a fetched catalogue's file goes with it); a
// window stops its job when it closes. Cancel() only sets the work's token and returns at once:
// the work ends soon and its answer still comes (a download's Cancel button).
#pragma once

#include "online/Downloader.h"

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace crenovix {

using BackgroundWork = std::function<std::function<void()>(const CCancelToken& cancel)>;

class CBackgroundJob {
public:
    explicit CBackgroundJob(std::function<void()> wake) : wake_(std::move(wake)) {}
    ~CBackgroundJob() { Stop(); }
    CBackgroundJob(const CBackgroundJob&) = delete;
    CBackgroundJob& operator=(const CBackgroundJob&) = delete;

    // Stops the work before, if any, then starts this one.
    void Start(BackgroundWork work);
    // On the window's thread: runs the waiting answer, if any.
    void Deliver();
    void Stop();
    // Asks the work to end, without waiting; its answer is delivered as usual.
    void Cancel();
    // True from Start until the answer has been delivered or the job stopped.
    bool Busy() const;

private:
    std::function<void()> wake_;
    mutable std::mutex mutex_;
    std::function<void()> answer_;
    bool busy_ = false;
    bool stopped_ = false; // the answer of the work under way is not wanted
    std::unique_ptr<CCancelToken> cancel_;
    std::thread thread_;
};

// Calls handed from other threads to the window's thread, run there in the order they were
// posted: the events of an update run on its worker thread. `wake` is called on the posting
// thread and must make the window's thread call Deliver() soon (a posted message); calls posted
// meanwhile are delivered together.
class CWindowQueue {
public:
    explicit CWindowQueue(std::function<void()> wake) : wake_(std::move(wake)) {}
    CWindowQueue(const CWindowQueue&) = delete;
    CWindowQueue& operator=(const CWindowQueue&) = delete;

    void Post(std::function<void()> call);
    // On the window's thread: runs every call waiting.
    void Deliver();

private:
    std::function<void()> wake_;
    std::mutex mutex_;
    std::deque<std::function<void()>> calls_;
};

} // namespace crenovix
