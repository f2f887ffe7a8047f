#include "SetupDlgBench.h"

#include "DialogRunner.h"
#include "DialogScripts.h"
#include "KeyboardDlg.h"
#include "OfferedRange.h"
#include "Paths.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QToolBox>
#include <QtTest>

namespace {
const char *kMissing = "<missing>";
}

// How the settings dialog reads and writes the configuration file, and what the keypad puts into
// its fields.
class TestSetupDlg : public QObject
{
    Q_OBJECT
private slots:
    // One key stored (or missing), the dialog built and opened: the widget shows it, and OK's
    // writing leaves the key in its written form (read-only keys untouched).
    void keysRoundTrip_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("stored"); // kMissing: not in the file
        QTest::addColumn<QString>("widget"); // "?NAME": whether NAME is visible
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("written");
        auto row = [](const char *name, const char *section, const char *key, const char *stored, const char *widget,
                      const char *shown, const char *written) {
            QTest::newRow(name) << section << key << stored << widget << shown << written;
        };
        row("version", "NIMBO", "Version", "1.0.0", "SW_VERSION_LABEL", "1.0.0 /  / ", "1.0.0");
        row("firmware 2.5", "NIMBO", "Firmware", "2.5", "?SPINBOX_STABLE_Z_SPEED", "1", "2.5");
        row("firmware 2.5.0", "NIMBO", "Firmware", "2.5.0", "?LABEL_STABLE_Z_SPEED_TITLE", "1", "2.5.0");
        row("firmware 2.5.1", "NIMBO", "Firmware", "2.5.1", "?SPINBOX_STABLE_Z_SPEED", "0", "2.5.1");
        row("firmware 2.6", "NIMBO", "Firmware", "2.6", "?LABEL_STABLE_Z_SPEED_TITLE", "0", "2.6");
        row("firmware empty", "NIMBO", "Firmware", "", "?SPINBOX_STABLE_Z_SPEED", "1", "");
        row("firmware label", "NIMBO", "Firmware", "2.6", "SW_VERSION_LABEL", " / 2.6 / ", "2.6");
        row("serial", "NIMBO", "Serial", "VTS-12-34567", "SW_SERIAL_LABEL", "VTS-12-34567", "VTS-12-34567");
        row("camera default", "Camera", "PreviousMode", kMissing, "RADIO_8BIT", "1", "8");
        row("camera 16", "Camera", "PreviousMode", "16", "RADIO_16BIT", "1", "16");
        row("camera 12", "Camera", "PreviousMode", "12", "RADIO_8BIT", "1", "8");
        row("camera fallback", "Camera", "Mode", "16", "RADIO_16BIT", "1", "16");
        row("saturated", "Camera", "SaturatedPixel", kMissing, "CHKBOX_SATURATED_PIXEL", "0", "0");
        row("saturated 5", "Camera", "SaturatedPixel", "5", "CHKBOX_SATURATED_PIXEL", "0", "0"); // not a flag: the default
        row("hot pixel on", "Camera", "HotPixelEnable", "1", "CHKBOX_HOTPIXEL_ENABLED", "1", "1");
        row("threshold", "Camera", "Threshold", kMissing, "SPINBOX_HOTPIXEL", "60", kMissing);
        row("threshold 300", "Camera", "Threshold", "300", "SPINBOX_HOTPIXEL", "60", "300"); // beyond 255: the default
        row("hot exposure", "Camera", "HotPixelEx", kMissing, "COMBO_HOTPIXEL_EX", "3000", kMissing);
        row("hot exposure 99", "Camera", "HotPixelEx", "99", "COMBO_HOTPIXEL_EX", "3000", "99"); // no such row: the default
        row("hot exposure 55", "Camera", "HotPixelEx", "55", "COMBO_HOTPIXEL_EX", "15000", "55");
        row("filter 0", "Filter", "0", "Bright field", "EDIT_FILTER_POSITION_0", "Bright field", "Bright field");
        row("filter 1", "Filter", "1", kMissing, "EDIT_FILTER_POSITION_1", "", "");
        row("filter 2", "Filter", "2", "RFP", "EDIT_FILTER_POSITION_2", "RFP", "RFP");
        row("filter 3", "Filter", "3", "DAPI", "EDIT_FILTER_POSITION_3", "DAPI", "DAPI");
        row("filter colour 1", "FilterColor", "1", kMissing, "COMB_CH2_FILTER_COLOR", "G", "1");
        row("filter colour 2", "FilterColor", "2", kMissing, "COMB_CH3_FILTER_COLOR", "R", "0");
        row("filter colour 3", "FilterColor", "3", kMissing, "COMB_CH4_FILTER_COLOR", "B", "2");
        row("filter colour cyan", "FilterColor", "3", "4", "COMB_CH4_FILTER_COLOR", "CY", "4");
        row("filter colour 9", "FilterColor", "1", "9", "COMB_CH2_FILTER_COLOR", "G", "1"); // no such colour: the default
        row("lens 2 20x", "Lens", "2", "20x", "COMBO_LENS_POSITION_1", "20X", "20X");
        row("lens 1 missing", "Lens", "1", kMissing, "COMBO_LENS_POSITION_0", "1.25X", "1.25X");
        row("lens 3 7X", "Lens", "3", "7X", "COMBO_LENS_POSITION_2", "1.25X", "1.25X");
        row("lens 4", "Lens", "4", "40X", "COMBO_LENS_POSITION_3", "40X", "40X");
        row("lens 5", "Lens", "5", "N/A", "COMBO_LENS_POSITION_4", "N/A", "N/A");
        row("brand lower case", "LensType", "1", "olympus", "COMBO_LENS_TYPE_0", "Quorva", "Quorva");
        row("brand 2", "LensType", "2", "Zeiss", "COMBO_LENS_TYPE_1", "Zeiss", "Zeiss");
        row("brand 3", "LensType", "3", kMissing, "COMBO_LENS_TYPE_2", "Quorva", "Quorva");
        row("brand 4", "LensType", "4", "Olympus", "COMBO_LENS_TYPE_3", "Olympus", "Olympus");
        row("brand 5", "LensType", "5", kMissing, "COMBO_LENS_TYPE_4", "Quorva", "Quorva");
        row("note 1", "LensName", "1", "PLAN", "EDIT_LENS_NAME_1", "PLAN", "PLAN");
        row("note 2", "LensName", "2", kMissing, "EDIT_LENS_NAME_2", "", "");
        row("note 3", "LensName", "3", "FLUOR oil", "EDIT_LENS_NAME_3", "FLUOR oil", "FLUOR oil");
        row("note 4", "LensName", "4", "x", "EDIT_LENS_NAME_4", "x", "x");
        row("note 5", "LensName", "5", "y", "EDIT_LENS_NAME_5", "y", "y");
        row("aperture 1", "LensNA", "1", kMissing, "SPINBOX_LENS_NA_1", "0.13", "0.13");
        row("aperture 2", "LensNA", "2", kMissing, "SPINBOX_LENS_NA_2", "0.30", "0.3");
        row("aperture 3", "LensNA", "3", "2", "SPINBOX_LENS_NA_3", "0.40", "0.4"); // beyond 1.5: the default
        row("aperture 4", "LensNA", "4", "abc", "SPINBOX_LENS_NA_4", "0.60", "0.6"); // not a number: the default
        row("aperture 5", "LensNA", "5", kMissing, "SPINBOX_LENS_NA_5", "1.00", "1");
        row("knob", "Focus", "Knob", kMissing, "RADIO_KNOB_MODE_1", "1", "0");
        row("knob 1", "Focus", "Knob", "1", "RADIO_KNOB_MODE_2", "1", "1");
        row("knob 2", "Focus", "Knob", "2", "RADIO_KNOB_MODE_1", "1", "0");
        row("coarse speed", "Focus", "CoarseSpeed", kMissing, "SPINBOX_FOCUS_COARSE_SPEED", "350", "350");
        row("fine speed", "Focus", "FineSpeed", "12abc", "SPINBOX_FOCUS_FINE_SPEED", "5", "5"); // not a number: the default
        row("coarse step", "Focus", "CoarseStepSize", kMissing, "SPINBOX_FOCUS_COARSE_STEP_SIZE", "1", "1");
        row("fine step", "Focus", "FineStepSize", kMissing, "SPINBOX_FOCUS_FINE_STEP_SIZE", "0.05", "0.05");
        row("fine step 0.01", "Focus", "FineStepSize", "0.01", "SPINBOX_FOCUS_FINE_STEP_SIZE", "0.05", "0.05");
        row("fine step 0.5", "Focus", "FineStepSize", "0.5", "SPINBOX_FOCUS_FINE_STEP_SIZE", "0.50", "0.5");
        row("af range", "Focus", "FineAFRange", kMissing, "COMBO_FOCUS_FINE_AF_RANGE", "5", "5");
        row("af range 7", "Focus", "FineAFRange", "7", "COMBO_FOCUS_FINE_AF_RANGE", "7", "7");
        row("dof", "Focus", "DOF_Factor", kMissing, "SPINBOX_DOF_FACTOR", "0.50", "0.5");
        row("line width", "Setting_MultiColor", "LineThickness", "3", "COMB_LINE_THICKNESS", "4", "3");
        row("line colour", "Setting_MultiColor", "LineColor", kMissing, "COMB_LINE_COLOR", "G", "1");
        row("font size", "Setting_MultiColor", "FontThickness", kMissing, "COMB_FONT_THICKNESS", "24", "24");
        row("font size 25", "Setting_MultiColor", "FontThickness", "25", "COMB_FONT_THICKNESS", "5", "5");
        row("font colour", "Setting_MultiColor", "FontColor", "7", "COMB_FONT_COLOR", "GR", "7");
        row("quick save", "Setting_MultiColor", "Autosave", "1", "CHKBOX_AUTO_SAVE", "1", "1");
        row("quick save path", "Setting_MultiColor", "AutosavePath", kMissing, "LABEL_SAVE_PATH", "/VANTOR SSD/Quicksave/",
            "/media/VANTOR SSD/Quicksave/");
        row("quick save blank", "Setting_MultiColor", "AutosavePath", "   ", "LABEL_SAVE_PATH", "/VANTOR SSD/Quicksave/",
            "/media/VANTOR SSD/Quicksave/");
        row("quick save usb", "Setting_MultiColor", "AutosavePath", "/media/USB1/data", "LABEL_SAVE_PATH", "/USB1/data",
            "/media/USB1/data");
        row("quick save root", "Setting_MultiColor", "AutosavePath", "/root/data", "LABEL_SAVE_PATH", "/root/data", "/root/data");
        row("reduction lens", "ScaleBar", "ReductionLensMagnification", kMissing, "SPINBOX_REDUCTION_RATIO", "0.655", "0.655");
        row("lag time", "Setting_ZStack", "StableTimeInterval", kMissing, "SPINBOX_STABLE_TIME_INTERVAL", "0.1", "0.1");
        row("z speed", "Setting_ZStack", "StableZSpeed", kMissing, "SPINBOX_STABLE_Z_SPEED", "100", "100");
        row("parfocal delay", "LensPos", "Delay", "2.5", "SPINBOX_LENS_POS_DELAY", "2.5", "2.5");
        row("parfocal speed", "LensPos", "Speed", kMissing, "SPINBOX_LENS_POS_SPEED", "700", "700");
        row("welcome", "Setting_Misc", "ShowStartDlg", kMissing, "CHKBOX_SHOW_WELCOME", "1", "1");
        row("welcome off", "Setting_Misc", "ShowStartDlg", "0", "CHKBOX_SHOW_WELCOME", "0", "0");
        row("accel", "Setting_Misc", "Accel", kMissing, "SPINBOX_ACCEL", "700", "700");
        row("reduction", "Setting_Misc", "Reduction", kMissing, "SPINBOX_REDUCTION", "1.0", "1");
        row("af offset", "Setting_Misc", "AF_Offset", "-30", "SPINBOX_AF_OFFSET", "-30", "-30");
        row("cell size offset", "Setting_Misc", "CellSize_Offset", kMissing, "SPINBOX_CELL_SIZE_OFFSET", "5.0", "5");
        row("stage speed 900", "Setting_Misc", "Stage_MAXSPEED", "900", "SPINBOX_STAGE_MAX_SPEED", "700", "700");
        row("stage speed 0", "Setting_Misc", "Stage_MAXSPEED", "0", "SPINBOX_STAGE_MAX_SPEED", "700", "700");
        row("stage speed -5", "Setting_Misc", "Stage_MAXSPEED", "-5", "SPINBOX_STAGE_MAX_SPEED", "700", "700");
        row("stage speed 650", "Setting_Misc", "Stage_MAXSPEED", "650", "SPINBOX_STAGE_MAX_SPEED", "650", "650");
        row("stage focus speed", "Setting_Misc", "Stage_FOCUSSPEED", kMissing, "SPINBOX_STAGE_FOCUS_SPEED", "100", "100");
    }

    // Every number key the dialog edits holds in the configuration table exactly the range its
    // control offers: a wider table would hand the readers values no user can set.
    void rangesAreThoseOffered_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("widget");
        const QList<QStringList> rows = {
            {"Camera", "Threshold", "SPINBOX_HOTPIXEL"}, {"Camera", "HotPixelEx", "COMBO_HOTPIXEL_EX#data"},
            {"FilterColor", "1", "COMB_CH2_FILTER_COLOR#row"}, {"FilterColor", "2", "COMB_CH3_FILTER_COLOR#row"},
            {"FilterColor", "3", "COMB_CH4_FILTER_COLOR#row"}, {"Focus", "CoarseSpeed", "SPINBOX_FOCUS_COARSE_SPEED"},
            {"Focus", "FineSpeed", "SPINBOX_FOCUS_FINE_SPEED"}, {"Focus", "CoarseStepSize", "SPINBOX_FOCUS_COARSE_STEP_SIZE"},
            {"Focus", "FineStepSize", "SPINBOX_FOCUS_FINE_STEP_SIZE"}, {"Focus", "FineAFRange", "COMBO_FOCUS_FINE_AF_RANGE"},
            {"Focus", "DOF_Factor", "SPINBOX_DOF_FACTOR"}, {"Setting_MultiColor", "LineThickness", "COMB_LINE_THICKNESS#row"},
            {"Setting_MultiColor", "LineColor", "COMB_LINE_COLOR#row"}, {"Setting_MultiColor", "FontThickness", "COMB_FONT_THICKNESS"},
            {"Setting_MultiColor", "FontColor", "COMB_FONT_COLOR#row"}, {"ScaleBar", "ReductionLensMagnification", "SPINBOX_REDUCTION_RATIO"},
            {"Setting_ZStack", "StableTimeInterval", "SPINBOX_STABLE_TIME_INTERVAL"},
            {"Setting_ZStack", "StableZSpeed", "SPINBOX_STABLE_Z_SPEED"}, {"LensPos", "Delay", "SPINBOX_LENS_POS_DELAY"},
            {"LensPos", "Speed", "SPINBOX_LENS_POS_SPEED"}, {"Setting_Misc", "Accel", "SPINBOX_ACCEL"},
            {"Setting_Misc", "Reduction", "SPINBOX_REDUCTION"}, {"Setting_Misc", "AF_Offset", "SPINBOX_AF_OFFSET"},
            {"Setting_Misc", "CellSize_Offset", "SPINBOX_CELL_SIZE_OFFSET"},
            {"Setting_Misc", "Stage_MAXSPEED", "SPINBOX_STAGE_MAX_SPEED"},
            {"Setting_Misc", "Stage_FOCUSSPEED", "SPINBOX_STAGE_FOCUS_SPEED"}};
        for (const QStringList &row : rows)
            QTest::addRow("%s %s", qPrintable(row[0]), qPrintable(row[1])) << row[0] << row[1] << row[2];
        for (int lens = 1; lens <= 5; ++lens)
            QTest::addRow("LensNA %d", lens) << "LensNA" << QString::number(lens) << QString("SPINBOX_LENS_NA_%1").arg(lens);
    }

    void rangesAreThoseOffered()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, widget);
        SetupDlgBench bench;
        bench.build();
        // NAME#row: the combo stores its row; NAME#data: its item's data; else its text.
        const QString name = widget.section('#', 0, 0), by = widget.section('#', 1);
        const Stored stored = by == "row" ? Stored::Row : by == "data" ? Stored::Data : Stored::Text;
        const QString why = rangeMismatch(qPrintable(section), qPrintable(key), bench.widget(name), stored);
        QVERIFY2(why.isEmpty(), qPrintable(why));
    }

    void keysRoundTrip()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, stored);
        QFETCH(QString, widget);
        QFETCH(QString, shown);
        QFETCH(QString, written);
        SetupDlgBench bench;
        if (stored != kMissing)
            setSetting(section, key, stored);
        bench.build();
        bench.open();
        if (widget.startsWith('?'))
            QCOMPARE(bench.widget(widget.mid(1))->isHidden() ? "0" : "1", shown);
        else
            QCOMPARE(bench.shown(widget), shown);
        QVERIFY(bench.dialog->writeSetting());
        QCOMPARE(rawSetting(section, key), written);
    }

    // The version label's third part comes from the operating system's own file.
    void operatingSystemVersion()
    {
        SetupDlgBench bench;
        bench.root.writeFile("/root/Microscope/Microscope.ini", "[OS]\nVersion=2.2\n");
        bench.open();
        QCOMPARE(bench.shown("SW_VERSION_LABEL"), QString(" /  / 2.2"));
    }

    // Service controls by start mode: parfocality in QC test mode only, the service frame and the
    // hot-pixel values with serial logging.
    void serviceControlsByStartMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("parfocality");
        QTest::addColumn<bool>("service");
        QTest::newRow("normal") << int(EXEC_NORMAL) << false << false;
        QTest::newRow("serial log") << int(EXEC_SERIAL_LOG) << false << true;
        QTest::newRow("qc test") << int(EXEC_QC_TEST) << true << true;
    }

    void serviceControlsByStartMode()
    {
        QFETCH(int, mode);
        QFETCH(bool, parfocality);
        QFETCH(bool, service);
        SetupDlgBench bench{TExecMode(mode)};
        bench.open();
        for (const char *name : {"SPINBOX_LENS_POS_DELAY", "SPINBOX_LENS_POS_SPEED", "BUTTON_POS_CLEAR", "LABEL_POS_CLEAR"})
            QCOMPARE(!bench.widget(name)->isHidden(), parfocality);
        for (const char *name : {"BUTTON_RESET_ALL", "FRAME_HIDE_PARAM", "SPINBOX_HOTPIXEL", "COMBO_HOTPIXEL_EX"})
            QCOMPARE(!bench.widget(name)->isHidden(), service);
    }

    // The choice lists, the units and the feature page chosen by the screen the dialog was built on.
    void choiceLists()
    {
        SetupDlgBench bench;
        g_CurrentMenu = MENU_ZSTACK;
        bench.build();
        auto items = [&bench](const char *name) {
            QStringList list;
            auto *combo = bench.widget<QComboBox>(name);
            for (int i = 0; i < combo->count(); ++i)
                list << combo->itemText(i);
            return list;
        };
        QCOMPARE(items("COMBO_LENS_POSITION_3").size(), 13);
        QCOMPARE(items("COMBO_LENS_POSITION_3").last(), QString("N/A"));
        QCOMPARE(items("COMBO_LENS_TYPE_4"), QStringList({"Quorva", "Olympus", "Zeiss"}));
        QCOMPARE(items("COMB_CH3_FILTER_COLOR"), QStringList({"R", "G", "B", "Y", "CY"}));
        QCOMPARE(items("COMB_LINE_COLOR").size(), 8);
        QCOMPARE(items("COMBO_FOCUS_FINE_AF_RANGE"), QStringList({"3", "5", "10", "20"}));
        auto *exposure = bench.widget<QComboBox>("COMBO_HOTPIXEL_EX");
        QCOMPARE(exposure->count(), 56);
        QCOMPARE(exposure->itemText(55), QString("15000"));
        QCOMPARE(exposure->itemData(31).toInt(), 31);
        QCOMPARE(exposure->itemText(31), QString("3000"));
        QVERIFY(bench.widget<QComboBox>("COMBO_FOCUS_FINE_AF_RANGE")->lineEdit()->isReadOnly());
        QCOMPARE(bench.shown("LABEL_PLUS_MINUS"), QString::fromUtf8("\u00b1"));
        QCOMPARE(bench.shown("LABEL_FINE_RESOLUTION"), QString::fromUtf8("Fine focus resolution (0.05-1.00 \u00b5m)"));
        QVERIFY(bench.widget("SLIDESHOW_INTERVAL_COMBOBOX")->isHidden());
        QCOMPARE(bench.widget<QToolBox>("FEATURE_TOOLBOX")->currentIndex(), 1);
        QCOMPARE(bench.widget<QToolBox>("COMMON_SETTING_TOOLBOX")->currentIndex(), 0);
        QCOMPARE(bench.dialog->geometry(), QRect(1542, 60, 378, 1020));
    }

    // After OK every key stands in the file as Python's configparser reads it, in its form, and
    // no "%20" is left anywhere.
    void okLeavesAFileConfigparserReads()
    {
        SetupDlgBench bench;
        bench.root.writeFile("/root/Microscope/NIMBO/NIMBO.ini",
                             "[Protocol%20Name]\nCell%20Type=HeLa%20cells\n[Focus]\nKnob=1\n");
        bench.open(true);
        bench.widget<QLineEdit>("EDIT_LENS_NAME_2")->setText(QString::fromUtf8("Plan \u00b5 oil"));
        bench.click("BUTTON_OK");
        QVERIFY(bench.dialog->isSaved());
        const QByteArray bytes = configBytes();
        QVERIFY(!bytes.contains("%20"));
        QVERIFY(bytes.contains(QString::fromUtf8("Plan \u00b5 oil").toUtf8())); // UTF-8 as it is
        const QJsonObject ini = parsedByConfigparser();
        QCOMPARE(ini["Protocol Name"].toObject()["Cell Type"].toString(), QString("HeLa cells"));
        const QJsonObject lensNA = ini["LensNA"].toObject();
        QCOMPARE(lensNA["1"].toString(), QString("0.13"));
        QCOMPARE(lensNA["5"].toString(), QString("1"));
        QCOMPARE(ini["ScaleBar"].toObject()["ReductionLensMagnification"].toString(), QString("0.655"));
        QCOMPARE(ini["Focus"].toObject()["Knob"].toString(), QString("1"));
        QCOMPARE(ini["LensName"].toObject()["2"].toString(), QString::fromUtf8("Plan \u00b5 oil"));
        QCOMPARE(ini["Camera"].toObject()["Mode"].toString(), QString("8"));
        QCOMPARE(ini["Filter"].toObject()["0"].toString(), QString("Trans"));
        int keys = 0;
        for (const QString &section : ini.keys())
            keys += ini[section].toObject().size();
        QCOMPARE(keys, 1 + 56); // the protocol's key and every key OK writes in live mode
    }

    // The keypad, field by field: what is typed, what the field then holds, and the message shown.
    void keypad_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("message");
        const QString numerals = "<p><b>Use numerals only.</b></p>";
        const QString thirtyFive = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345678";
        QTest::newRow("na 0.456") << "SPINBOX_LENS_NA_1" << "0.456" << "0.46" << "";
        QTest::newRow("na 2") << "SPINBOX_LENS_NA_1" << "2" << "1.50" << "";
        QTest::newRow("na abc") << "SPINBOX_LENS_NA_1" << "abc" << "0.01" << "";
        QTest::newRow("na -0.5") << "SPINBOX_LENS_NA_1" << "-0.5" << "0.13" << numerals;
        QTest::newRow("na nan") << "SPINBOX_LENS_NA_2" << "nan" << "0.01" << "";
        QTest::newRow("dof -1") << "SPINBOX_DOF_FACTOR" << "-1" << "0.50" << numerals;
        QTest::newRow("reduction 0.36") << "SPINBOX_REDUCTION" << "0.36" << "0.4" << "";
        QTest::newRow("accel -1") << "SPINBOX_ACCEL" << "-1" << "700" << numerals;
        QTest::newRow("accel 5000") << "SPINBOX_ACCEL" << "5000" << "1000" << "";
        QTest::newRow("af offset -50") << "SPINBOX_AF_OFFSET" << "-50" << "-50" << "";
        QTest::newRow("af offset -5000") << "SPINBOX_AF_OFFSET" << "-5000" << "-1000" << "";
        QTest::newRow("af offset 3.7") << "SPINBOX_AF_OFFSET" << "3.7" << "0" << "";
        QTest::newRow("cell size -3") << "SPINBOX_CELL_SIZE_OFFSET" << "-3" << "0.0" << "";
        QTest::newRow("stage speed 0") << "SPINBOX_STAGE_MAX_SPEED" << "0" << "1" << "";
        QTest::newRow("stage speed -20") << "SPINBOX_STAGE_MAX_SPEED" << "-20" << "1" << "";
        QTest::newRow("focus speed 50") << "SPINBOX_STAGE_FOCUS_SPEED" << "50" << "100" << "";
        QTest::newRow("filter GFP") << "EDIT_FILTER_POSITION_2" << "GFP" << "GFP" << "";
        QTest::newRow("filter DAPI:2") << "EDIT_FILTER_POSITION_1" << "DAPI:2" << "old" << "MessageDlg";
        QTest::newRow("filter empty") << "EDIT_FILTER_POSITION_3" << "" << "old" << "MessageDlg";
        QTest::newRow("filter 35") << "EDIT_FILTER_POSITION_0" << thirtyFive << thirtyFive.left(30) << "";
        QTest::newRow("note 35") << "EDIT_LENS_NAME_3" << thirtyFive << thirtyFive.left(30) << "";
        QTest::newRow("note DAPI:2") << "EDIT_LENS_NAME_1" << "DAPI:2" << "DAPI:2" << "";
        QTest::newRow("note empty") << "EDIT_LENS_NAME_5" << "" << "" << "";
    }

    void keypad()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(QString, message);
        SetupDlgBench bench;
        for (const char *name : {"EDIT_FILTER_POSITION_0", "EDIT_FILTER_POSITION_1", "EDIT_FILTER_POSITION_3",
                                 "EDIT_LENS_NAME_1", "EDIT_LENS_NAME_5"})
            setSetting(QString(name).startsWith("EDIT_F") ? "Filter" : "LensName", QString(name).right(1), "old");
        bench.open();
        QString opened;
        DialogScripts::pushAct([&opened, typed](QDialog *keyboard) {
            opened = qobject_cast<KeyboardDlg *>(keyboard)->text();
            qobject_cast<KeyboardDlg *>(keyboard)->setText(typed);
            DialogRunner::click(keyboard, "BUTTON_KEY_ENTER");
            if (keyboard->isVisible())
                DialogRunner::click(keyboard, "BUTTON_EXIT");
        });
        const QString before = bench.shown(field);
        bench.press(field);
        QCOMPARE(DialogRunner::pendingScripts(), 0);
        QCOMPARE(opened, before);
        QCOMPARE(bench.shown(field), shown);
        if (message.isEmpty())
            QCOMPARE(*bench.messages, QStringList());
        else
            QVERIFY2(bench.messages->size() == 1 && bench.messages->first().contains(message),
                     qPrintable(bench.messages->join('|')));
    }

    // No keyboard opens from a spin box's arrows, a disabled spin box, a field without keypad, or
    // while the settings screen is not current; touching the date or time marks them as edited.
    void keypadOpensOnlyWhereItShould()
    {
        SetupDlgBench bench(EXEC_SERIAL_LOG);
        bench.open();
        bench.dialog->show();
        bench.widget<QToolBox>("COMMON_SETTING_TOOLBOX")->setCurrentIndex(5);
        QVERIFY(QTest::qWaitForWindowExposed(bench.dialog.get()));
        auto *accel = bench.widget<QSpinBox>("SPINBOX_ACCEL");
        QTest::mouseClick(accel, Qt::LeftButton, {}, QPoint(accel->width() - 4, 4)); // the up arrow
        QCOMPARE(accel->value(), 701);
        accel->setEnabled(false);
        bench.press("SPINBOX_ACCEL");
        bench.press("SPINBOX_REDUCTION_RATIO");
        g_CurrentMenu = MENU_MULTICOLOR;
        bench.press("EDIT_FILTER_POSITION_0");
        bench.press("MINU_SPINBOX");
        QCOMPARE(DialogRunner::log(), QStringList());

        bench.dialog->updateCurrentDateTime("2026/12/25", "09:05");
        QCOMPARE(bench.shown("MONTH_SPINBOX"), QString("12"));
        g_CurrentMenu = MENU_SETTING;
        QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(bench.widget("MINU_SPINBOX"), &wheel);
        bench.dialog->updateCurrentDateTime("2027/01/02", "10:30");
        QCOMPARE(bench.shown("YEAR_SPINBOX"), QString("2026"));
        QCOMPARE(DialogRunner::log(), QStringList());
        bench.open(); // the next opening follows the clock again
        bench.dialog->updateCurrentDateTime("2027/01/02", "10:30");
        QCOMPARE(bench.shown("YEAR_SPINBOX") + " " + bench.shown("HOUR_SPINBOX") + " " + bench.shown("MINU_SPINBOX"),
                 QString("2027 10 30"));
    }
};

QTEST_MAIN(TestSetupDlg)
#include "tst_setupdlg.moc"
