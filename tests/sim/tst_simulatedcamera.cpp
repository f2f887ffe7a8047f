#include "SimulatedCamera.h"
#include "SimulatedInstrument.h"
#include "VirtualInstrument.h"

#include <platform/MonotonicClock.h>

#include <libusb.h>
#include <opencv2/core.hpp>

#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

namespace {

constexpr int Frame8 = 1280 * 1024;
constexpr int Frame16 = 1280 * 1024 * 2;

int vendorWrite(SimulatedCamera &camera, uint8_t request, uint16_t value, uint16_t index)
{
    return camera.controlTransfer(0x40, request, value, index, nullptr, 0, 100);
}

// The frame-ready byte, or -1 when the query fails.
int frameReady(SimulatedCamera &camera)
{
    unsigned char byte = 0xFF;
    const int r = camera.controlTransfer(0xC0, 0xE0, 0, 0, &byte, 1, 100);
    return r == 1 ? byte : -1;
}

void setMode(SimulatedCamera &camera, int bits)
{
    vendorWrite(camera, 0xC1, bits == 16 ? 24 : 15, 12);
    vendorWrite(camera, 0xB3, bits == 16 ? 1 : 0, 0);
}

void setExposure(SimulatedCamera &camera, int frame, int line)
{
    vendorWrite(camera, 0xC5, uint16_t(frame), 6);
    vendorWrite(camera, 0xC5, uint16_t(line), 8);
}

// Waits for the frame-ready answer as the capture thread does; the time it took in ms, or -1.
double waitReady(SimulatedCamera &camera, int limitMs)
{
    const int64_t start = MonotonicClock::nowUs();
    while (MonotonicClock::nowUs() - start < limitMs * 1000) {
        if (frameReady(camera) == 0)
            return (MonotonicClock::nowUs() - start) / 1000.0;
        MonotonicClock::sleepMs(1);
    }
    return -1;
}

struct Rig
{
    VirtualInstrument instrument;
    SimulatedCamera camera{instrument};
    std::vector<unsigned char> buffer = std::vector<unsigned char>(Frame16);

    Rig()
    {
        instrument.setLed(0, true, 50);
        camera.open(SimulatedCamera::VendorId, SimulatedCamera::ProductId, 0);
    }
    int read(int length, int *transferred, unsigned int timeoutMs = 2000)
    {
        return camera.bulkRead(0x86, buffer.data(), length, transferred, timeoutMs);
    }
};

} // namespace

