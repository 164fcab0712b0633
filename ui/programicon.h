#pragma once

#include <QIcon>

// The program's icon, a stack of blank windows, in 16 x 16 and 32 x 32.
QIcon programIcon();
