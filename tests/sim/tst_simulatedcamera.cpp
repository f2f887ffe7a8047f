#include "FrameLog.h"
#include "MonotonicClock.h"
#include "SimulatedCamera.h"
#include "SimulatedInstrument.h"
#include "VirtualInstrument.h"

#include <libusb.h>
#include <opencv2/core.hpp>

#include <QtTest>

#include <vector>

namespace {

constexpr int Frame8 = 1280 * 1024;
constexpr int Frame16 = 1280 * 1024 * 2;

int vendorWrite(SimulatedCamera &camera, uint8_t request, uint16_t value, uint16_t index)
{
    return camera.controlTransfer(0x40, request, value, index, nullptr, 0, 100);
}

void setMode(SimulatedCamera &camera, int bits)
{
    vendorWrite(camera, 0xC1, bits == 16 ? 24 : 15, 12);
    vendorWrite(camera, 0xB3, bits == 16 ? 1 : 0, 0);
}

struct Rig
{
    VirtualInstrument instrument;
    SimulatedCamera camera{instrument};
    std::vector<unsigned char> buffer = std::vector<unsigned char>(Frame16);

    Rig()
    {
        instrument.setLedSwitchOnMs(0); // a lamp on long before the first frame
        instrument.setLed(0, true, 50);
        camera.open(SimulatedCamera::VendorId, SimulatedCamera::ProductId, 0);
    }
    int read(int length, int *transferred) { return camera.bulkRead(0x86, buffer.data(), length, transferred, 2000); }
};

} // namespace

