#include "ScriptableDialog.h"

#include "DialogRunner.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

ScriptableDialog::ScriptableDialog(QWidget *parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
}

int ScriptableDialog::exec()
{
    // The runner calls back into exec() when no script plays the user: then run for real.
    if (m_inRunner) {
        setVisible(true);
        raise();
        return QDialog::exec();
    }
    QPointer<ScriptableDialog> guard(this);
    m_inRunner = true;
    const int result = DialogRunner::exec(this);
    if (guard) // an owner may delete the dialog while it runs
        m_inRunner = false;
    return result;
}

void ScriptableDialog::centreOnPrimaryScreen()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    move(area.width() / 2 - width() / 2, area.height() / 2 - height() / 2);
}
