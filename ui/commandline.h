#pragma once

class QCoreApplication;

// Reads the program's command line, after QApplication has taken its own options (-platform,
// -style and the like). --help and --version print their text and end the program with
// status 0; an unknown option or any other argument prints a message on stderr and ends it
// with status 1. Without arguments it returns and the window starts.
void readCommandLine(const QCoreApplication &application);
