#include "UiLanguage.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

constexpr LANGID kEnglishUs = 0x0409;
constexpr WORD kDefaultSublanguage = 1;

struct Language {
  char code[4];  // ISO 639
  WORD primary;  // Windows' primary language id
};

constexpr Language kLanguages[] = {
    {"ar", 0x01}, {"bg", 0x02}, {"ca", 0x03}, {"zh", 0x04}, {"cs", 0x05}, {"da", 0x06}, {"de", 0x07},
    {"el", 0x08}, {"en", 0x09}, {"es", 0x0A}, {"fi", 0x0B}, {"fr", 0x0C}, {"he", 0x0D}, {"hu", 0x0E},
    {"is", 0x0F}, {"it", 0x10}, {"ja", 0x11}, {"ko", 0x12}, {"nl", 0x13}, {"nb", 0x14}, {"nn", 0x14},
    {"no", 0x14}, {"pl", 0x15}, {"pt", 0x16}, {"ro", 0x18}, {"ru", 0x19}, {"hr", 0x1A}, {"sk", 0x1B},
    {"sq", 0x1C}, {"sv", 0x1D}, {"th", 0x1E}, {"tr", 0x1F}, {"id", 0x21}, {"uk", 0x22}, {"sl", 0x24},
    {"et", 0x25}, {"lv", 0x26}, {"lt", 0x27}, {"vi", 0x2A}, {"eu", 0x2D}, {"hi", 0x39}, {"ga", 0x3C},
};

}  // namespace

LANGID GetUserDefaultUILanguage() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') continue;
    // "de_AT.UTF-8@euro": the language is what comes before '_', '.' or '@'.
    const size_t length = std::strcspn(value, "_.@");
    for (const Language& language : kLanguages)
      if (length == std::strlen(language.code) && std::strncmp(value, language.code, length) == 0)
        return static_cast<LANGID>(kDefaultSublanguage << 10 | language.primary);
    return kEnglishUs;
  }
  return kEnglishUs;
}
