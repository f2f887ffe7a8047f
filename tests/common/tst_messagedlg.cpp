#include "DialogRunner.h"
#include "DialogScripts.h"
#include "MessageDlg.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {

// The buttons of every preset by type: N none, O OK alone, C OK and Cancel.
const char kLayouts[] = "NOCCOOOOOOOOOOOOCOOOOOOOOOOOCOOONNOOOOOOOO";
const QList<int> kIconTypes{0, 32, 33};

QPushButton *okButton(MessageDlg &box) { return box.findChild<QPushButton *>("BUTTON_OK"); }
QPushButton *cancelButton(MessageDlg &box) { return box.findChild<QPushButton *>("BUTTON_CANCEL"); }

// Where the buttons stand: "OK x / Cancel x", a hidden one as "-".
QString places(MessageDlg &box)
{
    auto place = [](QWidget *b) { return b->isHidden() ? QString("-") : QString::number(b->x()); };
    return place(okButton(box)) + " / " + place(cancelButton(box));
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
        const QMap<QChar, QString> layout{{'N', "- / -"}, {'O', "210 / -"}, {'C', "129 / 290"}};
        for (int type = 0; type < int(sizeof kLayouts) - 1; ++type) {
            MessageDlg box;
            box.setMsgType(TMessageType(type));
            const QByteArray what = "type " + QByteArray::number(type);
            QVERIFY2(DialogScripts::messageText(&box) == MessageDlg::presetText(TMessageType(type)), what);
            QVERIFY2(box.findChild<QLabel *>("LABEL_ERROR_ICON")->isHidden() != kIconTypes.contains(type), what);
            QVERIFY2(places(box) == layout[kLayouts[type]], what);
            QVERIFY2(okButton(box)->y() == 234 && cancelButton(box)->y() == 234, what);
        }
        // Texts with the user's marks: the names' forbidden characters, a nested paragraph.
        const QString forbidden = "<br/><br/> \\ / : * ? \" &lt; &gt; | </p>";
        QVERIFY(MessageDlg::presetText(MSG_INVALID_FILE_NAME_CHARS).endsWith(forbidden));
        QVERIFY(MessageDlg::presetText(MSG_INVALID_NAME_CHARS).endsWith(forbidden));
        QCOMPARE(MessageDlg::presetText(MSG_SHUT_DOWN),
                 QString("<p><b>System Shut Down</b><br/><br/>Are you sure you want to shut down the system now?</p>"));
    }

    // Types outside the table, button choices, and later types on the same box.
    void layoutsOutsideThePresets()
    {
        MessageDlg fresh;
        fresh.setMsgType(TMessageType(42));
        QCOMPARE(DialogScripts::messageText(&fresh), QString("Message"));
        QCOMPARE(places(fresh), QString("- / -"));
        MessageDlg box;
        box.setButtonVisibility(MSG_BUTTON_CANCEL);
        QCOMPARE(places(box), QString("- / 210"));
        box.setButtonVisibility(TMessageButtonVisibility(4)); // no change
        QCOMPARE(places(box), QString("- / 210"));
        MessageDlg okOnly(true);
        QCOMPARE(places(okOnly), QString("210 / -"));

        MessageDlg later;
        later.setMsgType(MSG_SERIAL_DISRUPTED);
        later.setMsgType(MSG_LEAVE_WITHOUT_SAVING);
        later.setMsgType(MSG_SAVE_FAILED);
        QCOMPARE(places(later), QString("210 / -"));
        QVERIFY(!later.findChild<QLabel *>("LABEL_ERROR_ICON")->isHidden()); // the icon stays once shown

        later.setMsgType(MSG_SHUT_DOWN);
        later.setMessage("Something");
        QCOMPARE(DialogScripts::messageText(&later), QString("Something"));
        QCOMPARE(places(later), QString("129 / 290")); // buttons untouched
        later.setButtonText("Stop", "Cancel");
        QCOMPARE(okButton(later)->text(), QString("Stop"));
        later.setCheckBoxState(true, true);
        QVERIFY(later.findChild<QCheckBox *>("CEHCKBOX")->isChecked());
    }

    // OK answers 1, Cancel 0; keys never close the box; without a script the real modal loop runs.
    void execAnswersAndKeysNeverClose()
    {
        bool stayedOpen = false;
        DialogScripts::pushAct([&stayedOpen](QDialog *dialog) {
            for (int k : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
                QTest::keyClick(dialog, Qt::Key(k));
            QCoreApplication::processEvents();
            stayedOpen = dialog->isVisible() && dialog->result() == 0;
            DialogRunner::click(dialog, "BUTTON_OK");
        });
        DialogScripts::pushClick("BUTTON_CANCEL");
        MessageDlg shutDown;
        shutDown.setMsgType(MSG_SHUT_DOWN);
        QCOMPARE(shutDown.exec(), 1);
        QVERIFY(stayedOpen);
        QCOMPARE(shutDown.exec(), 0);

        DialogRunner::clearScripts();
        QTimer::singleShot(50, &shutDown, [&shutDown] { cancelButton(shutDown)->click(); });
        QCOMPARE(shutDown.exec(), 0);
        QCOMPARE(DialogRunner::log().size(), 3);

        MessageDlg noButtons;
        noButtons.setMsgType(MSG_CAMERA_SYNC_DISRUPTED);
        DialogScripts::pushAct([](QDialog *) {}, 300);
        QCOMPARE(noButtons.exec(), -1); // still open when the script gave up
    }

    void signalModeLeavesClosingToTheOwner()
    {
        auto *box = new MessageDlg;
        box->setMsgType(MSG_ZSTACK_IN_PROGRESS);
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
            QTimer::singleShot(20, dialog, &QDialog::close); // the owner's sequence ends
        });
        box->exec();
        QVERIFY(openAfterPress);
        QCOMPARE(ok.count(), 2);
        QCOMPARE(cancel.count(), 1);
        box->deleteLater();
    }

    void anOpenBoxComesBackOnTop()
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
};

QTEST_MAIN(TestMessageDlg)
#include "tst_messagedlg.moc"
