#pragma once

#include "serialport.h" // MonotonicTime
#include "usermessages.h"

#include <QObject>
#include <QString>

#include <optional>

class ClockBackend;

// "Poner en hora el PC": sets the computer's clock from the date and time that the window
// shows. Failures are told to the user in Spanish through `messages`; success shows nothing.
class ClockSetting : public QObject
{
    Q_OBJECT

public:
    ClockSetting(ClockBackend *backend, UserMessages *messages, QObject *parent = nullptr);

    // `date` and `time` are the captions of the date and time labels, `regime` that of the
    // summer/winter label, `frameArrival` when the "$" of the frame they came from arrived.
    void setFromShown(const QString &date, const QString &time, const QString &regime,
                      std::optional<MonotonicTime> frameArrival);

signals:
    // A setting that was started has ended, successfully or not (the backend may answer
    // asynchronously).
    void finished();

private:
    ClockBackend *m_backend;
    UserMessages *m_messages;
};