class TestSimulatedCamera : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qunsetenv("VANTOR_SIM_CAMERA"); }

    void opensOnlyAsTheInstrumentsCamera()
    {
        VirtualInstrument instrument;
        SimulatedCamera camera(instrument);
        QCOMPARE(camera.open(0x1234, SimulatedCamera::ProductId, 0), int(LIBUSB_ERROR_NO_DEVICE));
        QCOMPARE(camera.open(SimulatedCamera::VendorId, SimulatedCamera::ProductId, 1), int(LIBUSB_ERROR_NOT_FOUND));
        QCOMPARE(vendorWrite(camera, 0xC5, 1, 6), int(LIBUSB_ERROR_NO_DEVICE));
        camera.setFault(SimCameraFault::NoDevice);
        QCOMPARE(camera.open(0x2B25, 0x1209, 0), int(LIBUSB_ERROR_NO_DEVICE));
        camera.setFault(SimCameraFault::None);
        QCOMPARE(camera.open(0x2B25, 0x1209, 0), 0);
        std::vector<unsigned char> buffer(Frame8);
        int transferred = -1;
        QCOMPARE(camera.bulkRead(0x81, buffer.data(), Frame8, &transferred, 100), int(LIBUSB_ERROR_INVALID_PARAM));
        camera.setFault(SimCameraFault::NoDevice); // pulled while open
        QCOMPARE(frameReady(camera), -1);
        camera.close();
        QVERIFY(!camera.isOpen());
        QCOMPARE(camera.bulkRead(0x86, buffer.data(), 1, &transferred, 10), int(LIBUSB_ERROR_NO_DEVICE));
        QCOMPARE(transferred, 0);
    }

    void requestsSetRegistersModeAndDepth()
    {
        Rig rig;
        rig.camera.clearControlLog();
        setMode(rig.camera, 16);
        QCOMPARE(vendorWrite(rig.camera, 0xC5, 571, 28), 0);
        QCOMPARE(vendorWrite(rig.camera, 0xC5, 60, 31), 0);
        const SimCameraState state = rig.instrument.camera();
        QCOMPARE(std::make_tuple(state.bitDepth, state.readoutMode, state.frameBytes()), std::make_tuple(16, 24, Frame16));
        QCOMPARE(std::make_pair(int(state.registers[28]), int(state.registers[31])), std::make_pair(571, 60));

        unsigned char byte;
        QCOMPARE(rig.camera.controlTransfer(0xC0, 0xE0, 0, 0, &byte, 0, 100), int(LIBUSB_ERROR_OVERFLOW));
        QCOMPARE(vendorWrite(rig.camera, 0x99, 0, 0), int(LIBUSB_ERROR_PIPE));
        QCOMPARE(rig.camera.controlLog().size(), size_t(6)); // every request, also the refused ones
        int transferred = 0; // a buffer smaller than a 16-bit frame
        QCOMPARE(rig.read(Frame8, &transferred), int(LIBUSB_ERROR_OVERFLOW));
        setMode(rig.camera, 8);
        QCOMPARE(rig.instrument.camera().frameBytes(), Frame8);
    }

    void framesComeAtTheExposureRate()
    {
        Rig rig;
        int transferred = 0;
        QCOMPARE(rig.read(Frame8, &transferred), 0); // the first frame builds the renderer's caches
        setExposure(rig.camera, 2, 525); // 200 ms
        QVERIFY(qAbs(rig.camera.framePeriodMs() - 200) < 2);
        // Four frames read as they come, never early.
        const int64_t start = MonotonicClock::nowUs();
        for (int i = 0; i < 4; ++i) {
            QVERIFY(waitReady(rig.camera, 5000) >= 0);
            QCOMPARE(rig.read(Frame8, &transferred), 0);
        }
        const double interval = (MonotonicClock::nowUs() - start) / 4000.0;
        QVERIFY2(interval > 180, qPrintable(QString::number(interval)));
        QCOMPARE(rig.camera.framesDelivered(), uint64_t(5));
    }

    // The wire layout: the image turned by 180 degrees; 8-bit bytes, or big-endian words with the
    // 12-bit sample shifted left by four.
    void wireLayoutOfBothDepths()
    {
        Rig rig;
        rig.camera.renderer().setNoise(false);
        rig.camera.setMarkerPixel(true);
        // The picture the renderer makes at a read-out mode, marker in place, turned by 180 degrees.
        auto expected = [&](int readout) {
            SampleView view;
            view.stageSteps = rig.instrument.state().stagePhysical();
            view.exposureMs = SimulatedCamera::exposureMs(readout, 0, 993);
            view.light = 0.5;
            cv::Mat image;
            rig.camera.renderer().render(view, image);
            image.at<uint16_t>(1023, 1279) = SimulatedCamera::MarkerValue12;
            cv::flip(image, image, -1);
            return image;
        };
        int transferred = 0;
        QCOMPARE(rig.read(Frame8, &transferred), 0);
        QCOMPARE(transferred, Frame8);
        cv::Mat high(1024, 1280, CV_8UC1); // the high eight of twelve bits
        expected(15).forEach<uint16_t>([&](uint16_t v, const int *p) { high.at<uint8_t>(p[0], p[1]) = uint8_t(v >> 4); });
        cv::Mat wire8(1024, 1280, CV_8UC1, rig.buffer.data());
        QCOMPARE(cv::norm(wire8, high, cv::NORM_INF), 0.0);

        setMode(rig.camera, 16);
        QCOMPARE(rig.read(Frame16, &transferred), 0);
        QCOMPARE(transferred, Frame16);
        QCOMPARE(std::make_pair(int(rig.buffer[0]), int(rig.buffer[1])), std::make_pair(0xA5, 0xA0));
        cv::Mat words(1024, 1280, CV_16UC1);
        int lowBits = 0;
        for (int i = 0; i < 1280 * 1024; ++i) {
            lowBits += rig.buffer[size_t(2 * i + 1)] & 0x0F;
            words.at<uint16_t>(i / 1280, i % 1280) = uint16_t((rig.buffer[size_t(2 * i)] << 8 | rig.buffer[size_t(2 * i + 1)]) >> 4);
        }
        QCOMPARE(lowBits, 0);
        QCOMPARE(cv::norm(words, expected(24), cv::NORM_INF), 0.0);

        rig.instrument.setLedOn(0, false); // dark frames never start with 0 either
        for (int bits : {8, 16}) {
            setMode(rig.camera, bits);
            QCOMPARE(rig.read(bits == 16 ? Frame16 : Frame8, &transferred), 0);
            QVERIFY(rig.buffer[0] != 0);
        }
    }

    void stallEndsAtTheTimeOutOrAtClose()
    {
        Rig rig;
        rig.camera.setFault(SimCameraFault::Stall);
        QCOMPARE(waitReady(rig.camera, 500) >= 0, true); // announced...
        int transferred = -1;
        const int64_t start = MonotonicClock::nowMs();
        QCOMPARE(rig.read(Frame8, &transferred, 80), int(LIBUSB_ERROR_TIMEOUT)); // ...never delivered
        QVERIFY(MonotonicClock::nowMs() - start >= 79);
        QCOMPARE(transferred, 0);

        // Without a time-out the read waits until the camera is closed.
        std::atomic<int> result{1};
        std::thread reader([&] {
            int t = 0;
            result = rig.read(Frame8, &t, 0);
        });
        MonotonicClock::sleepMs(100);
        QCOMPARE(result.load(), 1);
        rig.camera.close();
        reader.join();
        QCOMPARE(result.load(), int(LIBUSB_ERROR_NO_DEVICE));

        // Or until the stall is cleared.
        QCOMPARE(rig.camera.open(0x2B25, 0x1209, 0), 0);
        std::thread again([&] {
            int t = 0;
            result = rig.read(Frame8, &t, 0);
        });
        MonotonicClock::sleepMs(50);
        rig.camera.setFault(SimCameraFault::None);
        again.join();
        QCOMPARE(result.load(), 0);
    }

    void shortReadAndZeroFirstByte()
    {
        Rig rig;
        int transferred = 0;
        rig.camera.setFault(SimCameraFault::ShortRead);
        QCOMPARE(rig.read(Frame8, &transferred), 0);
        QCOMPARE(transferred, Frame8 / 2);
        rig.camera.setFault(SimCameraFault::ZeroFirstByte);
        QCOMPARE(rig.read(Frame8, &transferred), 0);
        QCOMPARE(transferred, Frame8);
        QCOMPARE(int(rig.buffer[0]), 0);
        QVERIFY(rig.buffer[1000] != 0);
        QCOMPARE(rig.camera.framesDelivered(), uint64_t(1));
    }

    void faultFromTheEnvironment()
    {
        const std::pair<const char *, SimCameraFault> cases[] = {
            {"none", SimCameraFault::NoDevice}, {"stall", SimCameraFault::Stall},
            {"short", SimCameraFault::ShortRead}, {"zero", SimCameraFault::ZeroFirstByte},
            {"bogus", SimCameraFault::None}};
        for (const auto &c : cases) {
            qputenv("VANTOR_SIM_CAMERA", c.first);
            VirtualInstrument instrument;
            SimulatedCamera camera(instrument);
            QVERIFY2(camera.fault() == c.second, c.first);
        }
        qunsetenv("VANTOR_SIM_CAMERA");
    }

    void theSimulatedInstrumentInstallsItsCamera()
    {
        {
            SimulatedInstrument sim{SimulatedInstrument::Options()};
            QCOMPARE(CameraTransport::instance(), static_cast<CameraTransport *>(&sim.camera()));
            QCOMPARE(sim.camera().open(0x2B25, 0x1209, 0), 0);
            sim.instrument().setLed(0, true, 50);
            std::vector<unsigned char> frame(Frame8);
            int transferred = 0;
            QCOMPARE(CameraTransport::instance()->bulkRead(0x86, frame.data(), Frame8, &transferred, 1000), 0);
            QCOMPARE(transferred, Frame8);
        }
        QVERIFY(CameraTransport::instance() == nullptr);
    }
};

QTEST_GUILESS_MAIN(TestSimulatedCamera)
#include "tst_simulatedcamera.moc"
