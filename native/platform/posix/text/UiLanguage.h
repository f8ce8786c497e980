// GetUserDefaultUILanguage of the Linux build: the language of the user's
// messages locale (LC_ALL, then LC_MESSAGES, then LANG, as gettext reads
// them) as a Windows language id with the language's default sublanguage,
// so "de_AT.UTF-8" is 0x0407. English US (0x0409) for the C and POSIX
// locales, none set, and a language Windows has no id for here.
#pragma once

#include "../base/WinTypes.h"

typedef WORD LANGID;

#define PRIMARYLANGID(lgid) (static_cast<WORD>(lgid) & 0x3FF)

LANGID GetUserDefaultUILanguage();
