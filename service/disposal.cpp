#include "service/disposal.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

class Disposer
{
public:
    ~Disposer()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    void push(std::shared_ptr<void> object)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_objects.push_back(std::move(object));
            if (!m_thread.joinable())
                m_thread = std::thread([this] { run(); });
        }
        m_wake.notify_all();
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stopping || !m_objects.empty(); });
            if (m_objects.empty())
                return;
            std::shared_ptr<void> object = std::move(m_objects.front());
            m_objects.pop_front();
            lock.unlock();
            object.reset();
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::shared_ptr<void>> m_objects;
    bool m_stopping = false;
    std::thread m_thread;
};

Disposer &disposer()
{
    static Disposer instance;
    return instance;
}

} // namespace

void Disposal::push(std::shared_ptr<void> object)
{
    disposer().push(std::move(object));
}
