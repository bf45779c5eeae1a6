#include "objects.h"

#include <hbr_platform_fault.h>

#include <chrono>
#include <list>
#include <thread>

using namespace hbr;

namespace {

using Clock = std::chrono::steady_clock;

struct TimerQueue;

struct Timer : Object {
    Timer() : Object(ObjectType::Timer) {}
    WAITORTIMERCALLBACK callback = nullptr;
    PVOID parameter = nullptr;
    DWORD period = 0;
    Clock::time_point next;
    bool running = false; // a callback is in flight
    bool done = false;    // deleted, or a one-shot that fired
    TimerQueue *queue = nullptr;
    HANDLE handle = nullptr;
};

struct TimerQueue : Object {
    TimerQueue() : Object(ObjectType::TimerQueue) {}
    std::mutex lock;
    std::condition_variable cond;
    std::list<std::shared_ptr<Timer>> timers;
    bool stopping = false;
    std::thread worker;
    std::thread::id workerId;

    void Run()
    {
        std::unique_lock<std::mutex> guard(lock);
        while (!stopping) {
            std::shared_ptr<Timer> due;
            for (auto &t : timers) {
                if (!t->done && (!due || t->next < due->next)) {
                    due = t;
                }
            }
            if (!due) {
                cond.wait(guard);
                continue;
            }
            if (Clock::now() < due->next) {
                cond.wait_until(guard, due->next);
                continue; // timers may have changed meanwhile
            }
            due->running = true;
            guard.unlock();
            due->callback(due->parameter, TRUE);
            guard.lock();
            due->running = false;
            if (due->period == 0) {
                due->done = true;
            } else {
                // Ticks missed while the callback overran are skipped.
                auto now = Clock::now();
                auto period = std::chrono::milliseconds(due->period);
                due->next += period;
                while (due->next <= now) {
                    due->next += period;
                }
            }
            cond.notify_all();
        }
    }
};

bool OnQueueThread(const TimerQueue &q)
{
    return std::this_thread::get_id() == q.workerId;
}

// The queue of a delete call: only blocking deletes are supported, and
// never from the queue's own thread, where waiting would never end.
std::shared_ptr<TimerQueue> QueueForDelete(HANDLE queue, HANDLE completionEvent)
{
    if (completionEvent != INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto q = LookupAs<TimerQueue>(queue, ObjectType::TimerQueue);
    if (q && OnQueueThread(*q)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return q;
}

} // namespace

extern "C" HANDLE WINAPI CreateTimerQueue(void)
{
    if (FaultHit(HBR_FAULT_CREATE_TIMER_QUEUE)) {
        return nullptr;
    }
    auto q = std::make_shared<TimerQueue>();
    TimerQueue *raw = q.get();
    {
        std::lock_guard<std::mutex> guard(q->lock);
        try {
            q->worker = std::thread([raw] { raw->Run(); });
        } catch (...) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        q->workerId = q->worker.get_id();
    }
    return InsertHandle(q);
}

extern "C" BOOL WINAPI CreateTimerQueueTimer(PHANDLE phNewTimer, HANDLE TimerQueueHandle,
                                             WAITORTIMERCALLBACK Callback, PVOID Parameter, DWORD DueTime,
                                             DWORD Period, ULONG Flags)
{
    if (phNewTimer == nullptr || Callback == nullptr || Flags != WT_EXECUTEDEFAULT) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto q = LookupAs<TimerQueue>(TimerQueueHandle, ObjectType::TimerQueue);
    if (!q) {
        return FALSE;
    }
    if (FaultHit(HBR_FAULT_CREATE_TIMER_QUEUE_TIMER)) {
        return FALSE;
    }
    auto t = std::make_shared<Timer>();
    t->callback = Callback;
    t->parameter = Parameter;
    t->period = Period;
    t->queue = q.get();
    t->next = Clock::now() + std::chrono::milliseconds(DueTime);
    HANDLE h = InsertHandle(t);
    t->handle = h;
    {
        std::lock_guard<std::mutex> guard(q->lock);
        if (q->stopping) {
            RemoveHandle(h, ObjectType::Timer);
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        q->timers.push_back(t);
        q->cond.notify_all();
    }
    *phNewTimer = h;
    return TRUE;
}

extern "C" BOOL WINAPI DeleteTimerQueueTimer(HANDLE TimerQueueHandle, HANDLE TimerHandle, HANDLE CompletionEvent)
{
    auto q = QueueForDelete(TimerQueueHandle, CompletionEvent);
    if (!q) {
        return FALSE;
    }
    auto t = LookupAs<Timer>(TimerHandle, ObjectType::Timer);
    if (!t || t->queue != q.get()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!RemoveHandle(TimerHandle, ObjectType::Timer)) {
        return FALSE; // deleted concurrently by another thread
    }
    std::unique_lock<std::mutex> guard(q->lock);
    t->done = true;
    q->cond.wait(guard, [&] { return !t->running; });
    q->timers.remove(t);
    q->cond.notify_all();
    return TRUE;
}

extern "C" BOOL WINAPI DeleteTimerQueueEx(HANDLE TimerQueueHandle, HANDLE CompletionEvent)
{
    auto q = QueueForDelete(TimerQueueHandle, CompletionEvent);
    if (!q) {
        return FALSE;
    }
    if (!RemoveHandle(TimerQueueHandle, ObjectType::TimerQueue)) {
        return FALSE;
    }
    std::list<std::shared_ptr<Timer>> timers;
    {
        std::unique_lock<std::mutex> guard(q->lock);
        for (auto &t : q->timers) {
            t->done = true;
        }
        q->cond.wait(guard, [&] {
            for (auto &t : q->timers) {
                if (t->running) {
                    return false;
                }
            }
            return true;
        });
        q->stopping = true;
        timers.swap(q->timers);
        q->cond.notify_all();
    }
    q->worker.join();
    // Timer handles that were not deleted one by one die with the queue.
    for (auto &t : timers) {
        RemoveHandle(t->handle, ObjectType::Timer);
    }
    return TRUE;
}
