// Language ids (eCIOMStdLangs): codes, display names from the built-in
// language-name table, and flag pictures in four sizes made on first use.
#pragma once

#include "uitoolkit/lang.h"
#include "uitoolkit/picture.h"

// 0..10; negative ids are invalid (the id is taken as unsigned).
bool ciLangValid(int id);
// "ENG", "RUS", ...; "INV" for an invalid id.
const char* ciLangID(int id);
// "EN", "RU", ... ("ESP" for Spanish); "**" for an invalid id.
const char* ciLangID2c(int id);
// The language's name in its own language (UTF-8, owned by the names
// table); null for an invalid id or when the table cannot be loaded.
const char* ciLangName(int id);

// The flag of the language at that size, owned by the size's list; null for
// an invalid id.
cPicture* ciLangImage16x11(int id);
cPicture* ciLangImage18x14(int id);
cPicture* ciLangImage27x22(int id);
cPicture* ciLangImage30x20(int id);
// The flags of that size made so far, keyed by id.
cPicturesList* ciLangImages16x11();
cPicturesList* ciLangImages18x14();
cPicturesList* ciLangImages27x22();
cPicturesList* ciLangImages30x20();

// Built-in flag pixels by id, 0xAARRGGBB, bottom row first.
extern const unsigned int* const icColorDataLangs16x11[11];
extern const unsigned int* const icColorDataLangs18x14[11];
extern const unsigned int* const icColorDataLangs27x22[11];
extern const unsigned int* const icColorDataLangs30x20[11];
