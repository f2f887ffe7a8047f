#include "AppBench.h"
#include "KeyboardDlg.h"
#include "MessageDlg.h"
#include "NIMBODlg.h"
#include "WindowTap.h"
#include "ui_NIMBODlg.h"

#include <QPointer>
#include <QtTest>

// A keyboard or message box raised from inside a modal dialog takes taps: the dialogs run their
// real modal loops and every tap goes through the window system.
class TestDialogKeyboards : public QObject
{
    Q_OBJECT
private slots:
    void innerDialogTakesTaps_data()
    {
        QTest::addColumn<QString>("menu");        // main-menu button
        QTest::addColumn<QString>("pageButton");  // page button that opens the outer dialog
        QTest::addColumn<QString>("outer");       // its class
        QTest::addColumn<QString>("opener");      // the outer dialog's control that raises the inner one
        QTest::newRow("protocol Save as") << "BUTTON_COUNT_MENU" << "BUTTON_PROTOCOL" << "ProtocolDlg" << "BUTTON_SAVE_AS";
        QTest::newRow("settings name") << "BUTTON_SETTING_MENU" << "" << "SetupDlg" << "EDIT_FILTER_POSITION_1";
    }

    void innerDialogTakesTaps()
    {
        QFETCH(QString, menu);
        QFETCH(QString, pageButton);
        QFETCH(QString, outer);
        QFETCH(QString, opener);
        AppBench bench;
        bench.quietStart();
        bench.start();

        QStringList answered; // inner dialogs that answered a tap
        bool outerRan = false;
        bench.setAnswer([&](QDialog *dialog) {
            const QString kind = dialog->metaObject()->className();
            QPointer<QDialog> guard(dialog);
            if (kind == outer) {
                outerRan = true;
                QTimer::singleShot(100, dialog, [dialog, opener] {
                    tap(dialog->findChild<QWidget *>(opener));
                    dialog->done(0);
                });
                return dialog->exec();
            }
            QTimer::singleShot(100, dialog, [&, dialog, kind] {
                if (auto *keyboard = qobject_cast<KeyboardDlg *>(dialog)) {
                    keyboard->setText(QString());
                    tap(keyboard->findChild<QWidget *>("BUTTON_KEY_A"));
                    if (keyboard->text() == "a")
                        answered << kind;
                    tap(keyboard->findChild<QWidget *>("BUTTON_EXIT"));
                } else {
                    tap(dialog->findChild<QWidget *>("BUTTON_OK"));
                    if (!dialog->isVisible())
                        answered << kind;
                }
            });
            // A dialog that ignored the taps is closed here, so that the test fails instead of hanging.
            QTimer::singleShot(3000, dialog, [guard] {
                if (guard && guard->isVisible())
                    guard->done(0);
            });
            return dialog->exec();
        });

        QTest::mouseClick(bench.window->findChild<QAbstractButton *>(menu), Qt::LeftButton);
        if (!pageButton.isEmpty()) {
            auto *button = bench.window->findChild<QAbstractButton *>(pageButton);
            QTRY_VERIFY(button->isVisible() && button->isEnabled());
            QTest::mouseClick(button, Qt::LeftButton);
        }
        QTRY_VERIFY(outerRan);
        QTRY_COMPARE(answered.size(), 1);
        QVERIFY(bench.waitUnlocked());
    }
};

QTEST_MAIN(TestDialogKeyboards)
#include "tst_dialog_keyboards.moc"
