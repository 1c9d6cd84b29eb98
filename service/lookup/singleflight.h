#pragma once

#include <coroutine>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

#include <QString>

#include "service/lookup/task.h"

// Look-ups asking the same question at once cause one asking: the first runs it, the others wait
// for its answer without a thread, and all go on with it.
template <typename V> class SingleFlight
{
public:
    explicit SingleFlight(Executor& executor) : m_executor(executor) { }

    Task<V> run(QString key, std::function<Task<V>()> work)
    {
        Join join(*this, key);
        co_await join;
        if (!join.leads) {
            if (join.error)
                std::rethrow_exception(join.error);
            co_return std::move(*join.value);
        }
        std::optional<V> value;
        std::exception_ptr error;
        try {
            Task<V> task = work();
            value.emplace(co_await task);
        } catch (...) {
            error = std::current_exception();
        }
        std::vector<Join*> waiting;
        {
            const std::lock_guard lock(m_mutex);
            auto flight = m_flights.find(key);
            waiting.swap(flight->second);
            m_flights.erase(flight);
        }
        for (Join* other : waiting) {
            other->value = value;
            other->error = error;
            m_executor.resume(other->handle);
        }
        if (error)
            std::rethrow_exception(error);
        co_return std::move(*value);
    }

    // Questions being asked now, for tests.
    size_t flying() const
    {
        const std::lock_guard lock(m_mutex);
        return m_flights.size();
    }

private:
    struct Join
    {
        Join(SingleFlight& flights, const QString& key) : flights(flights), key(key) { }

        bool await_ready() const noexcept { return false; }
        bool await_suspend(std::coroutine_handle<> waiting)
        {
            const std::lock_guard lock(flights.m_mutex);
            const auto flight = flights.m_flights.find(key);
            if (flight == flights.m_flights.end()) {
                flights.m_flights.emplace(key, std::vector<Join*> {});
                leads = true;
                return false;
            }
            handle = waiting;
            flight->second.push_back(this);
            return true;
        }
        void await_resume() const noexcept { }

        SingleFlight& flights;
        const QString& key;
        bool leads = false;
        std::coroutine_handle<> handle;
        std::optional<V> value;
        std::exception_ptr error;
    };

    Executor& m_executor;
    mutable std::mutex m_mutex;
    std::map<QString, std::vector<Join*>> m_flights;
};
