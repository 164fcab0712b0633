#pragma once

#include "core/line.h"
#include "core/serialport.h"
#include "core/usermessages.h"

#include <QString>

#include <chrono>
#include <functional>

// Sets the interval of the poll timer whose ticks read the port.
using PollIntervalSetter = std::function<void(std::chrono::milliseconds)>;

// The port number that a port list text names: the value of its fourth character when that
// is a decimal digit ("Com3" is 3), otherwise 0 (also for texts shorter than four).
qint16 portNumberOf(const QString &listText);

// Picks the port that `listText` names: closes the open port, sets the new number, opens the
// port and starts polling every 100 ms. Every step runs even when an earlier one failed; when
// any failed, the user is told once, "Puerto no disponible", with why on a second line when
// the port knows. Nothing is passed back: afterwards the port is open on the chosen number,
// or closed, and polling runs in both cases.
void selectPort(const QString &listText, SerialPort *port,
                const PollIntervalSetter &setPollInterval, UserMessages *messages);
