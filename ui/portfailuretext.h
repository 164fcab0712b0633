#pragma once

#include "core/serialport.h"

#include <QString>

// What the user is told, under "Puerto no disponible", of why a port could not be used, in
// Spanish, naming the device and what to do about it; an empty text when nothing is known.
QString portFailureText(const PortFailure &failure);
