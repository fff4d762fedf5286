// Running a piece of work that might never end (a read blocked on a pipe)
// without letting it hold the test for ever.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace ps_test {

// Runs work on a thread of its own and waits at most limit for it: its
// result, or nothing when it has not ended. The thread is then left to
// itself (work must own what it uses); unblock, when given, is called to
// free it.
template <typename T>
std::optional<T> RunWithin(std::chrono::seconds limit, std::function<T()> work,
                           const std::function<void()>& unblock = {})
{
    auto result = std::make_shared<std::promise<T>>();
    std::future<T> done = result->get_future();
    std::thread([work = std::move(work), result] { result->set_value(work()); }).detach();
    if (done.wait_for(limit) != std::future_status::ready) {
        if (unblock)
            unblock();
        return std::nullopt;
    }
    return done.get();
}

// Frees a reader blocked in opening the FIFO at path: opens and closes its
// writing end.
inline void OpenOtherEnd(const std::string& path)
{
    const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0)
        ::close(writer);
}

}  // namespace ps_test
