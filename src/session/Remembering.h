// Remembering the devices that answered, off the thread that drives the
// search: the kernel may take a moment to learn a device's MAC, and the
// store's lock may be held by another program, and neither may hold up a
// window's ticks or a watch's sends. One job runs at a time; a job asked for
// while one runs waits, and a newer one replaces it, since only the latest
// list of answers matters.
#ifndef NASFINDER_REMEMBERING_H
#define NASFINDER_REMEMBERING_H

#include "KnownDevices.h"
#include "KnownStore.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace nasfinder
{
// Finds the interface and MAC of the devices that answered, waiting at most
// the given time for the kernel to learn missing MACs.
using FindLinks = std::function<void(std::vector<nasknown::KnownDevice>&, std::chrono::milliseconds)>;

// What a job left: the known devices afterwards, and what became of the store.
struct Memory
{
    std::vector<nasknown::KnownDevice> known;
    nasknown::StoreResult store;
    std::uint64_t job = 0; // the number Submit gave its job
};

class Remembering
{
public:
    // write false: the store is read and the list updated in memory only.
    Remembering(nasknown::KnownStore store, bool write, FindLinks findLinks);
    ~Remembering();
    Remembering(const Remembering&) = delete;
    Remembering& operator=(const Remembering&) = delete;

    // Remembers these sightings, their links and MACs found first. Returns
    // the job's number, counted from 1.
    std::uint64_t Submit(std::vector<nasknown::KnownDevice> sightings, std::chrono::milliseconds resolveFor);
    // What the last finished job left, once; nothing while none has finished
    // since the last call.
    std::optional<Memory> Take();
    // Until no job runs or waits.
    void Wait();

private:
    struct Job
    {
        std::vector<nasknown::KnownDevice> sightings;
        std::chrono::milliseconds resolveFor{};
        std::uint64_t number = 0;
    };
    void Work();
    Memory Run(Job job) const;

    const nasknown::KnownStore m_store;
    const bool m_write;
    const FindLinks m_findLinks;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<Job> m_pending;  // guarded by m_mutex
    bool m_running = false;        // guarded by m_mutex
    std::uint64_t m_submitted = 0; // guarded by m_mutex
    bool m_stopping = false;       // guarded by m_mutex
    std::optional<Memory> m_done;  // guarded by m_mutex
    std::thread m_worker;          // started with the first job
};
} // namespace nasfinder

#endif
