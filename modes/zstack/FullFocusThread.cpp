#include "FullFocusThread.h"

#include "DeconvFocus_alg.h"
#include "common/Utilities.h"

#include <QDebug>
#include <QElapsedTimer>

#include <exception>

FullFocusThread::FullFocusThread(QObject* parent)
    : QThread(parent), m_engine(std::make_unique<DeconvFocus_alg>())
{
}

FullFocusThread::~FullFocusThread()
{
    // Destroyed while it merges (the page or the window going): the merge stops at its next
    // slice and the thread ends before its engine goes.
    requestInterruption();
    wait();
}

void FullFocusThread::set_param(int matchingSize, int medianKernel, int meanKernel,
                                int sobelKernel, bool sr, float scaleFactor, int patchSize,
                                int patchMoving, double freqWeight)
{
    m_matchingSize = matchingSize;
    m_medianKernel = medianKernel;
    m_meanKernel = meanKernel;
    m_sobelKernel = sobelKernel;
    m_sr = sr;
    m_scaleFactor = scaleFactor;
    m_patchSize = patchSize;
    m_patchMoving = patchMoving;
    m_freqWeight = freqWeight;
}

void FullFocusThread::set_load_image(unsigned char* data, int width, int height)
{
    m_engine->set_load_image(data, width, height);
}

void FullFocusThread::free_load_image()
{
    m_engine->free_load_image();
}

bool FullFocusThread::get_result_image(unsigned char* out)
{
    return m_engine->get_result_image(out);
}

int FullFocusThread::loadedCount() const
{
    return m_engine->sliceCount();
}

void FullFocusThread::run()
{
    QElapsedTimer clock;
    clock.start();
    bool ok = false;
    // Nothing may escape the worker thread: a refused filter or a failed allocation is a
    // failed merge.
    try {
        ok = m_engine->run(m_matchingSize, m_medianKernel, m_meanKernel, m_sobelKernel, m_sr,
                           m_scaleFactor, m_patchSize, m_patchMoving, m_freqWeight);
    } catch (const std::exception& e) {
        qWarning() << "focus merge failed:" << e.what();
        ok = false;
    } catch (...) {
        qWarning() << "focus merge failed";
        ok = false;
    }
    if (isEnableSerialLog())
        qDebug() << "virtual void FullFocusThread::run()" << clock.elapsed();
    emit FinishFullCocus(ok);
}
