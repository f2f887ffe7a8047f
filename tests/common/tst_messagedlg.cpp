#include "DialogRunner.h"
#include "DialogScripts.h"
#include "MessageDlg.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

enum Layout { None, Ok, OkCancel };

struct Preset
{
    int type;
    const char *text;
    Layout layout;
    bool icon;
};

// Every preset as the user must read it, with its buttons and icon.
const Preset kPresets[] = {
        {0, "<p><b>Error!</b><br/><br/>Serial communication has been disrupted. Unplug the power cord and reconnect. If the problem persists, contact your local distributor", None, true},
        {1, "<p><b>Error!</b><br/><br/>The objective lens or filter cube is not in position.<br/>Check the position of the objective lens and filter cube.</p>", Ok, false},
        {2, "<p><b>Warning!</b><br/><br/>If you leave this window without saving, the data will be lost.<br/>Press OK to continue or Cancel to stay.</p>", OkCancel, false},
        {3, "<p><b>System Shut Down</b><br/><br/>Are you sure you want to shut down the system now?</p>", OkCancel, false},
        {4, "<p><b>Enter file name.</b><br/><br/></p>", Ok, false},
        {5, "<p><b>Target Folder Not Selected</b><br/><br/>Select a target folder to save file(s).</p>", Ok, false},
        {6, "<p><b>Insufficient Disk Space</b><br/><br/>You are out of disk space.<br/>Delete old or unnecessary files.</p>", Ok, false},
        {7, "<p><b>Error!</b><br/><br/>You cannot copy a folder into itself.<br/>The destination folder is inside the source folder.</p>", Ok, false},
        {8, "<p><b>Error!</b><br/><br/>The current path is empty. Select a path and try again.</p>", Ok, false},
        {9, "<p><b>USB Drive Not Detected</b><br/><br/>Insert a USB drive and try again.</p>", Ok, false},
        {10, "<p><b>USB Drive Not Detected</b><br/><br/>Reinsert a USB drive and try again.</p>", Ok, false},
        {11, "<p><b>Save Failed</b><br/><br/>Try again.</p>", Ok, false},
        {12, "<p><b>Save Complete</b><br/><br/>Your data was saved successfully.</p>", Ok, false},
        {13, "<p><b>Error!</b><br/><br/>There is no selected image.</p>", Ok, false},
        {14, "<p><b>Error!</b><br/><br/>Images in Multicolor mode may not be captured with different camera modes. Press Clear and start over.</p>", Ok, false},
        {15, "<p><b>Error!</b><br/><br/>Input value range exceeded.</p>", Ok, false},
        {16, "<p><b>Warning!</b><br/><br/>This data will be permanently deleted.<br/>Are you sure you want to delete this data?</p>", OkCancel, false},
        {17, "<p><b>Error!</b><br/><br/>The distance between the start and stop position must be greater than the image acquisition interval.</p>", Ok, false},
        {18, "<p><b>Error!</b><br/><br/>Set the image acquisition interval.</p>", Ok, false},
        {19, "<p><b>Error!</b><br/><br/>Set the number of images to be captured.</p>", Ok, false},
        {20, "<p><b>Error!</b><br/><br/>The number of images must be greater than 1.</p>", Ok, false},
        {21, "<p><b>Z-stack imaging in progress ...</b><br/><br/>Do not touch the focus knobs.<br/>To stop stacking images, press Stop.</p>", Ok, false},
        {22, "<p><b>Use numerals only.</b></p>", Ok, false},
        {23, "<p><b>Error!</b><br/><br/>The position parameter is not set.</p>", Ok, false},
        {24, "<p><b>Error!</b><br/><br/><p>Exposure time cannot exceed interval time.<br/>Or your exposure time is much longer.<br/>Use a longer interval or shorter exposure time.</p>", Ok, false},
        {25, "<p><b>Error!</b><br/><br/>Total imaging time must be greater than the minimum time interval.</p>", Ok, false},
        {26, "<p><b>Error!</b><br/><br/>The minimum time interval cannot be less than 10 seconds.</p>", Ok, false},
        {27, "<p><b>Error!</b><br/><br/>When using focus drift correction, the minimum time interval cannot be less than 1 minute.</p>", Ok, false},
        {28, "<p><b>Warning!</b><br/><br/>The selected file(s) will be permanently deleted.<br/>Are you sure you want to delete?</p>", OkCancel, false},
        {29, "<p><b>Error!</b><br/><br/>File and folder names cannot contain the following characters:<br/><br/> \\ / : * ? \" &lt; &gt; | </p>", Ok, false},
        {30, "<p><b>Error!</b><br/><br/>Names cannot contain the following characters:<br/><br/> \\ / : * ? \" &lt; &gt; | </p>", Ok, false},
        {31, "<p><b>Error!</b><br/><br/>This name is already in use in this folder. Enter a different name.</p>", Ok, false},
        {32, "<p><b>Video Display Error!</b><br/><br/>Could not set video mode.</p>", None, true},
        {33, "<p><b>Error!</b><br/><br/>Camera synchronization has been disrupted. Unplug the power cord and reconnect. If the problem persists, contact your local distributor", None, true},
        {34, "<p><b>No Objective Lens Installed</b><br/><br/>The current position is empty.<br/>Select an objective lens to be able to place a scale bar.</p>", Ok, false},
        {35, "<p><b>Error!</b><br/><br/>Your SSD drive is somehow not detected. Please turn off and on the instrument, and try again. If the problem persists, contact your local distributor", Ok, false},
        {36, "<p><b>Error!</b><br/><br/>The maximum number of images that can be acquired in<br/>one time lapse sequence is 10,000.<br/>Adjust the parameters and try again.</p>", Ok, false},
        {37, "<p><b>Error!</b><br/><br/>The maximum number of images that can be acquired in<br/>one z stack sequence is 1,000.<br/>Adjust the parameters and try again.</p>", Ok, false},
        {38, "<p><b>Error!</b><br/><br/>The selected objective lens does not support FineAF.<br/>Please try again.</p>", Ok, false},
        {39, "<p><b>Error!</b><br/><br/>DOF calculation failed.<br/>Please try again.</p>", Ok, false},
        {40, "<p><b>Error!</b><br/><br/>Cannot find image files.<br/>Please try again.</p>", Ok, false},
        {41, "<p><b>Error!</b><br/><br/>The last image can not be deleted.</p>", Ok, false},
};

