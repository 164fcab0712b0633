#include "clocksetting.h"

ClockSetting::ClockSetting(ClockBackend *backend, UserMessages *messages, QObject *parent)
    : QObject(parent), m_backend(backend), m_messages(messages)
{
}

void ClockSetting::setFromShown(const QString &, const QString &, const QString &,
                                std::optional<MonotonicTime>)
{
    // Not built yet.
}
