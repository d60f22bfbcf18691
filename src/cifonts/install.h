// Puts the platform layer's fonts under the toolkit, without its windows:
// the font maker, the standard face (chosen again whenever a language is
// applied), the wrap factor and the document faces.  A program that lays
// out and compiles documents but opens no window (pkgmake) needs no more.
//
// A program that links qor::cifonts gets them before main runs, as one that
// links qor::ciplatform gets the whole layer (ciplatform/install.h): the
// library's link options keep this file's object in the link (the linker is
// told that qor_cifonts_install is needed), and its static initialiser calls
// installFontPlatform.  A program linked by hand passes
// -Wl,--undefined=qor_cifonts_install or calls installFontPlatform itself.
#pragma once

// Installs every font hook; calling it again changes nothing.
void installFontPlatform();

// The symbol the link options name.
extern "C" const int qor_cifonts_install;
