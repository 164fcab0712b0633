#pragma once

#include <QIcon>

class QCoreApplication;

// The application's set-up before the window shows: Qt's own translation, the command line,
// the fonts, the program's name and icon.

// Installs Qt's own Spanish translation (qtbase_es.qm), so that the texts Qt draws itself (the
// message boxes' button, the receive window's context menu, the headings of --help) are in
// Spanish like the program's own, whatever the desktop's language. Looks where Qt keeps its
// translations (QLibraryInfo's TranslationsPath) and, on Windows, beside the program, where the
// installer puts it. Returns whether it was found; without it those texts stay in English.
bool installQtTranslation(QCoreApplication *application);

// Reads the program's command line, after QApplication has taken its own options (-platform,
// -style and the like). --help and --version print their text and end the program with
// status 0; an unknown option or any other argument prints a message on stderr and ends it
// with status 1. Without arguments it returns and the window starts.
void readCommandLine(const QCoreApplication &application);

// Where "MS Sans Serif", the font of the clock display, is missing, asks first for the
// sans-serif fonts that share its widths (Arial's metrics) and last for a condensed one, so
// that the captions fit their fixed boxes as they do with the font they were laid out for.
void addFontFallbacks();

// Names the running program "Quorvel", with the version of its Windows version record, its icon
// and its desktop entry.
// Message boxes, which have no title of their own, show this name. It is set as the
// application name and not as a display name: the window system would otherwise append a
// display name to every window caption, and the main window's caption is " Q u o r v e l".
void setApplicationIdentity();

// The program's icon, a stack of blank windows, in 16 x 16 and 32 x 32.
QIcon programIcon();
