// The thread of a file's own that the transcript and the recording write
// from. It starts with the first piece of work rather than with its owner,
// so that a run forks its child before any thread exists; where no thread can
// start, the owner writes on its own thread instead.
#pragma once

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

namespace vtsnap {

class WriterThread {
public:
    WriterThread() = default;
    WriterThread(const WriterThread&) = delete;
    WriterThread& operator=(const WriterThread&) = delete;

    // Starts `body` unless it runs already. False when there is no thread,
    // now or for good: the owner writes itself.
    template <class Body>
    bool start(Body&& body) {
        if (thread_.joinable()) return true;
        if (none_) return false;
        try {
            thread_ = std::thread(std::forward<Body>(body));
            return true;
        } catch (const std::exception&) {
            none_ = true;
            return false;
        }
    }

    // Sets `stop` under `mutex`, wakes the thread through `wake` and waits for
    // it to end. From then on there is no thread: start() returns false.
    void stop(std::mutex& mutex, bool& stop, std::condition_variable& wake) {
        none_ = true;
        if (!thread_.joinable()) return;
        {
            std::lock_guard<std::mutex> guard(mutex);
            stop = true;
        }
        wake.notify_one();
        thread_.join();
    }

private:
    std::thread thread_;
    bool none_ = false;
};

}  // namespace vtsnap
