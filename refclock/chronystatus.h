#pragma once

#include <QString>
#include <QStringList>

#include <chrono>

// What chronyd says about the computer's clock, as calibration needs it: asked with
// `chronyc -c -n tracking` and `chronyc -c -n sources` (read-only commands) over its command
// socket. Calibration runs only when the clock is synchronised to a source other than a
// reference clock of the computer's own (the device itself, through refclock SOCK).
struct ChronyStatus
{
    enum Kind {
        Synchronised,    // to `reference`, a server or peer
        NoChrony,        // chronyc found no chronyd to talk to (`reference`: what it said)
        NotSynchronised, // chronyd runs but keeps the clock from no source, or its own
        FollowsDevice,   // chronyd follows a local reference clock, `reference`
    };
    Kind kind = NoChrony;
    QString reference;
    // chronyd has a server or peer it reaches, which it may yet follow.
    bool otherSources = false;
    // Measured over SNTP (SntpWatch): how far `reference` is ahead of the computer's clock,
    // and the query's round trip. chrony keeps the clock itself: nought.
    std::chrono::microseconds clockOffset{0};
    std::chrono::microseconds roundTrip{0};

    // Reads the comma-separated outputs of `tracking` and `sources`.
    static ChronyStatus fromOutputs(const QString &tracking, const QString &sources);

    // Asks chronyd through chronyc, over `commandSocket` (chronyc's -h; empty: its default).
    static ChronyStatus ask(const QString &commandSocket);

    // The Spanish line that refuses calibration for this status; empty when synchronised.
    QString refusal() const;

    // chronyc's arguments for `command` over `commandSocket`.
    static QStringList chronycArguments(const QString &commandSocket, const QString &command);

private:
    // Which source chronyd follows, from the same outputs.
    static ChronyStatus followed(const QString &tracking, const QString &sources);
};

// The device among chronyd's sources: the first reference clock of the computer's own ("#" in
// `sources -c`'s mode column), which on a computer with this service is the device.
struct ChronyDeviceSource
{
    bool found = false;
    bool selected = false;
    QString name;
    // The latest sample's offset as chronyd adjusted it, and chronyd's error bound on it.
    std::chrono::nanoseconds offset{0};
    std::chrono::nanoseconds error{0};

    static ChronyDeviceSource fromSources(const QString &sources);
};
