#include "QtParallelBackend.h"

#include "ThreadScheduling.h"

#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>

namespace {

thread_local int t_ThreadNum = 0;

// One loop: its tasks handed out in chunks to whichever thread asks first. A helper that starts
// after the loop has ended finds nothing left and touches nothing but this shared state.
class Loop
{
public:
    using Body = cv::parallel::ParallelForAPI::FN_parallel_for_body_cb_t;

    Loop(int tasks, int threads, Body body, void *data)
        : m_Tasks(tasks)
        , m_Chunk(std::max(1, tasks / (threads * 4)))
        , m_Body(body)
        , m_Data(data)
    {
    }

    void work(int threadNum)
    {
        const int outer = t_ThreadNum;
        t_ThreadNum = threadNum;
        for (int start; (start = m_Next.fetch_add(m_Chunk)) < m_Tasks;) {
            const int end = std::min(m_Tasks, start + m_Chunk);
            std::exception_ptr error;
            try {
                m_Body(start, end, m_Data);
            } catch (...) {
                error = std::current_exception();
            }
            const std::lock_guard<std::mutex> lock(m_Mutex);
            if (error && !m_Error)
                m_Error = error;
            m_Done += end - start;
            if (m_Done == m_Tasks)
                m_Finished.notify_all();
        }
        t_ThreadNum = outer;
    }

    // Waits until every task has run; the first failure is thrown here, on the caller's thread.
    void finish()
    {
        std::unique_lock<std::mutex> lock(m_Mutex);
        m_Finished.wait(lock, [this] { return m_Done == m_Tasks; });
        if (m_Error)
            std::rethrow_exception(m_Error);
    }

private:
    const int m_Tasks;
    const int m_Chunk;
    const Body m_Body;
    void *const m_Data;
    std::atomic<int> m_Next{0};
    std::mutex m_Mutex;
    std::condition_variable m_Finished;
    int m_Done = 0;
    std::exception_ptr m_Error;
};

} // namespace

QtParallelBackend::QtParallelBackend(int threads)
{
    setNumThreads(threads);
}

QtParallelBackend::~QtParallelBackend()
{
    m_Pool.waitForDone();
}

void QtParallelBackend::install()
{
    cv::parallel::setParallelForBackend(std::make_shared<QtParallelBackend>());
}

void QtParallelBackend::parallel_for(int tasks, FN_parallel_for_body_cb_t body, void *data)
{
    const int threads = std::min(tasks, m_Threads.load());
    if (threads <= 1) {
        if (tasks > 0)
            body(0, tasks, data);
        return;
    }
    const auto loop = std::make_shared<Loop>(tasks, threads, body, data);
    for (int helper = 1; helper < threads; ++helper)
        m_Pool.start([loop, helper] {
            // A worker made from a real-time caller inherited its scheduling.
            ThreadScheduling::leaveRealTime();
            loop->work(helper);
        });
    loop->work(0);
    loop->finish();
}

int QtParallelBackend::getThreadNum() const
{
    return t_ThreadNum;
}

int QtParallelBackend::getNumThreads() const
{
    return m_Threads.load();
}

int QtParallelBackend::setNumThreads(int threads)
{
    const int previous = m_Threads.load();
    // OpenCV's count of processors heeds the process's affinity and its control group's quota.
    const int count = threads > 0 ? threads : std::max(1, cv::getNumberOfCPUs());
    m_Threads = count;
    m_Pool.setMaxThreadCount(std::max(1, count - 1));
    return previous;
}

const char *QtParallelBackend::getName() const
{
    return "Qt thread pool";
}
