#include "CellCount.h"
#include "DialogRunner.h"
#include "DiluionCalculatorDlg.h"
#include "ProtocolDialogScripts.h"
#include "MediaMonitor.h"
#include "Paths.h"
#include "ProtocolFile.h"
#include "ProtocolFixture.h"

#include <QPushButton>
#include <QTextEdit>
#include <QtTest>
#include <vector>

namespace {

// Free space on the SSD as the monitor will report it; a negative value fails the query.
void setFreeMegabytes(qint64 megabytes)
{
    MediaMonitor::setSpaceQuery([megabytes](const QString &, quint64 *fragment, quint64 *blocks) {
        if (megabytes < 0)
            return false;
        *fragment = 1000000;
        *blocks = quint64(megabytes);
        return true;
    });
}

ThumbnailInfo thumbnail(int kind)
{
    ThumbnailInfo info;
    info.number = kind;
    info.path = "/media/VANTOR SSD/.CellCount/x.tif";
    return info;
}

QTextEdit *field(QDialog &dlg, const QString &name) { return dlg.findChild<QTextEdit *>("EDIT_" + name); }

// Touches a field (unless name is empty) and types on the keypad: digits, '.' and '<' for delete.
void typeInto(QDialog &dlg, const QString &name, const QString &keys)
{
    if (!name.isEmpty())
        QTest::mouseClick(field(dlg, name)->viewport(), Qt::LeftButton);
    for (QChar c : keys)
        ProtocolDialogScripts::click(&dlg, c == '.' ? "BUTTON_KEY_DOT" : c == '<' ? "BUTTON_KEY_DEL" : QString("BUTTON_KEY_") + c);
}

} // namespace

class TestCellCountModel : public QObject
{
    Q_OBJECT
    std::unique_ptr<ProtocolFixture> m_Fix;

    QString rawFile() const { return CellCount::rawDataPath() + "frame.raw"; }
    void fillRawData(CellCount &model)
    {
        QDir().mkpath(CellCount::rawDataPath());
        QFile file(rawFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x");
        ThumbnailInfo info = thumbnail(0);
        model.pushThumbnail(info);
    }

private slots:
    void init() { m_Fix = std::make_unique<ProtocolFixture>(); }
    void cleanup()
    {
        MediaMonitor::setSpaceQuery(nullptr);
        m_Fix.reset();
    }

    // The checks in their order; a refusal deletes nothing, a start with clean empties the work
    // folder and the thumbnails.
    void canStart_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<float>("magnification");
        QTest::addColumn<int>("freeMb");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("code");
        const int autoCount = COUNT_MODE_AUTO, manual = COUNT_MODE_MANUAL;
        QTest::newRow("16-bit automatic") << 16 << 10.0f << -1 << autoCount << 1;
        QTest::newRow("5X") << 8 << 5.0f << 100 << autoCount << 2;
        QTest::newRow("16-bit before 5X") << 16 << 5.0f << 100 << autoCount << 1;
        QTest::newRow("4X") << 8 << 4.0f << 100 << autoCount << 0;
        QTest::newRow("5 MB") << 8 << 4.0f << 5 << autoCount << 3;
        QTest::newRow("6 MB") << 8 << 4.0f << 6 << autoCount << 0;
        QTest::newRow("query fails") << 8 << 4.0f << -1 << autoCount << 3;
        QTest::newRow("manual 16-bit 9 MB") << 16 << 20.0f << 9 << manual << 3;
        QTest::newRow("manual 16-bit 10 MB") << 16 << 20.0f << 10 << manual << 0;
        QTest::newRow("manual 8-bit 4 MB") << 8 << 20.0f << 4 << manual << 3;
        QTest::newRow("manual 8-bit 5 MB") << 8 << 20.0f << 5 << manual << 0;
    }

    void canStart()
    {
        QFETCH(int, bits);
        QFETCH(float, magnification);
        QFETCH(int, freeMb);
        QFETCH(int, mode);
        QFETCH(int, code);
        setFreeMegabytes(freeMb);
        for (bool clean : {false, true}) {
            CellCount model;
            fillRawData(model);
            QCOMPARE(int(model.canStart(bits, magnification, clean, TCountMode(mode))), code);
            const bool emptied = clean && code == 0;
            QCOMPARE(QFile::exists(rawFile()), !emptied);
            QCOMPARE(model.thumbnails().size(), size_t(emptied ? 0 : 1));
            QVERIFY(QFileInfo(CellCount::rawDataPath()).isDir());
        }
    }

