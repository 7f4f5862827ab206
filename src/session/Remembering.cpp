#include "Remembering.h"

#include "KnownAddress.h"

#include <utility>

namespace nasfinder
{
Remembering::Remembering(nasknown::KnownStore store, bool write, FindLinks findLinks)
    : m_store(std::move(store)), m_write(write), m_findLinks(std::move(findLinks))
{
}

Remembering::~Remembering()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_pending.reset();
    }
    m_changed.notify_all();
    if (m_worker.joinable())
        m_worker.join();
}

std::uint64_t Remembering::Submit(std::vector<nasknown::KnownDevice> sightings,
                                  std::chrono::milliseconds resolveFor)
{
    std::uint64_t number = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        number = ++m_submitted;
        m_pending = Job{std::move(sightings), resolveFor, number};
        if (!m_worker.joinable())
            m_worker = std::thread(&Remembering::Work, this);
    }
    m_changed.notify_all();
    return number;
}

std::optional<Memory> Remembering::Take()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::optional<Memory> done = std::move(m_done);
    m_done.reset();
    return done;
}

void Remembering::Wait()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_running && !m_pending; });
}

void Remembering::Work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;)
    {
        m_changed.wait(lock, [this] { return m_stopping || m_pending; });
        if (m_stopping)
            return;
        Job job = std::move(*m_pending);
        m_pending.reset();
        m_running = true;
        lock.unlock();
        Memory memory = Run(std::move(job));
        lock.lock();
        m_running = false;
        m_done = std::move(memory);
        m_changed.notify_all();
    }
}

Memory Remembering::Run(Job job) const
{
    Memory memory;
    memory.job = job.number;
    m_findLinks(job.sightings, job.resolveFor);
    if (m_write)
    {
        memory.store = m_store.Update([&job](std::vector<nasknown::KnownDevice>& list)
                                      { nasknown::Remember(list, job.sightings); },
                                      &memory.known);
    }
    else
    {
        // What the store would keep, though nothing is written.
        memory.store = m_store.Load(memory.known);
        nasknown::Remember(memory.known, job.sightings);
        std::vector<LocalInterface> local;
        ListLocalInterfaces(local);
        const std::vector<std::string> dropped = nasknown::DropImpossibleAddresses(memory.known, local);
        memory.store.notKept.insert(memory.store.notKept.end(), dropped.begin(), dropped.end());
    }
    return memory;
}
} // namespace nasfinder
