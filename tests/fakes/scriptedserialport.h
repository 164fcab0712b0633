#pragma once

// The scripted port lives with the simulated device, where the screenshot tool reaches it too.
#include "tools/sim/scriptedserialport.h"
