#pragma once

#include "refclock/chronystatus.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

// Asks chronyd how it keeps the clock, now and every `interval`, without blocking: chronyc's
// `tracking` and `sources` run one after the other as child processes whose answers arrive as
// events. Each answer (or chronyc's failure) goes to the callback; a question still unanswered
// when the next is due is not asked twice, and one unanswered for 10 s is given up.
class ChronyWatch : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds DefaultInterval{60};
    static constexpr std::chrono::seconds AnswerTimeout{10};

    struct Answer
    {
        ChronyStatus status;
        ChronyDeviceSource device;
    };

    // `commandSocket`: chronyc's -h (empty: chronyc's own default, its Unix socket and then
    // chronyd's command port on localhost).
    ChronyWatch(QString commandSocket, std::chrono::milliseconds interval,
                std::function<void(const Answer &)> answered, QObject *parent = nullptr);
    ~ChronyWatch() override;

    void start();
    void stop();
    // Asks now, unless a question is under way.
    void askNow();

private:
    void run(const QString &command);
    void finished();
    void fail(const QString &reason);

    QString m_commandSocket;
    std::function<void(const Answer &)> m_answered;
    QTimer m_interval;
    QTimer m_timeout;
    QProcess *m_process = nullptr;
    QString m_tracking;
};
