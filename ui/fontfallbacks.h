#pragma once

// Where "MS Sans Serif", the font of the clock display, is missing, asks first for the
// sans-serif fonts that share its widths (Arial's metrics) and last for a condensed one, so
// that the captions fit their fixed boxes as they do with the font they were laid out for.
void addFontFallbacks();
