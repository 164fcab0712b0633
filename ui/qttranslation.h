#pragma once

class QCoreApplication;

// Installs Qt's own Spanish translation (qtbase_es.qm), so that the texts Qt draws itself (the
// message boxes' button, the receive window's context menu, the headings of --help) are in
// Spanish like the program's own, whatever the desktop's language. Looks where Qt keeps its
// translations (QLibraryInfo's TranslationsPath) and, on Windows, beside the program, where the
// installer puts it. Returns whether it was found; without it those texts stay in English.
bool installQtTranslation(QCoreApplication *application);
