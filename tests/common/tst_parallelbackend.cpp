#include "QtParallelBackend.h"

#include <QDeadlineTimer>
#include <QThread>
#include <QtTest>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// Per task, how many times it ran; a range outside the loop counts as a fault. A range holding
// failAt throws once it has run.
struct Tally
{
    explicit Tally(int tasks) : counts(size_t(tasks)) {}
    std::vector<std::atomic<int>> counts;
    std::atomic<int> outside{0};
    int failAt = -1;

    static void body(int start, int end, void *data)
    {
        auto *tally = static_cast<Tally *>(data);
        if (start < 0 || end > int(tally->counts.size()) || start >= end)
            ++tally->outside;
        for (int i = std::max(start, 0); i < std::min<int>(end, int(tally->counts.size())); ++i)
            ++tally->counts[size_t(i)];
        if (start <= tally->failAt && tally->failAt < end)
            throw std::runtime_error("task failed");
    }
    bool eachOnce() const
    {
        return outside == 0 && std::all_of(counts.begin(), counts.end(), [](const std::atomic<int> &c) { return c == 1; });
    }
};

} // namespace

class TestParallelBackend : public QObject
{
    Q_OBJECT

private slots:
    void everyTaskOnce_data();
    void everyTaskOnce();
    void failureReachesTheCaller();
    void concurrentLoops();
    void openCvLoops();
};

void TestParallelBackend::everyTaskOnce_data()
{
    QTest::addColumn<int>("tasks");
    QTest::addColumn<int>("threads");
    QTest::newRow("none") << 0 << 4;
    QTest::newRow("one task") << 1 << 4;
    QTest::newRow("fewer tasks than threads") << 3 << 8;
    QTest::newRow("odd chunks") << 1001 << 3;
    QTest::newRow("rows of a frame") << 1024 << 8;
    QTest::newRow("one thread") << 500 << 1;
}

void TestParallelBackend::everyTaskOnce()
{
    QFETCH(int, tasks);
    QFETCH(int, threads);
    QtParallelBackend backend(threads);
    QCOMPARE(backend.getNumThreads(), threads);
    for (int round = 0; round < 50; ++round) {
        Tally tally(tasks);
        backend.parallel_for(tasks, &Tally::body, &tally);
        QVERIFY2(tally.eachOnce(), qPrintable(QString("round %1").arg(round)));
    }
}

// A task that throws: the others still run, the caller gets the failure, the pool goes on.
void TestParallelBackend::failureReachesTheCaller()
{
    QtParallelBackend backend(4);
    for (const int failAt : {0, 57, 99}) {
        Tally tally(100);
        tally.failAt = failAt;
        QVERIFY_EXCEPTION_THROWN(backend.parallel_for(100, &Tally::body, &tally), std::runtime_error);
        QVERIFY(tally.eachOnce());
    }
    Tally after(100);
    backend.parallel_for(100, &Tally::body, &after);
    QVERIFY(after.eachOnce());
}

// Loops from several threads at once on one small pool: each finishes whole, none waits forever.
void TestParallelBackend::concurrentLoops()
{
    QtParallelBackend backend(3);
    std::atomic<int> faults{0};
    auto loops = [&] {
        for (int i = 0; i < 200; ++i) {
            Tally tally(64);
            backend.parallel_for(64, &Tally::body, &tally);
            if (!tally.eachOnce())
                ++faults;
        }
    };
    QThreadPool callers;
    callers.setMaxThreadCount(4);
    for (int i = 0; i < 4; ++i)
        callers.start(loops);
    loops();
    QVERIFY(callers.waitForDone(120000));
    QCOMPARE(faults.load(), 0);
}

// Installed for OpenCV: its loops run on the pool's threads and give what one thread gives.
void TestParallelBackend::openCvLoops()
{
    QtParallelBackend::install();
    cv::setNumThreads(4);
    QCOMPARE(cv::getNumThreads(), 4);

    // The caller's first stripe waits until another thread has run one.
    std::mutex mutex;
    std::set<std::thread::id> threads;
    std::set<int> helperNumbers;
    std::atomic<bool> helped{false};
    cv::parallel_for_(cv::Range(0, 64), [&](const cv::Range &range) {
        const bool caller = range.start == 0;
        if (!caller)
            helped = true;
        const QDeadlineTimer deadline(10000);
        while (caller && !helped && !deadline.hasExpired())
            QThread::msleep(1);
        const std::lock_guard<std::mutex> lock(mutex);
        threads.insert(std::this_thread::get_id());
        if (!caller)
            helperNumbers.insert(cv::getThreadNum());
    });
    QVERIFY(threads.size() > 1);
    QVERIFY(!helperNumbers.count(0));

    cv::Mat frame(1024, 1280, CV_8UC1);
    cv::theRNG().state = 7;
    cv::randu(frame, 0, 256);
    auto process = [&frame] {
        cv::Mat blurred, small;
        cv::GaussianBlur(frame, blurred, cv::Size(9, 9), 2.0);
        cv::resize(blurred, small, cv::Size(), 0.37, 0.37, cv::INTER_AREA);
        return small;
    };
    const cv::Mat parallel = process();
    cv::setNumThreads(1);
    const cv::Mat single = process();
    QCOMPARE(cv::norm(parallel, single, cv::NORM_INF), 0.0);
}

QTEST_GUILESS_MAIN(TestParallelBackend)
#include "tst_parallelbackend.moc"
