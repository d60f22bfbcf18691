// The platform layer's process-wide font settings: the standard face, the
// fixed-pitch face and the line-spacing factor of wrapped text.  Read and
// written on the UI thread only.
#pragma once

// The standard face; "Tahoma" while it is unset.
char* _glbalStdFont();
// The fixed-pitch face; "Courier New" while it is unset.
char* _glbalFixedFont();
// Store a copy of the name; null makes the setting unset again.
void setGlobalStdFont(const char* face);
void setGlobalFixedFont(const char* face);

// The line spacing wrapped text uses when its caller passes 0; 1.2 until
// the standard-face choice sets it.
double textWrapYFactor();
void setTextWrapYFactor(double factor);
