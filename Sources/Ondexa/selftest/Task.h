#pragma once

// The one way the built-in tests wait: a C++20 coroutine on the main thread.
// A test is a `Task`; inside it, `co_await` another Task, a fixed wait
// (`delay`) or an operation that ends by calling a completion (`completion`).
// Every resumption comes from the Qt event loop as a queued call, never from
// inside the operation that finished: the test may then destroy the object
// whose callback it was. Nothing sleeps and no nested event loop runs.
//
// Coroutine parameters: take them BY VALUE (paths, lists). A reference
// parameter would dangle once the caller's temporary is gone; AppState& and
// other objects that outlive the task are the exception.
//
//     Task fadeTest(AppState& state, std::filesystem::path source, std::filesystem::path folder)
//     {
//         EditorModel model(source);
//         co_await loaded(model);
//         co_await delay(4.0);
//         const bool ok = co_await exported(model, folder / "fade.mp4", options);
//         ...
//     }

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace ondexa::selftest {

// Calls `step` from the main thread's event loop, after what it holds now.
void post(std::function<void()> step);

namespace detail {
// Launched tasks still running. When the application quits, those left are
// destroyed with everything they await, and the epoch moves on: a wait that
// began in an earlier epoch never resumes.
void forgetLaunched(void* frame);
unsigned long epoch();
} // namespace detail

class [[nodiscard]] Task {
public:
    struct promise_type {
        std::coroutine_handle<> continuation;  // the awaiting task, if any
        std::function<void()> whenDetachedEnds;
        bool detached = false;
        std::exception_ptr failure;

        Task get_return_object() { return Task(std::coroutine_handle<promise_type>::from_promise(*this)); }
        // Lazy: runs when awaited or launched.
        std::suspend_always initial_suspend() noexcept { return {}; }
        struct FinalAwaiter {
            bool await_ready() noexcept { return false; }
            std::coroutine_handle<> await_suspend(std::coroutine_handle<promise_type> handle) noexcept
            {
                promise_type& promise = handle.promise();
                if (promise.continuation) return promise.continuation;
                if (promise.detached) {
                    detail::forgetLaunched(handle.address());
                    auto done = std::move(promise.whenDetachedEnds);
                    handle.destroy();
                    if (done) done();
                }
                return std::noop_coroutine();
            }
            void await_resume() noexcept {}
        };
        FinalAwaiter final_suspend() noexcept { return {}; }
        void return_void() {}
        void unhandled_exception() { failure = std::current_exception(); }
    };

    Task(Task&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
    Task& operator=(Task&& other) noexcept
    {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, {});
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() { reset(); }

    // Awaiting starts the task and resumes the awaiter when it ends; an
    // exception that left the task is thrown again here.
    bool await_ready() const noexcept { return !handle_ || handle_.done(); }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept
    {
        handle_.promise().continuation = awaiting;
        return handle_;
    }
    void await_resume()
    {
        if (handle_ && handle_.promise().failure) std::rethrow_exception(handle_.promise().failure);
    }

    friend void launch(Task task, std::function<void()> done);

private:
    explicit Task(std::coroutine_handle<promise_type> handle) : handle_(handle) {}
    void reset()
    {
        if (handle_) handle_.destroy();
        handle_ = {};
    }
    std::coroutine_handle<promise_type> handle_;
};

// Runs the task on its own, from now until its first suspension; it frees
// itself when it ends and then calls `done` (also when it failed: an escaping
// exception is dropped there, `done` still runs). A task still running when
// the application quits is destroyed without `done`.
void launch(Task task, std::function<void()> done = {});

// Suspends the task for `seconds` of wall-clock time (a QTimer on the main
// thread). A negative or non-finite time waits for nothing but the loop.
class Delay {
public:
    explicit Delay(double seconds) : seconds_(seconds) {}
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) const;
    void await_resume() const noexcept {}

private:
    double seconds_;
};
inline Delay delay(double seconds) { return Delay(seconds); }

// Suspends until the started operation calls the completion it was given;
// the completion's value (if any) is what `co_await` gives. A completion that
// comes before `start` returns still resumes through the event loop; a second
// call is ignored.
//
//     bool written = co_await completion<bool>([&](auto done) { model.exportTo(file, options, done); });
template <typename T = void>
class Completion {
    struct State {
        std::optional<T> value;
        std::coroutine_handle<> handle;
        bool called = false;
    };

public:
    using Done = std::function<void(T)>;
    explicit Completion(std::function<void(Done)> start) : start_(std::move(start)) {}

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        state_->handle = handle;
        start_([state = state_, epoch = detail::epoch()](T value) {
            if (state->called) return;
            state->called = true;
            state->value.emplace(std::move(value));
            post([state, epoch] {
                if (detail::epoch() == epoch) state->handle.resume();
            });
        });
    }
    T await_resume() { return std::move(*state_->value); }

private:
    std::function<void(Done)> start_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

template <>
class Completion<void> {
    struct State {
        std::coroutine_handle<> handle;
        bool called = false;
    };

public:
    using Done = std::function<void()>;
    explicit Completion(std::function<void(Done)> start) : start_(std::move(start)) {}

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        state_->handle = handle;
        start_([state = state_, epoch = detail::epoch()] {
            if (state->called) return;
            state->called = true;
            post([state, epoch] {
                if (detail::epoch() == epoch) state->handle.resume();
            });
        });
    }
    void await_resume() const noexcept {}

private:
    std::function<void(Done)> start_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

template <typename T = void, typename Start>
Completion<T> completion(Start start)
{
    return Completion<T>(std::function<void(typename Completion<T>::Done)>(std::move(start)));
}

} // namespace ondexa::selftest
