#include "DialogRunner.h"
#include "DialogScripts.h"
#include "Globals.h"
#include "KeyboardDlg.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "TestRoot.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
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

// Presses the keys named by a text: letters and digits by name, '.' the comma key, ' ' Space,
// '_' and '-' the underbar and bar keys, '[' and ']' the shift keys, '<' Delete.
void type(KeyboardDlg &kb, const QString &keys)
{
    const QHash<QChar, QString> named{{'.', "COMMA"},    {' ', "SPACE"},   {'_', "UNDERBAR"}, {'-', "BAR"},
                                      {'[', "SHIFT_L"}, {']', "SHIFT_R"}, {'<', "DEL"}};
    for (QChar c : keys)
        key(kb, "KEY_" + named.value(c, c.toUpper()))->click();
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
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void typingShiftAndEditing()
    {
        KeyboardDlg kb;
        kb.show();
        type(kb, "q[");
        QVERIFY(key(kb, "KEY_SHIFT_R")->isChecked());
        type(kb, "qw1._]");
        QVERIFY(!key(kb, "KEY_SHIFT_L")->isChecked());
        type(kb, ". a-");
        QCOMPARE(kb.text(), QString("qQW1,_. a-")); // shift stays on after a letter

        kb.setText("abcdef");
        type(kb, "<");
        edit(kb)->setCursorPosition(0);
        type(kb, "<");
        edit(kb)->setSelection(1, 2);
        type(kb, "<x");
        QCOMPARE(kb.text(), QString("axde"));

        kb.setText(QString(300, 'a'));
        type(kb, "b");
        QCOMPARE(kb.text(), QString(256, 'a')); // the line holds at most 256 characters
    }

    // Enter refuses an empty entry (unless allowed, untrimmed) and, with the naming check, any
    // forbidden character; a refused keyboard stays open and is left with Exit.
    void enterRefusesEmptyOrForbiddenEntries_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("check");
        QTest::addColumn<bool>("allowEmpty");
        QTest::addColumn<int>("message"); // the preset shown, -1 none, -2 the empty-entry text
        for (const char *forbidden : {"a:b", "a\\b", "a/b", "*", "why?", "\"x\"", "a<b", "a>b", "a|b"})
            QTest::newRow(forbidden) << forbidden << true << false << int(MSG_INVALID_NAME_CHARS);
        QTest::newRow("plain") << "Cells-01_run.2 b" << true << false << -1;
        QTest::newRow("no check") << "a:b" << false << false << -1;
        QTest::newRow("blanks") << "   " << false << false << -2;
        QTest::newRow("blanks allowed") << "  " << false << true << -1;
    }
    void enterRefusesEmptyOrForbiddenEntries()
    {
        QFETCH(QString, text);
        QFETCH(bool, check);
        QFETCH(bool, allowEmpty);
        QFETCH(int, message);
        auto messages = std::make_shared<QStringList>();
        DialogScripts::pushClickOrClose("BUTTON_KEY_ENTER", "BUTTON_EXIT");
        DialogScripts::pushAnswer(1, messages);
        KeyboardDlg kb(nullptr, false, allowEmpty);
        kb.setCheckUnacceptableNaming(check);
        kb.setText(text);
        QCOMPARE(kb.exec(), message == -1 ? 1 : 0);
        const QString expected = message == -2 ? "<p><b>Error!</b><br/><br/>Please enter text.</p>"
                                                : MessageDlg::presetText(TMessageType(message));
        QCOMPARE(*messages, message == -1 ? QStringList() : QStringList{expected});
        QCOMPARE(kb.text(), text);
    }

    void theDateTimeKeyAppendsAtTheEnd()
    {
        KeyboardDlg kb;
        kb.show();
        kb.setDateTimeConvertFormatOn(true);
        kb.setText("ab");
        edit(kb)->setCursorPosition(1);
        key(kb, "ADD_DATETIME")->click();
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
        mouse(QEvent::MouseButtonRelease, QPoint(0, 0));
        mouse(QEvent::MouseMove, QPoint(300, 300));
        QCOMPARE(kb.pos(), QPoint(screen.width() - 650, 0));
    }

    // The font controls start from the configuration (a colour outside the table reads as the
    // default 1) and are taken at Enter, even when the entry itself is refused.
    void fontControlsFromTheConfiguration_data()
    {
        QTest::addColumn<QByteArray>("size");
        QTest::addColumn<QByteArray>("color");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("sizeShown");
        QTest::addColumn<int>("colorIndex");
        QTest::newRow("set") << QByteArray("12") << QByteArray("1") << "note" << "12" << 1;
        QTest::newRow("leading digits") << QByteArray("40") << QByteArray("4th") << "note" << "40" << 1;
        QTest::newRow("not a size") << QByteArray("13") << QByteArray("x") << "note" << "5" << 1;
        QTest::newRow("beyond the table") << QByteArray("60") << QByteArray("8") << "note" << "60" << 1;
        QTest::newRow("below the table, refused entry") << QByteArray("5") << QByteArray("-2") << "" << "5" << 1;
    }
    void fontControlsFromTheConfiguration()
    {
        QFETCH(QByteArray, size);
        QFETCH(QByteArray, color);
        QFETCH(QString, text);
        QFETCH(QString, sizeShown);
        QFETCH(int, colorIndex);
        TestRoot root;
        const std::string file = Paths::configFile().toStdString();
        WritePrivateProfileString("Setting_MultiColor", "FontThickness", size.constData(), file);
        WritePrivateProfileString("Setting_MultiColor", "FontColor", color.constData(), file);
        DialogScripts::pushClickOrClose("BUTTON_KEY_ENTER", "BUTTON_EXIT");
        DialogScripts::pushAnswer(1);
        KeyboardDlg kb(nullptr, true, false);
        kb.setText(text);
        QCOMPARE(kb.findChild<QComboBox *>("COMB_ITEM_SIZE")->currentText(), sizeShown);
        QCOMPARE(kb.findChild<QComboBox *>("COMB_ITEM_COLOR")->currentIndex(), colorIndex);
        int chosenSize = 0;
        QColor chosenColor;
        kb.getFontSizeColor(chosenSize, chosenColor);
        QCOMPARE(chosenSize, 10); // until Enter
        QCOMPARE(kb.exec(), text.isEmpty() ? 0 : 1);
        kb.getFontSizeColor(chosenSize, chosenColor);
        QCOMPARE(chosenSize, sizeShown.toInt());
        QCOMPARE(chosenColor, g_ColorTable[colorIndex]);
    }

    // The clear button stands beside the text while there is some and empties the line. It
    // shows at once: a fade runs an animation that nothing owns, left behind (and reported by
    // LeakSanitizer) when the keyboard goes before the animation's next tick.
    void clearButtonShowsWithText()
    {
        KeyboardDlg kb;
        kb.show();
        auto *clear = kb.findChild<QAction *>("ACTION_CLEAR_TEXT");
        QVERIFY(clear && !clear->isVisible());
        kb.setText("abc");
        QVERIFY(clear->isVisible());
        for (const QToolButton *button : edit(kb)->findChildren<QToolButton *>())
            QCOMPARE(button->property("opacity").toDouble(), 1.0);
        QSignalSpy edited(edit(kb), &QLineEdit::textEdited);
        clear->trigger();
        QCOMPARE(kb.text(), QString());
        QCOMPARE(edited.size(), 1);
        QVERIFY(!clear->isVisible());
    }
};

QTEST_MAIN(TestKeyboardDlg)
#include "tst_keyboarddlg.moc"