    // Without the SSD folder the work folder cannot be made again: code 5, thumbnails emptied.
    void missingSsd()
    {
        setFreeMegabytes(100);
        CellCount model;
        fillRawData(model);
        QVERIFY(QDir(Paths::ssd()).removeRecursively());
        QCOMPARE(model.canStart(8, 4.0f, true, COUNT_MODE_AUTO), CELLCOUNT_ERR_RAW_DATA);
        QVERIFY(model.thumbnails().empty());
        QCOMPARE(model.deleteRawData(), -1);

        QVERIFY(QDir().mkpath(Paths::ssd()));
        QCOMPARE(model.deleteRawData(), 1); // a missing work folder counts as removed
        QVERIFY(QDir(CellCount::rawDataPath()).isEmpty());
    }

    void thumbnails()
    {
        CellCount model;
        ThumbnailInfo a = thumbnail(1), b = thumbnail(0);
        model.pushThumbnail(a);
        model.pushThumbnail(b);
        a.number = 7;
        QCOMPARE(model.thumbnails().size(), size_t(2));
        QCOMPARE(model.thumbnails()[0].number, 1); // a copy
        QCOMPARE(model.thumbnails()[1].number, 0);
        model.clearThumbnails();
        QVERIFY(model.thumbnails().empty());
    }

    void meanIntensity()
    {
        CellCount model;
        std::vector<unsigned char> frame8(1280 * 1024, 255);
        QCOMPARE(model.getAvgIntensityValue(frame8.data(), 8, 0), 255.0);
        std::vector<unsigned char> frame16(1280 * 1024 * 2);
        for (size_t i = 0; i < frame16.size(); i += 2) { // 4095 << 4, most significant byte first
            frame16[i] = 0xff;
            frame16[i + 1] = 0xf0;
        }
        QCOMPARE(model.getAvgIntensityValue(frame16.data(), 16, 0), 4095.0);
        QCOMPARE(model.getAvgIntensityValue(frame16.data(), 16, 99), 4095.0);
        frame8[0] = 0;
        QCOMPARE(model.getAvgIntensityValue(frame8.data(), 8, 0), 255.0 - 255.0 / (1280 * 1024));
    }

