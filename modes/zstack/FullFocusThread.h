#pragma once

#include <QThread>

#include <memory>

class DeconvFocus_alg;

// Runs one extended-focus merge off the GUI thread. The page feeds the slices and parameters
// while the thread is idle, starts it, and fetches the result on FinishFullCocus(true).
class FullFocusThread : public QThread
{
    Q_OBJECT
public:
    explicit FullFocusThread(QObject* parent = nullptr);
    ~FullFocusThread() override; // interrupts a merge under way and waits for the thread

    void set_param(int matchingSize, int medianKernel, int meanKernel, int sobelKernel, bool sr,
                   float scaleFactor, int patchSize, int patchMoving, double freqWeight);
    void set_load_image(unsigned char* data, int width, int height);
    void free_load_image();
    bool get_result_image(unsigned char* out);
    int loadedCount() const;

signals:
    void FinishFullCocus(bool bSuccess);

protected:
    void run() override;

private:
    std::unique_ptr<DeconvFocus_alg> m_engine;
    int m_matchingSize = 3;
    int m_medianKernel = 3;
    int m_meanKernel = 3;
    int m_sobelKernel = 3;
    bool m_sr = true;
    float m_scaleFactor = 0.25f;
    int m_patchSize = 1;
    int m_patchMoving = 1;
    double m_freqWeight = 2.5;
};
