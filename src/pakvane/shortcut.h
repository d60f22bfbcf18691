// Menu shortcuts of installed packages.  On macOS no shortcut is made: the
// system hook answers false and touches nothing.  The desktop-entry writer of
// Linux menus lives beside it.
#pragma once

#include "base/buffers.h"

// The extension of shortcut files; null: they have none.
char* shortcutExtension();

// Makes a menu shortcut and sets out to its path.  On this platform: false,
// out unchanged, nothing created.
bool createSysShortcut(_guardchar<char>& out, char* name, char* group, char* target, char* icon, char* comment,
                       bool elevated, char* arguments);

// Writes a desktop entry (freedesktop.org menu file) to file.  exec,
// categories and name are required; comment, icon and arguments optional.
// The program path is quoted in Exec as the Desktop Entry Specification
// says, so that every path is one argument; the arguments text follows as
// the caller wrote it.  With elevated the command runs through a privilege
// helper (gksudo, kdesudo, or else "bash -c" with sudo in a terminal, the
// display opened to root alone), chosen once per process.  A text holding a
// control character other than a tab (a line break would start a key of its
// own) is refused.  The file is replaced as cReplacementFile replaces one;
// false when it cannot be, or a write fails.
bool createLinShortcut(char* file, char* exec, char* categories, char* name, char* icon, char* comment,
                       bool elevated, char* arguments);

// Writes a Windows shell link (".lnk", the MS-SHLLINK layout) to file for
// target, a path with a drive letter ("C:/Tools/app.exe", '/' or '\\'
// between components).  The target must exist as a file or folder, a given
// working folder as a folder and a given icon as a file, all as paths of this
// system.  description, workFolder, arguments and icon are optional; elevated
// marks the link "run as administrator".  False when something is refused or
// a write fails.
bool createWinShortcut(char* file, char* target, char* workFolder, char* icon, int iconIndex, char* description,
                       bool elevated, char* arguments);

// Forgets the privilege helper chosen for desktop entries, so that the next
// entry looks for one again (after PATH has changed).
void resetLinShortcutPrivilegeChoice();
