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
        // Modal from the moment it shows: shown first as a plain window, a dialog opened from
        // another modal dialog would stay blocked by it and take no tap.
        const bool wasModal = testAttribute(Qt::WA_ShowModal);
        setAttribute(Qt::WA_ShowModal, true);
        setVisible(true);
        raise();
        QPointer<ScriptableDialog> guard(this);
        const int result = QDialog::exec();
        if (guard)
            setAttribute(Qt::WA_ShowModal, wasModal);
        return result;
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
