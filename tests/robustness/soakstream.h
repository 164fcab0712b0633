#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QRandomGenerator>
#include <QSet>
#include <QString>

// What a bad serial line brings in a day, compressed: frames, broken frames and line noise,
// mixed at random from a fixed seed so that a failing run can be repeated.
//
// The noise never holds a "$" or a ",". So the only texts between a "$" and the next CR LF
// that have the four fields of a frame are frames that were sent whole: a broken frame that
// noise completes up to a CR LF keeps fewer than four fields. Whatever the window shows as
// time and date must therefore be the time and date of one whole frame.
class SoakStream
{
public:
    explicit SoakStream(quint32 seed);

    // About `size` bytes of frames, broken frames and noise, mixed; always ends with a
    // whole frame.
    QByteArray round(qsizetype size);

    // Whether `time` and `date` are the first two fields of one frame that was sent whole.
    bool sentWhole(const QString &time, const QString &date) const;

    int wholeFrames() const { return m_wholeFrames; }
    int brokenFrames() const { return m_brokenFrames; }
    qint64 noiseBytes() const { return m_noiseBytes; }

private:
    QByteArray frame();
    QByteArray brokenFrame();
    QByteArray noise();
    // Sends `fields` as a frame, "$" and CR LF around them.
    QByteArray whole(const QString &fields);

    QRandomGenerator m_random;
    QDateTime m_deviceClock;
    QSet<QString> m_sentWhole; // "time,date" of every frame sent whole
    int m_wholeFrames = 0;
    int m_brokenFrames = 0;
    qint64 m_noiseBytes = 0;
};
