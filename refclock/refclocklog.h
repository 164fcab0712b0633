#pragma once

#include <QFile>
#include <QString>

// Where the reference clock tells what happens: one line per change of state (and, when
// verbose, per frame). The program writes to stderr, where systemd's journal collects it.
class RefclockLog
{
public:
    virtual ~RefclockLog() = default;
    virtual void write(const QString &line) = 0;
};

// The log on stderr, each line written out at once.
class StandardErrorLog : public RefclockLog
{
public:
    void write(const QString &line) override;
};

// The log in a file, for the Windows service, which has no stderr anyone reads: each line
// appended with the local date and time before it, and flushed at once. The folder is made
// when missing. When the file cannot be opened the lines go to stderr instead.
class FileLog : public RefclockLog
{
public:
    explicit FileLog(const QString &path);
    void write(const QString &line) override;

    bool isOpen() const { return m_file.isOpen(); }

private:
    QFile m_file;
    StandardErrorLog m_fallback;
};
