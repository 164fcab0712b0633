#pragma once

#include <QByteArray>
#include <QtGlobal>

// Sets environment variable `name` for as long as it lives (or until set() again), then puts it
// back as it was: in this process and for every program started meanwhile.
class EnvironmentSetting
{
public:
    explicit EnvironmentSetting(const char *name)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_saved(qgetenv(name))
    {
    }
    EnvironmentSetting(const char *name, const QByteArray &value) : EnvironmentSetting(name)
    {
        set(value);
    }
    ~EnvironmentSetting()
    {
        if (m_had)
            qputenv(m_name, m_saved);
        else
            qunsetenv(m_name);
    }
    EnvironmentSetting(const EnvironmentSetting &) = delete;
    EnvironmentSetting &operator=(const EnvironmentSetting &) = delete;

    void set(const QByteArray &value) { qputenv(m_name, value); }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_saved;
};
