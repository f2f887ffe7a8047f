#include "AppBench.h"
#include "BoardSimulator.h"
#include "ControlWidget.h"
#include "DialogRunner.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "SetupDlg.h"
#include "VideoWidget.h"
#include "ui_NIMBODlg.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QSettings>
#include <QSpinBox>
#include <QtTest>

// Keys that the control panel and the settings dialog both read, missing or holding what no
// dialog offers: both use the key's one default, and an OK in the settings dialog for another
// change writes that default, so the focus steps the same before and after.
class TestConfigReaders : public QObject
{
    Q_OBJECT
private slots:
    void panelAndSettingsAgree_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("missing") << QString();
        QTest::newRow("out of range") << "500000";
    }

    void panelAndSettingsAgree()
    {
        QFETCH(QString, value);
        AppBench bench;
        bench.quietStart();
        {
            QSettings config(Paths::configFile(), QSettings::IniFormat);
            for (const char *key : {"Focus/CoarseStepSize", "Focus/CoarseSpeed", "Setting_MultiColor/FontThickness"}) {
                if (value.isEmpty())
                    config.remove(key);
                else
                    config.setValue(key, value);
            }
        }
        bench.start();
        ControlWidget *panel = bench.ui()->m_ControlWidget;
        QTRY_VERIFY_WITH_TIMEOUT(bench.ui()->m_VideoWidget->isRunning(), 30000);

        // One coarse step up: 1 um is 51 motor steps.
        auto coarseUp = [&] {
            bench.sim->board()->clearLog();
            auto *up = panel->findChild<QAbstractButton *>("BUTTON_FOCUS_COARSE_UP");
            emit up->pressed();
            emit up->released();
            static const QRegularExpression step("^\\$A#SLIDER -?\\d+$");
            QStringList moves;
            const bool moved =
                QTest::qWaitFor([&] { return !(moves = bench.sim->board()->receivedTexts().filter(step)).isEmpty(); }, 10000);
            return moved ? moves.first() : QString("no move");
        };
        const QString expected = "$A#SLIDER 51";
        QCOMPARE(coarseUp(), expected);

        QList<int> shown;
        QString font;
        bench.setAnswer([&](QDialog *dialog) {
            auto *setup = qobject_cast<SetupDlg *>(dialog);
            if (!setup)
                return 1;
            shown = {setup->findChild<QSpinBox *>("SPINBOX_FOCUS_COARSE_STEP_SIZE")->value(),
                     setup->findChild<QSpinBox *>("SPINBOX_FOCUS_COARSE_SPEED")->value()};
            font = setup->findChild<QComboBox *>("COMB_FONT_THICKNESS")->currentText();
            setup->findChild<QLineEdit *>("EDIT_LENS_NAME_1")->setText("another change");
            DialogRunner::click(setup, "BUTTON_OK");
            return setup->result();
        });
        QTest::mouseClick(bench.ui()->BUTTON_SETTING_MENU, Qt::LeftButton);
        QVERIFY(bench.waitUnlocked());
        QCOMPARE(shown, (QList<int>{1, 350}));
        QCOMPARE(font, QString("24"));
        QCOMPARE(bench.config("LensName", "1"), QString("another change"));
        QCOMPARE(bench.config("Focus", "CoarseStepSize"), QString("1"));
        QCOMPARE(bench.config("Focus", "CoarseSpeed"), QString("350"));
        QCOMPARE(bench.config("Setting_MultiColor", "FontThickness"), QString("24"));
        QCOMPARE(coarseUp(), expected);
    }
};

QTEST_MAIN(TestConfigReaders)
#include "tst_config_readers.moc"
