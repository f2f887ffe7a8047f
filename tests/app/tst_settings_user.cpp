#include "AppBench.h"
#include "ControlWidget.h"
#include "DialogRunner.h"
#include "KeyboardDlg.h"
#include "NIMBODlg.h"
#include "ScaleBar.h"
#include "SetupDlg.h"
#include "VideoWidget.h"
#include "ui_NIMBODlg.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QtTest>

// The settings panel on the simulated instrument, as a new user tries it: open it from the main
// menu, change an objective, rename a filter cube on the keypad, switch to 16 bit while the live
// view runs, and press OK.
class TestSettingsUser : public QObject
{
    Q_OBJECT
private slots:
    void aUserChangesTheInstrumentsSettings()
    {
        AppBench bench;
        bench.quietStart();
        bench.start();
        Ui_NIMBODlg *ui = bench.ui();
        ControlWidget *panel = ui->m_ControlWidget;
        QTRY_VERIFY(ui->m_VideoWidget->isRunning());
        const int lens = panel->currentObjectivePosition();
        QVERIFY(lens >= 1 && lens <= 5);

        QStringList seen;
        QStringList callsOfOk;
        bench.setAnswer([&](QDialog *dialog) {
            seen << dialog->metaObject()->className();
            if (qobject_cast<KeyboardDlg *>(dialog)) {
                return DialogRunner::showAndRun(dialog, [](QDialog *keyboard) {
                    qobject_cast<KeyboardDlg *>(keyboard)->setText("mCherry");
                    QTest::qWait(400); // the field's clear-button fade ends before the keyboard goes
                    DialogRunner::click(keyboard, "BUTTON_KEY_ENTER");
                });
            }
            auto *setup = qobject_cast<SetupDlg *>(dialog);
            if (!setup)
                return 1;
            if (g_CurrentMenu != MENU_SETTING || !setup->isEnabled())
                return 0;
            // Lens 2 and the objective in the light path both become 20X.
            for (int position : {2, lens})
                setup->findChild<QComboBox *>(QString("COMBO_LENS_POSITION_%1").arg(position - 1))->setCurrentText("20X");
            auto *filter = setup->findChild<QLineEdit *>("EDIT_FILTER_POSITION_1");
            QTest::mousePress(filter, Qt::LeftButton);
            QTest::mouseRelease(filter, Qt::LeftButton);
            auto *sixteen = setup->findChild<QRadioButton *>("RADIO_16BIT");
            if (!sixteen->isEnabled())
                return 0;
            sixteen->click();
            bench.actions.clearCalls();
            DialogRunner::click(setup, "BUTTON_OK");
            callsOfOk = bench.actions.calls();
            return setup->result();
        });
        QTest::mouseClick(ui->BUTTON_SETTING_MENU, Qt::LeftButton);
        QVERIFY(bench.waitUnlocked());

        QCOMPARE(seen, QStringList({"SetupDlg", "KeyboardDlg"}));
        QVERIFY(bench.window->setupDlg().isSaved());
        QCOMPARE(callsOfOk, QStringList({"sync"}));
        QCOMPARE(bench.config("Filter", "1"), QString("mCherry"));
        QCOMPARE(bench.config("Lens", "2"), QString("20X"));
        QCOMPARE(bench.config("Camera", "Mode"), QString("16"));

        // The panel shows the new names and mode; the scale bar measures with the new objective.
        QCOMPARE(panel->findChild<QAbstractButton *>("BUTTON_FILTER_POSITION_1")->text(), QString("mCher"));
        QCOMPARE(panel->findChild<QLabel *>("LABEL_LENS_CURRENT")->text(), QString("20X"));
        QTRY_COMPARE(panel->currentCameraMode(), 16);
        const ScaleBar &scale = bench.window->scaleBar();
        QVERIFY(qAbs(scale.m_PixelSize - scale.m_CMOSPixelSize / (20 * scale.m_ReductionLensMagnification)) < 1e-4f);
        QCOMPARE(g_CurrentMenu, MENU_MULTICOLOR);
    }
};

QTEST_MAIN(TestSettingsUser)
#include "tst_settings_user.moc"
