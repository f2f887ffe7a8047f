#pragma once
#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a Qt signal on the GUI thread, so that the run ends through the
// event loop (camera stopped, serial port closed with its lock file, output flushed) instead of
// dying where it stands. The signal handler only writes the signal number into a socket pair;
// the notifier on the other end reads it and emits terminationRequested. One watch per process;
// the crash handlers are left alone.
class TerminationWatch : public QObject
{
    Q_OBJECT

public:
    explicit TerminationWatch(QObject *parent = nullptr);
    ~TerminationWatch() override;

signals:
    void terminationRequested(int signal);

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
};
