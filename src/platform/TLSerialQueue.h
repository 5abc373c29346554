#pragma once
#include <QString>

#include <functional>
#include <memory>

// One serial background queue: jobs run one after another on a worker thread; each job's
// completion is handed back to the main thread in order.
class TLSerialQueue {
public:
    virtual ~TLSerialQueue() = default;
    // Runs `work` on the queue, then `done` (when there is one) on the main thread.
    virtual void async(std::function<void()> work, std::function<void()> done) = 0;
};

// The real one, its worker thread named `label`.
std::unique_ptr<TLSerialQueue> TLMakeSerialQueue(const QString& label);
