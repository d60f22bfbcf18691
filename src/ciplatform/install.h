// Puts the platform layer under the toolkit: the window maker, the font
// maker, the standard face (chosen again whenever a language is applied),
// the wrap factor, the document faces (the fonts, cifonts/install.h) and the
// hint popups.
//
// A program that links qor::ciplatform gets all of it before main runs:
// the library's link options keep this file's object in the link (the
// linker is told that qor_ciplatform_install is needed), and its static
// initialiser calls installPlatform.  A program linked by hand, without the
// package's CMake targets, passes -Wl,--undefined=qor_ciplatform_install or
// calls installPlatform itself.
#pragma once

// Installs every hook; calling it again changes nothing.
void installPlatform();

// The symbol the link options name.
extern "C" const int qor_ciplatform_install;
