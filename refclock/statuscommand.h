#pragma once

#include "share/servicestate.h"

#include <QStringList>

#include <chrono>

// quorvel-refclock --status: asks every running service, through the state sockets in the
// share folder, how it keeps time, and prints it in Spanish, one block per device. Returns 0
// when a service answered, 1 when none did. Waits at most `timeout` for each.
int runStatus(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

// The Spanish lines --status prints for `state`: "Dispositivo:", "Reloj del dispositivo:",
// "Retraso:", "Muestras:", "chrony:".
QStringList statusLines(const ServiceState &state);