QPushButton *okButton(MessageDlg &box) { return box.findChild<QPushButton *>("BUTTON_OK"); }
QPushButton *cancelButton(MessageDlg &box) { return box.findChild<QPushButton *>("BUTTON_CANCEL"); }
QLabel *icon(MessageDlg &box) { return box.findChild<QLabel *>("LABEL_ERROR_ICON"); }

// "hidden", or "x" of a shown button.
QString place(QWidget *button)
{
    return button->isHidden() ? QString("hidden") : QString::number(button->x());
}

} // namespace

class TestMessageDlg : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        DialogRunner::clearScripts();
        DialogRunner::clearLog();
    }

    void everyPresetHasItsTextIconAndButtons()
    {
        QCOMPARE(int(sizeof(kPresets) / sizeof(kPresets[0])), 42);
        for (const Preset &preset : kPresets) {
            MessageDlg box;
            box.setMsgType(TMessageType(preset.type));
            const QString what = QString("type %1").arg(preset.type);
            QVERIFY2(DialogScripts::messageText(&box) == QString::fromUtf8(preset.text), qPrintable(what));
            QVERIFY2(MessageDlg::presetText(TMessageType(preset.type)) == QString::fromUtf8(preset.text), qPrintable(what));
            QVERIFY2(icon(box)->isHidden() == !preset.icon, qPrintable(what));
            QCOMPARE(okButton(box)->y(), 234);
            QCOMPARE(cancelButton(box)->y(), 234);
            switch (preset.layout) {
            case None:
                QCOMPARE(place(okButton(box)), QString("hidden"));
                QCOMPARE(place(cancelButton(box)), QString("hidden"));
                break;
            case Ok:
                QCOMPARE(place(okButton(box)), QString("210"));
                QCOMPARE(place(cancelButton(box)), QString("hidden"));
                break;
            case OkCancel:
                QCOMPARE(place(okButton(box)), QString("129"));
                QCOMPARE(place(cancelButton(box)), QString("290"));
                break;
            }
        }
    }

    void theListOfForbiddenCharactersIsExact()
    {
        const QString tail = QStringLiteral("<br/><br/> \\ / : * ? \" &lt; &gt; | </p>");
        QVERIFY(MessageDlg::presetText(MSG_INVALID_FILE_NAME_CHARS).endsWith(tail));
        QVERIFY(MessageDlg::presetText(MSG_INVALID_NAME_CHARS).endsWith(tail));
    }

    void layoutsAndTypesOutsideTheTables()
    {
        MessageDlg fresh;
        fresh.setMsgType(TMessageType(42));
        QCOMPARE(DialogScripts::messageText(&fresh), QString("Message"));
        QCOMPARE(place(okButton(fresh)), QString("hidden"));
        QCOMPARE(place(cancelButton(fresh)), QString("hidden"));

        MessageDlg box;
        box.setButtonVisibility(MSG_BUTTON_CANCEL);
        QCOMPARE(place(okButton(box)), QString("hidden"));
        QCOMPARE(place(cancelButton(box)), QString("210"));
        box.setButtonVisibility(TMessageButtonVisibility(4)); // no change
        QCOMPARE(place(okButton(box)), QString("hidden"));
        QCOMPARE(place(cancelButton(box)), QString("210"));

        MessageDlg okOnly(true);
        QCOMPARE(place(okButton(okOnly)), QString("210"));
        QCOMPARE(place(cancelButton(okOnly)), QString("hidden"));
    }

    void laterTypesOnTheSameBox()
    {
        MessageDlg box;
        box.setMsgType(MSG_LEAVE_WITHOUT_SAVING);
        box.setMsgType(MSG_SAVE_COMPLETE);
        QCOMPARE(place(okButton(box)), QString("210"));
        QCOMPARE(place(cancelButton(box)), QString("hidden"));

        MessageDlg iconBox;
        iconBox.setMsgType(MSG_SERIAL_DISRUPTED);
        iconBox.setMsgType(MSG_SAVE_FAILED);
        QVERIFY(!icon(iconBox)->isHidden()); // the icon stays once shown
        QCOMPARE(place(okButton(iconBox)), QString("210"));
    }

    void freeTextAndRelabelledButtons()
    {
        MessageDlg box;
        box.setMsgType(MSG_SHUT_DOWN);
        box.setMessage("<p><b>Warning!</b><br/><br/>Something</p>");
        QCOMPARE(DialogScripts::messageText(&box), QString("<p><b>Warning!</b><br/><br/>Something</p>"));
        QCOMPARE(place(cancelButton(box)), QString("290")); // buttons untouched
        box.setButtonText("Stop", "Cancel");
        QCOMPARE(okButton(box)->text(), QString("Stop"));
        QCOMPARE(cancelButton(box)->text(), QString("Cancel"));
        box.setCheckBoxState(true, true);
        QVERIFY(!box.findChild<QCheckBox *>("CEHCKBOX")->isHidden());
        QVERIFY(box.findChild<QCheckBox *>("CEHCKBOX")->isChecked());
    }

    void execAnswersOneForOkAndZeroForCancel()
    {
        DialogScripts::pushClick("BUTTON_OK");
        DialogScripts::pushClick("BUTTON_CANCEL");
        MessageDlg shutDown;
        shutDown.setMsgType(MSG_SHUT_DOWN);
        QCOMPARE(shutDown.exec(), 1);
        MessageDlg leave;
        leave.setMsgType(MSG_LEAVE_WITHOUT_SAVING);
        QCOMPARE(leave.exec(), 0);
        QCOMPARE(DialogRunner::log(), QStringList({"MessageDlg:MessageDlg", "MessageDlg:MessageDlg"}));
    }

    void withoutAScriptExecRunsTheRealModalLoop()
    {
        MessageDlg box;
        box.setMsgType(MSG_DELETE_FILES);
        QTimer::singleShot(50, &box, [&box] {
            QVERIFY(box.isVisible());
            cancelButton(box)->click();
        });
        QCOMPARE(box.exec(), 0);
        QCOMPARE(DialogRunner::log().size(), 1);
    }

    void keysNeverCloseTheBox()
    {
        bool stayedOpen = false;
        DialogScripts::pushAct([&stayedOpen](QDialog *dialog) {
            QTest::keyClick(dialog, Qt::Key_Escape);
            QTest::keyClick(dialog, Qt::Key_Return);
            QTest::keyClick(dialog, Qt::Key_Enter);
            QTest::keyClick(dialog, Qt::Key_Space);
            QCoreApplication::processEvents();
            stayedOpen = dialog->isVisible() && dialog->result() == 0;
            DialogRunner::click(dialog, "BUTTON_OK");
        });
        MessageDlg box;
        box.setMsgType(MSG_SHUT_DOWN);
        QCOMPARE(box.exec(), 1);
        QVERIFY(stayedOpen);
    }

    void signalModeLeavesClosingToTheOwner()
    {
        auto *box = new MessageDlg;
        box->setMsgType(MSG_ZSTACK_IN_PROGRESS);
        box->setButtonText("Stop", "Cancel");
        box->setSignalMode(true);
        QSignalSpy ok(box, &MessageDlg::signalOKClicked);
        QSignalSpy cancel(box, &MessageDlg::signalCANCELClicked);
        bool openAfterPress = false;
        DialogScripts::pushAct([&](QDialog *dialog) {
            DialogRunner::click(dialog, "BUTTON_OK");
            DialogRunner::click(dialog, "BUTTON_OK");
            box->setButtonVisibility(MSG_BUTTON_OK_CANCEL);
            DialogRunner::click(dialog, "BUTTON_CANCEL");
            QCoreApplication::processEvents();
            openAfterPress = dialog->isVisible();
            // the owner's sequence ends and closes the box
            QTimer::singleShot(20, dialog, &QDialog::close);
        });
        box->exec();
        QVERIFY(openAfterPress);
        QCOMPARE(ok.count(), 2);
        QCOMPARE(cancel.count(), 1);
        QVERIFY(!box->isVisible());
        box->deleteLater();
    }

    void anOpenBoxComesBackOnTopWithinASecond()
    {
        MessageDlg box;
        box.setMsgType(MSG_SHUT_DOWN);
        box.show();
        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &other);
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), &box, 10000); // a one-second timer; only a hang fails

        // An owner that keeps a box without showing it stops the timer.
        box.enableZOrderTimer(false);
        other.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &other);
        QTest::qWait(1300);
        QCOMPARE(QApplication::activeWindow(), &other);
    }

    void aBoxWithoutButtonsStaysUntilItsOwnerClosesIt()
    {
        MessageDlg box;
        box.setMsgType(MSG_CAMERA_SYNC_DISRUPTED);
        DialogScripts::pushAct([](QDialog *) {}, 300);
        QCOMPARE(box.exec(), -1); // still open when the script gave up
    }
};

QTEST_MAIN(TestMessageDlg)
#include "tst_messagedlg.moc"
