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
// With elevated the command runs through a privilege helper (gksudo, kdesudo,
// or else "bash -c" with sudo in a terminal), chosen once per process.  A
// text holding a line break would start a key of its own and is refused.
// False when the file cannot be created or a write fails.
bool createLinShortcut(char* file, char* exec, char* categories, char* name, char* icon, char* comment,
                       bool elevated, char* arguments);

// Forgets the privilege helper chosen for desktop entries, so that the next
// entry looks for one again (after PATH has changed).
void resetLinShortcutPrivilegeChoice();
