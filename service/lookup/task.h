#pragma once

// The coroutine types a look-up is written in. A Task starts when it is awaited and hands its value
// (or its exception) to the awaiting coroutine; Detached starts at once and belongs to nobody: it
// is the root of a look-up, whose body catches what its tasks throw.
//
// Mind one fault of GCC 12: a lambda written inside a co_await expression has its by-value
// captures destroyed twice. Give such a lambda a name first.

#include <coroutine>
#include <cstdio>
#include <exception>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

// Where coroutines resume: a pool of threads, or in tests a queue the test runs by hand. post
// never refuses and never runs the job inline.
class Executor
{
public:
    virtual ~Executor() = default;
    virtual void post(std::function<void()> job) = 0;

    void resume(std::coroutine_handle<> handle)
    {
        post([handle] { handle.resume(); });
    }
};

namespace detail {

// Symmetric transfer at a task's end: the awaiting coroutine goes on, on this thread, without
// growing the stack.
struct FinalAwaiter
{
    bool await_ready() noexcept { return false; }
    template <typename Promise>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<Promise> done) noexcept
    {
        const std::coroutine_handle<> next = done.promise().continuation;
        return next ? next : std::noop_coroutine();
    }
    void await_resume() noexcept { }
};

struct TaskPromiseBase
{
    std::coroutine_handle<> continuation;
    std::exception_ptr error;

    std::suspend_always initial_suspend() noexcept { return {}; }
    FinalAwaiter final_suspend() noexcept { return {}; }
    void unhandled_exception() noexcept { error = std::current_exception(); }
};

} // namespace detail

// What every Task is: the handle of a coroutine that has not begun, begun and then continued by
// whoever awaits it.
template <typename Promise> class TaskHandle
{
public:
    TaskHandle(TaskHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, {})) { }
    TaskHandle& operator=(TaskHandle&&) = delete;
    ~TaskHandle()
    {
        if (m_handle)
            m_handle.destroy();
    }

    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept
    {
        m_handle.promise().continuation = awaiting;
        return m_handle;
    }

protected:
    explicit TaskHandle(std::coroutine_handle<Promise> handle) : m_handle(handle) { }
    Promise& promise() const
    {
        if (m_handle.promise().error)
            std::rethrow_exception(m_handle.promise().error);
        return m_handle.promise();
    }

private:
    std::coroutine_handle<Promise> m_handle;
};

template <typename T> class Task;

template <typename T> struct TaskPromise : detail::TaskPromiseBase
{
    std::optional<T> value;

    Task<T> get_return_object();
    template <typename U> void return_value(U&& result) { value.emplace(std::forward<U>(result)); }
};

template <> struct TaskPromise<void> : detail::TaskPromiseBase
{
    Task<void> get_return_object();
    void return_void() { }
};

template <typename T = void> class [[nodiscard]] Task : public TaskHandle<TaskPromise<T>>
{
public:
    using promise_type = TaskPromise<T>;

    T await_resume()
    {
        if constexpr (std::is_void_v<T>)
            this->promise();
        else
            return std::move(*this->promise().value);
    }

private:
    friend promise_type;
    using TaskHandle<promise_type>::TaskHandle;
};

template <typename T> Task<T> TaskPromise<T>::get_return_object()
{
    return Task<T>(std::coroutine_handle<TaskPromise<T>>::from_promise(*this));
}

inline Task<void> TaskPromise<void>::get_return_object()
{
    return Task<void>(std::coroutine_handle<TaskPromise<void>>::from_promise(*this));
}

// A coroutine that runs from its call on and frees itself at its end. Its body must catch what
// it can; anything that escapes is logged, never the process's end.
struct Detached
{
    struct promise_type
    {
        Detached get_return_object() noexcept { return {}; }
        std::suspend_never initial_suspend() noexcept { return {}; }
        std::suspend_never final_suspend() noexcept { return {}; }
        void return_void() noexcept { }
        void unhandled_exception() noexcept
        {
            std::fputs("domain-whois-service: a task ended by an exception\n", stderr);
        }
    };
};

// Awaits an operation that reports once through a callback, from any thread and possibly before
// it returns: the coroutine then resumes on the executor with the result. start is called as
// start(std::function<void(T)> done).
template <typename T> class Completion
{
public:
    Completion(Executor& executor, std::function<void(std::function<void(T)>)> start)
        : m_executor(executor), m_start(std::move(start))
    { }

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        // Once started, this awaiter may be resumed and gone on another thread before start
        // returns: nothing of it is touched after.
        const auto start = std::move(m_start);
        start([this, handle](T result) {
            m_result.emplace(std::move(result));
            m_executor.resume(handle);
        });
    }
    T await_resume() { return std::move(*m_result); }

private:
    Executor& m_executor;
    std::function<void(std::function<void(T)>)> m_start;
    std::optional<T> m_result;
};
