#include "CellCountDlgShots.h"

#include "DiluionCalculatorDlg.h"
#include "NewProtocolDlg.h"
#include "Paths.h"
#include "ProtocolDlg.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QTextEdit>
#include <QTimer>

namespace {

void writeProtocols()
{
    QDir().mkpath(Paths::programDir());
    const QList<QPair<QString, QByteArray>> protocols{
        {"DEFAULT", ""},
        {"HeLa", "[Dilution Factor]\nFactor=2\n[InSide_Detection]\nMustDetect_intensity=161\n"
                 "[Post_Filtering]\nRoundness=30\nmin_size=8\nmax_size=30\n"},
        {"Jurkat 2", "[Dilution Factor]\nFactor=10\n"},
        {"Jurkat 10", "[Dilution Factor]\nFactor=20\n"},
        {"Yeast", "[Post_Filtering]\nmin_size=3\nmax_size=12\n"}};
    for (const auto &p : protocols) {
        QFile file(Paths::programDir() + "/Protocol_" + p.first + "_NIMBO.ini");
        if (file.open(QIODevice::WriteOnly))
            file.write(p.second);
    }
}

void click(QWidget *dialog, const char *button)
{
    if (auto *b = dialog->findChild<QAbstractButton *>(button))
        b->click();
}

// Picks a calculator field and types on its keypad.
void type(QWidget *dialog, const char *fieldName, const QString &keys)
{
    QWidget *field = dialog->findChild<QTextEdit *>(fieldName)->viewport();
    QMouseEvent touch(QEvent::MouseButtonPress, QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(field, &touch);
    for (QChar c : keys)
        click(dialog, c == '.' ? "BUTTON_KEY_DOT" : qPrintable(QString("BUTTON_KEY_") + c));
}

QDialog *makeDialog(const QString &name)
{
    if (name.startsWith("ProtocolDlg")) {
        auto *dlg = new ProtocolDlg(name.endsWith("default") ? "DEFAULT" : "HeLa");
        if (name.endsWith("edit")) {
            click(dlg, "BUTTON_EDIT");
            click(dlg, "BUTTON_LIVE_CELL_DETECTION_UP");
            click(dlg, "BUTTON_MAX_CELL_SIZE_UP");
        }
        return dlg;
    }
    if (name == "NewProtocolDlg")
        return new NewProtocolDlg("HeLa");
    auto *calc = new DiluionCalculatorDlg;
    calc->setConcentration(2.36f, 6, 1.98f, 6, 0.38f, 6);
    type(calc, "EDIT_DESIRED", name.endsWith("done") ? "1" : "5");
    type(calc, "EDIT_DESIRED_EXP", "6");
    type(calc, "EDIT_FINAL_VOLUME", "10");
    click(calc, "BUTTON_CALCULATE");
    return calc;
}

} // namespace

QStringList cellCountDlgShotNames()
{
    return {"ProtocolDlg-view", "ProtocolDlg-edit", "ProtocolDlg-default", "NewProtocolDlg",
            "DiluionCalculatorDlg-done", "DiluionCalculatorDlg-error"};
}

QWidget *cellCountDlgShot(const QString &name)
{
    writeProtocols();
    auto *holder = new QWidget(nullptr, Qt::FramelessWindowHint);
    holder->setGeometry(0, 0, 1920, 1080);
    holder->setObjectName("backdrop");
    holder->setStyleSheet("QWidget#backdrop { background-color: rgb(31, 34, 38); }");
    QDialog *dialog = makeDialog(name);
    QObject::connect(holder, &QObject::destroyed, dialog, &QObject::deleteLater);
    QTimer::singleShot(0, dialog, [dialog] {
        dialog->show();
        dialog->raise();
    });
    return holder;
}
