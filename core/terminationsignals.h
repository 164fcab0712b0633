#pragma once

#include <QObject>

class QSocketNotifier;

// Turns the signals that ask a long-running program to end (SIGTERM, SIGINT, SIGHUP) into the
// Qt signal received(), delivered by the event loop of the thread that constructed the object
// (the main thread), so that the program can close its port and return from main() with
// status 0. The system's signal handler does nothing but write the signal's number to a pipe;
// a QSocketNotifier reads it. While the object exists those three signals neither end the
// program nor reach any handler installed before; its destruction puts the earlier handlers
// back. One object at a time. On Windows there are no such signals and received() never fires.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

    // Whether the handlers are in place (false on Windows, or when no pipe could be made).
    bool isActive() const { return m_notifier != nullptr; }

signals:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};
