// A background queue: each operation runs once on a worker thread of its own.
// Used from one thread only; waiting (and destruction) joins every worker, so
// whatever an operation wrote is visible to the waiting thread afterwards.
#ifndef NASFINDER_OPERATIONQUEUE_H
#define NASFINDER_OPERATIONQUEUE_H

#include <functional>
#include <thread>
#include <vector>

class OperationQueue
{
public:
    OperationQueue() = default;
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;
    ~OperationQueue() { waitUntilAllOperationsAreFinished(); }

    void addOperation(std::function<void()> operation) { workers.emplace_back(std::move(operation)); }
    void waitUntilAllOperationsAreFinished()
    {
        for (std::thread& worker : workers)
        {
            if (worker.joinable())
                worker.join();
        }
    }

private:
    std::vector<std::thread> workers;
};

#endif
