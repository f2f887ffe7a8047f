#pragma once

#include <QThreadPool>
#include <opencv2/core/parallel/parallel_backend.hpp>

#include <atomic>

// OpenCV's parallel loops on a pool of Qt threads that sleep while idle. The workers of the TBB
// backend OpenCV is built with spin for a while after every loop; with a loop a frame (the image
// view's paint, the live image) they kept several cores busy and held up the interface's timers.
// The calling thread takes its share of the work, so a loop never waits on a busy pool. The
// workers run with normal scheduling, also those made for a loop of a real-time thread.
class QtParallelBackend : public cv::parallel::ParallelForAPI
{
public:
    // threads: the loop's threads, the caller's included; 0 or less: one a processor the process may use.
    explicit QtParallelBackend(int threads = 0);
    ~QtParallelBackend() override;

    // Makes a pool of this kind OpenCV's backend. From main(), before other threads use OpenCV.
    static void install();

    void parallel_for(int tasks, FN_parallel_for_body_cb_t body, void *data) override;
    int getThreadNum() const override;
    int getNumThreads() const override;
    int setNumThreads(int threads) override;
    const char *getName() const override;

private:
    QThreadPool m_Pool;
    std::atomic<int> m_Threads{1};
};