class TestSimulatedCamera : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qunsetenv("VANTOR_SIM_CAMERA"); }

    // Opens only as the instrument's camera; vendor requests set the registers, mode and depth;
    // unknown requests and short buffers are refused.
    void requestsSetRegistersModeAndDepth()
    {
        Rig rig;
        SimulatedCamera &camera = rig.camera;
        QCOMPARE(camera.open(0x1234, SimulatedCamera::ProductId, 0), int(LIBUSB_ERROR_NO_DEVICE));
        QCOMPARE(camera.open(SimulatedCamera::VendorId, SimulatedCamera::ProductId, 1), int(LIBUSB_ERROR_NOT_FOUND));
        setMode(camera, 16);
        QCOMPARE(vendorWrite(camera, 0xC5, 571, 28), 0);
        const SimCameraState state = rig.instrument.camera();
        QCOMPARE(std::make_tuple(state.bitDepth, state.readoutMode, state.frameBytes()), std::make_tuple(16, 24, Frame16));
        QCOMPARE(int(state.registers[28]), 571);
        unsigned char byte;
        QCOMPARE(camera.controlTransfer(0xC0, 0xE0, 0, 0, &byte, 0, 100), int(LIBUSB_ERROR_OVERFLOW));
        QCOMPARE(vendorWrite(camera, 0x99, 0, 0), int(LIBUSB_ERROR_PIPE));
        int transferred = 0;
        QCOMPARE(rig.read(Frame8, &transferred), int(LIBUSB_ERROR_OVERFLOW)); // smaller than a 16-bit frame
        QCOMPARE(camera.bulkRead(0x81, rig.buffer.data(), Frame16, &transferred, 100), int(LIBUSB_ERROR_INVALID_PARAM));
        setMode(camera, 8);
        QCOMPARE(rig.instrument.camera().frameBytes(), Frame8);
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

        // A black frame never starts with 0 either.
        for (int bits : {8, 16}) {
            SimulatedCamera::packFrame(cv::Mat::zeros(1024, 1280, CV_16UC1), bits, rig.buffer.data());
            QVERIFY(rig.buffer[0] != 0);
        }
    }

    // A frame integrates the light over its exposure: a light switched on or a cube turned in part
    // of the way through gives the frame that part of the new picture and the rest of the old.
    void aFrameIntegratesTheLightOverItsExposure_data()
    {
        QTest::addColumn<int>("before"); // the cube in place before; -1: Trans with its light off
        QTest::addColumn<int>("after");
        QTest::addColumn<double>("at");  // the part of the exposure gone at the change
        QTest::newRow("light on after a quarter") << -1 << 0 << 0.25;
        QTest::newRow("light on half way") << -1 << 0 << 0.5;
        QTest::newRow("light on after three quarters") << -1 << 0 << 0.75;
        QTest::newRow("Trans to GFP half way") << 0 << 3 << 0.5;
        QTest::newRow("GFP to Trans after a quarter") << 3 << 0 << 0.25;
    }
    void aFrameIntegratesTheLightOverItsExposure()
    {
        QFETCH(int, before);
        QFETCH(int, after);
        QFETCH(double, at);
        Rig rig;
        rig.camera.renderer().setNoise(false);
        vendorWrite(rig.camera, 0xC5, 6, SimCameraState::RegFrameCount); // 500 ms
        vendorWrite(rig.camera, 0xC5, 745, SimCameraState::RegLineCount);
        const int64_t exposureUs = 500000;
        const int64_t readyAfterUs = exposureUs + int64_t(sensorReadoutUs(15));
        // Lights that leave the pictures well inside the 12 bits.
        const auto place = [&](int cube) {
            rig.instrument.setLed(0, cube >= 0, 1);
            rig.instrument.setLed(3, true, 60);
            rig.instrument.turnFilter(std::max(cube, 0), 0);
        };
        const auto mean = [&] {
            int transferred = 0;
            return rig.read(Frame8, &transferred) == 0 ? cv::mean(cv::Mat(1024, 1280, CV_8UC1, rig.buffer.data()))[0] : -1.0;
        };
        const auto settledMean = [&](int cube) {
            place(cube);
            mean();
            return mean(); // exposed wholly after
        };
        const double meanAfter = settledMean(after);
        const double meanBefore = settledMean(before);

        const int64_t beginUs = rig.camera.nextExposureBeginUs();
        MonotonicClock::sleepUs(beginUs + int64_t(at * exposureUs) - MonotonicClock::nowUs());
        place(after);
        // A read gives the latest frame ready: once the one begun at beginUs is, before the next.
        MonotonicClock::sleepUs(beginUs + readyAfterUs + 20000 - MonotonicClock::nowUs());
        const double mixed = mean();

        const double expected = at * meanBefore + (1 - at) * meanAfter;
        qInfo("before %.1f, after %.1f, frame %.1f, expected %.1f", meanBefore, meanAfter, mixed, expected);
        QVERIFY(std::abs(meanAfter - meanBefore) > 20);
        QVERIFY2(std::abs(mixed - expected) <= 0.05 * std::abs(meanAfter - meanBefore) + 1,
                 qPrintable(QString("mean %1, expected %2").arg(mixed).arg(expected)));
    }

    // The frame log finds each delivered frame again from its picture, with its exposure, and says
    // whether one cube stood lit at one power all the while: a change a third of the way through
    // the exposure.
    void theFrameLogKnowsEachFramesLight_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("steady");
        QTest::newRow("nothing") << "" << true;
        QTest::newRow("another cube's LED") << "other LED" << true;
        QTest::newRow("a turn away and back") << "turn" << false;
        QTest::newRow("the power") << "power" << false;
        QTest::newRow("the light off") << "off" << false;
    }
    void theFrameLogKnowsEachFramesLight()
    {
        QFETCH(QString, change);
        QFETCH(bool, steady);
        Rig rig;
        rig.instrument.setLed(0, true, 2); // a picture well inside the 8 bits, where the noise tells frames apart
        FrameLog &log = rig.camera.logFrames();
        vendorWrite(rig.camera, 0xC5, 2, SimCameraState::RegFrameCount); // 200 ms
        vendorWrite(rig.camera, 0xC5, 525, SimCameraState::RegLineCount);
        const int64_t exposureUs = 200000;
        int transferred = 0;
        QCOMPARE(rig.read(Frame8, &transferred), 0);
        const int64_t beginUs = rig.camera.nextExposureBeginUs();
        MonotonicClock::sleepUs(beginUs + exposureUs / 3 - MonotonicClock::nowUs());
        if (change == "other LED")
            rig.instrument.setLed(3, true, 80);
        else if (change == "turn")
            rig.instrument.turnFilter(0, 20);
        else if (change == "power")
            rig.instrument.setLed(0, true, 1);
        else if (change == "off")
            rig.instrument.setLedOn(0, false);
        MonotonicClock::sleepUs(beginUs + exposureUs + int64_t(sensorReadoutUs(15)) + 20000 - MonotonicClock::nowUs());
        QCOMPARE(rig.read(Frame8, &transferred), 0);

        std::vector<int> values;
        for (const cv::Point &p : FrameLog::places()) // the upright picture: the sensor is turned
            values.push_back(rig.buffer[size_t(Frame8 - 1 - (p.y * 1280 + p.x))]);
        const std::vector<FrameLog::Frame> frames = log.frames();
        QCOMPARE(frames.size(), size_t(2));
        double agreement = 0;
        const FrameLog::Frame *frame = FrameLog::match(frames, values, 8, 0.9, &agreement);
        QVERIFY2(frame == &frames.back(), qPrintable(QString("agreement %1").arg(agreement)));
        QCOMPARE(frame->beganUs, beginUs);
        QVERIFY(std::abs(frame->endedUs - beginUs - exposureUs) < 1000); // the registers' 200.03 ms
        QCOMPARE(frame->optics.steady, steady);
        QCOMPARE(frame->optics.filter, 0);
        QCOMPARE(frames.front().optics.steady, true);
        QCOMPARE(frames.front().optics.light, 0.02);
    }

    // An LED gives light only its switch-on time after it was switched on; a change of power
    // while it is lit keeps it lit.
    void ledSwitchOnTime()
    {
        Rig rig;
        rig.instrument.setLedSwitchOnMs(300);
        rig.instrument.setLed(0, false, 50);
        auto mean = [&] {
            int transferred = 0;
            return rig.read(Frame8, &transferred) == 0 ? cv::mean(cv::Mat(1024, 1280, CV_8UC1, rig.buffer.data()))[0] : -1.0;
        };
        // A frame shows the scene as its exposure began: each reading waits until the frame read
        // began its exposure after the change.
        QTest::qWait(100);
        const double dark = mean();
        rig.instrument.setLed(0, true, 50);
        QTest::qWait(100);
        QVERIFY2(mean() < dark + 1, "lit at once");
        QTest::qWait(300);
        const double lit = mean();
        QVERIFY2(lit > dark + 20, qPrintable(QString("dark %1, lit %2").arg(dark).arg(lit)));
        rig.instrument.setLed(0, true, 60);
        QVERIFY(rig.instrument.state().ledLit[0]);
        QTest::qWait(300); // a frame begun before the change shows the old power
        QVERIFY(mean() > lit);
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

    // Tests read the camera's control log; a long simulated run keeps none, however often the
    // capture thread asks whether a frame is ready.
    void aLongRunKeepsNoControlLog_data()
    {
        QTest::addColumn<bool>("keepLog");
        QTest::newRow("test") << true;
        QTest::newRow("long run") << false;
    }
    void aLongRunKeepsNoControlLog()
    {
        QFETCH(bool, keepLog);
        SimulatedInstrument::Options options;
        options.startBoard = false;
        options.keepLog = keepLog;
        SimulatedInstrument sim(options);
        SimulatedCamera &camera = sim.camera();
        camera.open(SimulatedCamera::VendorId, SimulatedCamera::ProductId, 0);
        setMode(camera, 8);
        unsigned char ready[4];
        for (int i = 0; i < 1000; ++i)
            camera.controlTransfer(0xC0, SimulatedCamera::RequestFrameReady, 0, 0, ready, sizeof ready, 100);
        QCOMPARE(int(camera.controlLog().size()), keepLog ? 1002 : 0);
    }
};

QTEST_GUILESS_MAIN(TestSimulatedCamera)
#include "tst_simulatedcamera.moc"
