#pragma once

// A few threads that run jobs in the order they came: the gateway's
// searches wait on them while the upstream is asked, their connections
// suspended, so that no server thread waits on the network.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class JobQueue
{
public:
    // Throws std::system_error, with none left running, when the system
    // will not start them all.
    explicit JobQueue(int count)
    {
        try {
            for (int i = 0; i < count; ++i)
                m_threads.emplace_back([this] { work(); });
        } catch (...) {
            shutdown();
            throw;
        }
    }
    ~JobQueue() { shutdown(); }

    JobQueue(const JobQueue &) = delete;
    JobQueue &operator=(const JobQueue &) = delete;

    // False once shutting down: the job is not run.
    bool enqueue(std::function<void()> job)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping)
                return false;
            m_jobs.push_back(std::move(job));
        }
        m_ready.notify_one();
        return true;
    }

    void shutdown()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_ready.notify_all();
        for (std::thread &thread : m_threads) {
            if (thread.joinable())
                thread.join();
        }
        m_threads.clear();
    }

private:
    void work()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_ready.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
                if (m_jobs.empty())
                    return;
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            job();
        }
    }

    std::vector<std::thread> m_threads;
    std::deque<std::function<void()>> m_jobs;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    bool m_stopping = false;
};