    // A name reads its file; without a file the fall-backs; a name that cannot be stored is
    // taken as DEFAULT.
    void loadProtocol_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("loaded");
        QTest::addColumn<int>("dilution");
        QTest::addColumn<int>("mustDetect");
        QTest::newRow("file") << "HeLa" << "HeLa" << 5 << 220;
        QTest::newRow("no file") << "Other" << "Other" << 2 << 165;
        QTest::newRow("parent folder") << "../x" << "DEFAULT" << 9 << 165;
        QTest::newRow("too long") << QString(240, 'a') << "DEFAULT" << 9 << 165;
        QTest::newRow("empty") << "" << "DEFAULT" << 9 << 165;
    }

    void loadProtocol()
    {
        QFETCH(QString, name);
        QFETCH(QString, loaded);
        QFETCH(int, dilution);
        QFETCH(int, mustDetect);
        m_Fix->writeProtocol("HeLa", "[Dilution Factor]\nFactor=5\n[InSide_Detection]\nMustDetect_intensity=240\n");
        m_Fix->writeProtocol("DEFAULT", "[Dilution Factor]\nFactor=9\n");
        QDir().mkpath(m_Fix->dir() + "/Protocol_.."); // where "../x" would lead
        m_Fix->writeProtocol("../x", "[Dilution Factor]\nFactor=77\n");
        CellCount model;
        QCOMPARE(model.protocol().nMustDetectIntensity, 220); // Init values before any reading
        QCOMPARE(model.protocol().nOutsideKernelSize, 45);
        model.LoadProtocol(name);
        QCOMPARE(model.protocol().name, loaded);
        QCOMPARE(QString::fromStdString(model.protocol().path), m_Fix->fileOf(loaded));
        QCOMPARE(model.protocol().nDilutionFactor, dilution);
        QCOMPARE(model.protocol().nMustDetectIntensity, mustDetect);
        QCOMPARE(model.protocol().nOutsideKernelSize, 53);
    }

    // --- the dilution calculator ---

    void roundHalfAway()
    {
        QCOMPARE(round2(2.36f, 10.0f), 2.4f);
        QCOMPARE(round2(9.96f, 10.0f), 10.0f);
        QCOMPARE(round2(-1.25f, 10.0f), -1.3f);
        QCOMPARE(round2(0.3333333f, 1000.0f), 0.333f);
        QCOMPARE(round2(0.0004f, 1000.0f), 0.0f);
    }

    // Each example as the user types it, checked on the sentence handed to the painter and on
    // the entry messages.
    void calculator_data()
    {
        QTest::addColumn<QList<float>>("results"); // total, live, dead mantissa and exponent
        QTest::addColumn<int>("sourcePresses");
        QTest::addColumn<QStringList>("entries");  // current, current exponent (Custom), desired, exponent, volume
        QTest::addColumn<QString>("shown");        // the current fields after loading
        QTest::addColumn<QString>("sentence");
        QTest::addColumn<QString>("message");      // the range of the entry error
        const QList<float> counted{2.0f, 6, 3.0f, 5, -1.0f, -1};
        const QString done = "Dilute %1 mL cell sample in %2 mL buffer.";
        QTest::newRow("5 and 5") << counted << 0 << QStringList{"", "", "1", "6", "10"} << "2.0 6" << done.arg(5).arg(5) << "";
        QTest::newRow("0.333") << counted << 1 << QStringList{"", "", "1", "5", "1"} << "3.0 5" << done.arg("0.333", "0.667") << "";
        QTest::newRow("V and 0") << QList<float>{1.0f, 6, 0, 0, 0, 0} << 0 << QStringList{"", "", "1", "6", "1000"} << "1.0 6"
                                 << done.arg(1000).arg(0) << "";
        QTest::newRow("too small") << QList<float>{9.9f, 9, 0, 0, 0, 0} << 0 << QStringList{"", "", "1", "0", "1000"} << "9.9 9"
                                   << "Out of range: the calculated volume is < 0.001" << "";
        QTest::newRow("mantissa -1") << counted << 2 << QStringList{"", "", "1", "0", "1"} << "-1.0 -1"
                                     << "Desired concentration cannot exceed current concentration" << "";
        QTest::newRow("2.36 as 2.4") << QList<float>{2.36f, 6, 0, 0, 0, 0} << 0 << QStringList{"", "", "1.2", "6", "2"} << "2.4 6"
                                     << done.arg(1).arg(1) << "";
        QTest::newRow("9.96 as 10.0") << QList<float>{9.96f, 6, 0, 0, 0, 0} << 0 << QStringList{"", "", "5", "6", "1"} << "10.0 6"
                                      << done.arg(0.5).arg(0.5) << "";
        QTest::newRow("custom") << counted << 3 << QStringList{"2", "6", "1", "6", "10"} << "0.0 0" << done.arg(5).arg(5) << "";
        QTest::newRow("custom untouched") << counted << 3 << QStringList{"", "", "1", "6", "10"} << "0.0 0" << "" << "(1.0 ~ 9.9)";
        QTest::newRow("custom no exponent") << counted << 3 << QStringList{"2", "<", "1", "6", "10"} << "0.0 0" << "" << "(0 ~ 9)";
        QTest::newRow("desired 9.9") << counted << 0 << QStringList{"", "", "9.9", "5", "1"} << "2.0 6" << done.arg("0.495", "0.505") << "";
        QTest::newRow("desired 10") << counted << 0 << QStringList{"", "", "10", "5", "1"} << "2.0 6" << "" << "(1.0 ~ 9.9)";
        QTest::newRow("desired 0.9") << counted << 0 << QStringList{"", "", "0.9", "5", "1"} << "2.0 6" << "" << "(1.0 ~ 9.9)";
        QTest::newRow("no exponent") << counted << 0 << QStringList{"", "", "1", "", "1"} << "2.0 6" << "" << "(0 ~ 9)";
        QTest::newRow("exponent .") << counted << 0 << QStringList{"", "", "1", ".", "1"} << "2.0 6" << "Out of range: the calculated volume is < 0.001" << "";
        QTest::newRow("volume 0.01") << counted << 0 << QStringList{"", "", "2", "6", ".01"} << "2.0 6" << done.arg(0.01).arg(0) << "";
        QTest::newRow("volume 1001") << counted << 0 << QStringList{"", "", "1", "6", "1001"} << "2.0 6" << "" << "(0.01 ~ 1000)";
        QTest::newRow("no volume") << counted << 0 << QStringList{"", "", "1", "6", ""} << "2.0 6" << "" << "(0.01 ~ 1000)";
    }

    void calculator()
    {
        QFETCH(QList<float>, results);
        QFETCH(int, sourcePresses);
        QFETCH(QStringList, entries);
        QFETCH(QString, shown);
        QFETCH(QString, sentence);
        QFETCH(QString, message);
        auto messages = ProtocolDialogScripts::answerMessagesWithOk();
        DiluionCalculatorDlg dlg;
        dlg.setConcentration(results[0], int(results[1]), results[2], int(results[3]), results[4], int(results[5]));
        for (int i = 0; i < sourcePresses; ++i)
            ProtocolDialogScripts::click(&dlg, "BUTTON_CURRENT_CONCENTRATION");
        QCOMPARE(field(dlg, "CURRENT")->toPlainText() + " " + field(dlg, "CURRENT_EXP")->toPlainText(), shown);
        const QStringList names{"CURRENT", "CURRENT_EXP", "DESIRED", "DESIRED_EXP", "FINAL_VOLUME"};
        for (int i = 0; i < names.size(); ++i) {
            if (!entries[i].isEmpty() || i >= 2)
                typeInto(dlg, names[i], entries[i]);
        }
        ProtocolDialogScripts::click(&dlg, "BUTTON_CALCULATE");
        QCOMPARE(dlg.resultText(), sentence);
        QCOMPARE(messages->join('|'), message.isEmpty() ? QString() : "<p><b>Error!</b><br/><br/>Please enter a number.<br/>" + message + "</p>");
        DialogRunner::setStandingScript({});
    }

    // The keypad types into the desired mantissa at opening; the length limits; current fields
    // keep their text outside Custom; a refusal clears an earlier sentence; four presses of the
    // source button come back to Total.
    void calculatorEntry()
    {
        auto messages = ProtocolDialogScripts::answerMessagesWithOk();
        DiluionCalculatorDlg dlg;
        dlg.setConcentration(2.0f, 6, 1.5f, 6, 0.5f, 6);
        typeInto(dlg, "", "1234");
        QCOMPARE(field(dlg, "DESIRED")->toPlainText(), QString("123"));
        typeInto(dlg, "DESIRED", "1..");
        QCOMPARE(field(dlg, "DESIRED")->toPlainText(), QString("1.."));
        typeInto(dlg, "DESIRED_EXP", "12");
        QCOMPARE(field(dlg, "DESIRED_EXP")->toPlainText(), QString("1"));
        typeInto(dlg, "FINAL_VOLUME", "12345");
        QCOMPARE(field(dlg, "FINAL_VOLUME")->toPlainText(), QString("1234"));
        typeInto(dlg, "CURRENT", "9<");
        QCOMPARE(field(dlg, "CURRENT")->toPlainText(), QString("2.0"));
        typeInto(dlg, "DESIRED", "1");
        typeInto(dlg, "DESIRED_EXP", "6");
        typeInto(dlg, "FINAL_VOLUME", "4");
        ProtocolDialogScripts::click(&dlg, "BUTTON_CALCULATE");
        QCOMPARE(dlg.resultText(), QString("Dilute 2 mL cell sample in 2 mL buffer."));
        typeInto(dlg, "FINAL_VOLUME", "");
        ProtocolDialogScripts::click(&dlg, "BUTTON_CALCULATE");
        QCOMPARE(dlg.resultText(), QString());
        QCOMPARE(messages->size(), 1);

        auto *source = dlg.findChild<QPushButton *>("BUTTON_CURRENT_CONCENTRATION");
        QStringList captions;
        for (int i = 0; i < 4; ++i) {
            source->click();
            captions << source->text() + " " + field(dlg, "CURRENT")->toPlainText();
        }
        QCOMPARE(captions, (QStringList{"Live 1.5", "Dead 0.5", "Custom 0.0", "Total 2.0"}));
        QVERIFY(field(dlg, "CURRENT")->isReadOnly());
        DialogRunner::setStandingScript({});
    }
};

QTEST_MAIN(TestCellCountModel)
#include "tst_cellcount_model.moc"
