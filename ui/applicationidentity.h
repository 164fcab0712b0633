#pragma once

// Names the running program "Quorvel", with the version of its Windows version record, its icon
// and its desktop entry.
// Message boxes, which have no title of their own, show this name. It is set as the
// application name and not as a display name: the window system would otherwise append a
// display name to every window caption, and the main window's caption is " Q u o r v e l".
void setApplicationIdentity();
