#include "DialogRunner.h"
#include "DialogScripts.h"
#include "Globals.h"
#include "KeyboardDlg.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "TestRoot.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

namespace {

QPushButton *key(KeyboardDlg &kb, const QString &name)
{
    auto *button = kb.findChild<QPushButton *>("BUTTON_" + name);
    if (!button)
        qFatal("no key %s", qPrintable(name));
    return button;
}

QLineEdit *edit(KeyboardDlg &kb) { return kb.findChild<QLineEdit *>("EDIT_TEXT"); }

// Presses the keys named by a text: letters and digits by name, '.' the comma key, ' ' Space.
void type(KeyboardDlg &kb, const QString &keys)
{
    for (QChar c : keys) {
        if (c == '.')
            key(kb, "KEY_COMMA")->click();
        else if (c == ' ')
            key(kb, "KEY_SPACE")->click();
        else
            key(kb, QStringLiteral("KEY_") + c.toUpper())->click();
    }
}

void writeConfig(const char *key, const char *value)
{
    WritePrivateProfileString("Setting_MultiColor", key, value, Paths::configFile().toStdString());
}

} // namespace

class TestKeyboardDlg : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        DialogRunner::clearScripts();
        DialogRunner::clearLog();
        // The edit line's clear button fades with animations that delete themselves later.
        QTest::qWait(200);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void typingAndShift()
    {
        KeyboardDlg kb;
        kb.show();
        type(kb, "q");
        QCOMPARE(kb.text(), QString("q"));
        key(kb, "KEY_SHIFT_L")->click();
        QVERIFY(key(kb, "KEY_SHIFT_L")->isChecked());
        QVERIFY(key(kb, "KEY_SHIFT_R")->isChecked());
        type(kb, "qw1");
        QCOMPARE(kb.text(), QString("qQW1")); // shift stays on after a letter
        QCOMPARE(key(kb, "KEY_COMMA")->text(), QString(","));
        type(kb, ".");
        QVERIFY(!key(kb, "KEY_UNDERBAR")->isHidden());
        QVERIFY(key(kb, "KEY_BAR")->isHidden());
        key(kb, "KEY_UNDERBAR")->click();
        key(kb, "KEY_SHIFT_R")->click();
        QVERIFY(!key(kb, "KEY_SHIFT_L")->isChecked());
        type(kb, ". a");
        key(kb, "KEY_BAR")->click();
        QCOMPARE(kb.text(), QString("qQW1,_. a-"));
        QCOMPARE(key(kb, "KEY_COMMA")->text(), QString("."));
    }

    void deleteAndEditing()
    {
        KeyboardDlg kb;
        kb.show();
        kb.setText("abcdef");
        QCOMPARE(edit(kb)->cursorPosition(), 6);
        key(kb, "KEY_DEL")->click();
        QCOMPARE(kb.text(), QString("abcde"));
        edit(kb)->setCursorPosition(0);
        key(kb, "KEY_DEL")->click();
        QCOMPARE(kb.text(), QString("abcde"));
        edit(kb)->setSelection(1, 2);
        key(kb, "KEY_DEL")->click();
        QCOMPARE(kb.text(), QString("ade"));
        edit(kb)->setCursorPosition(1);
        type(kb, "x");
        QCOMPARE(kb.text(), QString("axde"));
    }

    void theLineHoldsAtMost256Characters()
    {
        KeyboardDlg kb;
        kb.show();
        kb.setText(QString(300, 'a'));
        QCOMPARE(kb.text().size(), 256);
        type(kb, "b");
        QCOMPARE(kb.text(), QString(256, 'a'));
    }

    void enterRefusesAnEmptyEntry()
    {
        auto messages = std::make_shared<QStringList>();
        DialogScripts::pushAnswer(1, messages);
        KeyboardDlg kb;
        kb.show();
        kb.setText("   ");
        key(kb, "KEY_ENTER")->click();
        QCOMPARE(*messages, QStringList({"<p><b>Error!</b><br/><br/>Please enter text.</p>"}));
        QVERIFY(kb.isVisible());
        QCOMPARE(kb.result(), 0);
        QCOMPARE(kb.text(), QString("   "));
    }

    void blanksAreAcceptedUntrimmedWhenEmptyIsAllowed()
    {
        DialogScripts::pushAct([](QDialog *dialog) { DialogRunner::click(dialog, "BUTTON_KEY_ENTER"); });
        KeyboardDlg kb(nullptr, false, true);
        kb.setText("  ");
        QCOMPARE(kb.exec(), 1);
        QCOMPARE(kb.text(), QString("  "));
        QCOMPARE(DialogRunner::log(), QStringList({"KeyboardDlg:KeyboardDlg"})); // no message
    }

    void theNamingCheckRefusesForbiddenCharacters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("check");
        QTest::addColumn<bool>("refused");
        for (const char *forbidden : {"a:b", "a\\b", "a/b", "*", "why?", "\"x\"", "a<b", "a>b", "a|b"})
            QTest::newRow(forbidden) << forbidden << true << true;
        QTest::newRow("plain") << "Cells-01_run.2 b" << true << false;
        QTest::newRow("no check") << "a:b" << false << false;
    }

    void theNamingCheckRefusesForbiddenCharacters()
    {
        QFETCH(QString, text);
        QFETCH(bool, check);
        QFETCH(bool, refused);
        auto messages = std::make_shared<QStringList>();
        // The keyboard: Enter, then (if refused) Exit. The message box in between: OK.
        DialogScripts::pushClickOrClose("BUTTON_KEY_ENTER", "BUTTON_EXIT");
        DialogScripts::pushAnswer(1, messages);
        KeyboardDlg kb;
        kb.setCheckUnacceptableNaming(check);
        kb.setText(text);
        QCOMPARE(kb.exec(), refused ? 0 : 1);
        QCOMPARE(*messages, refused ? QStringList({MessageDlg::presetText(MSG_INVALID_NAME_CHARS)}) : QStringList());
        QCOMPARE(kb.text(), text);
    }

    // Typed keys add to the given text; Enter answers 1, Exit 0 (the text stays readable).
    void enterAndExitAnswer_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("answer");
        QTest::newRow("Enter") << "BUTTON_KEY_ENTER" << 1;
        QTest::newRow("Exit") << "BUTTON_EXIT" << 0;
    }
    void enterAndExitAnswer()
    {
        QFETCH(QString, button);
        QFETCH(int, answer);
        DialogScripts::pushAct([button](QDialog *dialog) {
            type(*static_cast<KeyboardDlg *>(dialog), "run 7");
            DialogRunner::click(dialog, qPrintable(button));
        });
        KeyboardDlg kb;
        kb.setText("Day");
        QCOMPARE(kb.exec(), answer);
        QCOMPARE(kb.text(), QString("Dayrun 7"));
    }

    void theDateTimeKeyAppendsAtTheEnd()
    {
        KeyboardDlg kb;
        kb.show();
        kb.setDateTimeConvertFormatOn(true);
        kb.setText("ab");
        edit(kb)->setCursorPosition(1);
        key(kb, "ADD_DATETIME")->click();
        QCOMPARE(kb.text().size(), 17);
        QVERIFY(QRegularExpression("^ab\\d{8}_\\d{6}$").match(kb.text()).hasMatch());
        QCOMPARE(edit(kb)->cursorPosition(), 17);

        KeyboardDlg plain;
        plain.show();
        key(plain, "ADD_DATETIME")->click();
        QVERIFY(QDateTime::fromString(plain.text(), Qt::TextDate).isValid());
    }

    void physicalKeys()
    {
        KeyboardDlg kb;
        kb.show();
        kb.setText("x");
        QTest::keyClick(&kb, Qt::Key_Escape);
        QTest::keyClick(&kb, Qt::Key_Return);
        QVERIFY(kb.isVisible());
        QCOMPARE(kb.result(), 0);
        QTest::keyClick(&kb, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(kb.result(), 1);
    }

    void draggingStopsAtTheScreenEdges()
    {
        KeyboardDlg kb;
        kb.show();
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        auto mouse = [&kb](QEvent::Type type, QPoint pos) {
            QMouseEvent event(type, pos, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&kb, &event);
        };
        const QPoint start = kb.pos();
        mouse(QEvent::MouseButtonPress, QPoint(100, 50)); // below the band: no drag
        mouse(QEvent::MouseMove, QPoint(150, 90));
        mouse(QEvent::MouseButtonRelease, QPoint(150, 90));
        QCOMPARE(kb.pos(), start);

        mouse(QEvent::MouseButtonPress, QPoint(100, 34));
        mouse(QEvent::MouseMove, QPoint(120, 44));
        QCOMPARE(kb.pos(), start + QPoint(20, 10));
        mouse(QEvent::MouseMove, QPoint(-5000, 10000));
        QCOMPARE(kb.pos(), QPoint(0, screen.height() - 380));
        mouse(QEvent::MouseMove, QPoint(5000, -10000));
        QCOMPARE(kb.pos(), QPoint(screen.width() - 650, 0));
        mouse(QEvent::MouseButtonRelease, QPoint(0, 0));
        mouse(QEvent::MouseMove, QPoint(300, 300));
        QCOMPARE(kb.pos(), QPoint(screen.width() - 650, 0));
    }

    void fontControlsDefaults()
    {
        TestRoot root;
        KeyboardDlg plain;
        int size = 0;
        QColor color;
        plain.getFontSizeColor(size, color);
        QCOMPARE(size, 10);
        QCOMPARE(color, QColor(Qt::black));

        KeyboardDlg kb(nullptr, true, false);
        auto *sizes = kb.findChild<QComboBox *>("COMB_ITEM_SIZE");
        auto *colors = kb.findChild<QComboBox *>("COMB_ITEM_COLOR");
        QVERIFY(!colors->isHidden());
        QCOMPARE(sizes->count(), 23);
        QCOMPARE(sizes->currentText(), QString("24"));
        QCOMPARE(colors->count(), 8);
        QCOMPARE(colors->currentText(), QString("Y"));
        QCOMPARE(colors->itemText(7), QString("GR"));
        kb.getFontSizeColor(size, color);
        QCOMPARE(size, 10); // until Enter
        QCOMPARE(color, QColor(Qt::black));
    }

    void fontControlsFromTheConfiguration_data()
    {
        QTest::addColumn<QByteArray>("size");
        QTest::addColumn<QByteArray>("color");
        QTest::addColumn<QString>("sizeShown");
        QTest::addColumn<int>("colorIndex");
        QTest::newRow("set") << QByteArray("12") << QByteArray("1") << "12" << 1;
        QTest::newRow("leading digits") << QByteArray("40") << QByteArray("4th") << "40" << 4;
        QTest::newRow("not a size") << QByteArray("13") << QByteArray("x") << "5" << 0;
        QTest::newRow("beyond the table") << QByteArray("60") << QByteArray("8") << "60" << 7;
        QTest::newRow("below the table") << QByteArray("5") << QByteArray("-2") << "5" << 0;
    }

    void fontControlsFromTheConfiguration()
    {
        QFETCH(QByteArray, size);
        QFETCH(QByteArray, color);
        QFETCH(QString, sizeShown);
        QFETCH(int, colorIndex);
        TestRoot root;
        root.makeDir("/root/Microscope/NIMBO");
        writeConfig("FontThickness", size.constData());
        writeConfig("FontColor", color.constData());
        DialogScripts::pushAct([](QDialog *dialog) {
            static_cast<KeyboardDlg *>(dialog)->setText("note");
            DialogRunner::click(dialog, "BUTTON_KEY_ENTER");
        });
        KeyboardDlg kb(nullptr, true, false);
        QCOMPARE(kb.findChild<QComboBox *>("COMB_ITEM_SIZE")->currentText(), sizeShown);
        QCOMPARE(kb.findChild<QComboBox *>("COMB_ITEM_COLOR")->currentIndex(), colorIndex);
        QCOMPARE(kb.exec(), 1);
        int chosenSize = 0;
        QColor chosenColor;
        kb.getFontSizeColor(chosenSize, chosenColor);
        QCOMPARE(chosenSize, sizeShown.toInt());
        QCOMPARE(chosenColor, g_ColorTable[colorIndex]);
    }

    void fontChoiceIsTakenEvenWhenTheEntryIsRefused()
    {
        DialogScripts::pushAnswer(1);
        KeyboardDlg kb(nullptr, true, false);
        kb.show();
        kb.findChild<QComboBox *>("COMB_ITEM_COLOR")->setCurrentIndex(2);
        kb.findChild<QComboBox *>("COMB_ITEM_SIZE")->setCurrentText("36");
        key(kb, "KEY_ENTER")->click(); // empty: refused
        int size = 0;
        QColor color;
        kb.getFontSizeColor(size, color);
        QCOMPARE(size, 36);
        QCOMPARE(color, g_ColorTable[2]);
        QCOMPARE(kb.result(), 0);
    }
};

QTEST_MAIN(TestKeyboardDlg)
#include "tst_keyboarddlg.moc"
