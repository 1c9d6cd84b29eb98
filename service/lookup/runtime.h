#pragma once

#include <functional>

#include "service/lookup/task.h"
#include "service/lookup/taskcounter.h"
#include "service/lookup/timers.h"
#include "service/net/network.h"

// What look-ups run on: threads to resume on, the network, timers and the clock. The service's
// are real; a test hands in a queue it runs by hand, a fake network and a fake clock.
struct Runtime
{
    Executor& executor;
    Network& network;
    Timers& timers;
    TaskCounter& tasks; // every detached look-up and refresh, so that stopping can wait for them
    std::function<Clock::time_point()> now = Clock::now;

    // Awaits a network operation: start(done) begins it, and the coroutine resumes on the
    // executor with what done was given.
    template <typename T> Completion<T> await(std::function<void(std::function<void(T)>)> start)
    {
        return Completion<T>(executor, std::move(start));
    }
};
