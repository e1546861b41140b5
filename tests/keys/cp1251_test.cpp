#include "keys/cp1251.h"

#include <gtest/gtest.h>

#include <set>

using namespace vorsal;

TEST(Cp1251, KnownCharactersConvertBothWays) {
  const struct {
    const char* utf8;
    const char* cp1251;
  } cases[] = {
      {"Key-1 =;[]", "Key-1 =;[]"},
      {"Ключ", "\xCA\xEB\xFE\xF7"},
      {"АЯаяЁё", "\xC0\xDF\xE0\xFF\xA8\xB8"},
      {"№€™«»", "\xB9\x88\x99\xAB\xBB"},
      {"ЂЃѓЉЏђџЎўЈҐґІіїЅѕ", "\x80\x81\x83\x8A\x8F\x90\x9F\xA1\xA2\xA3\xA5\xB4\xB2\xB3\xBF\xBD\xBE"},
      {"\xC2\xA0\xC2\xAD", "\xA0\xAD"},  // no-break space, soft hyphen
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToCp1251(c.utf8), std::optional<std::string>(c.cp1251)) << c.utf8;
    EXPECT_EQ(Cp1251ToUtf8(c.cp1251), c.utf8) << c.utf8;
  }
}

TEST(Cp1251, EveryByteSurvivesTheRoundTripAndHasItsOwnCharacter) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), std::optional<std::string>(all));
  std::set<std::string> seen;
  for (int b = 0; b < 256; ++b) seen.insert(Cp1251ToUtf8(std::string(1, static_cast<char>(b))));
  EXPECT_EQ(seen.size(), 256u);
}

TEST(Cp1251, RefusesTextWithoutAWindows1251FormAndSaysWhy) {
  std::string error;
  EXPECT_EQ(Utf8ToCp1251("ab中c", &error), std::nullopt);
  EXPECT_NE(error.find("U+4E2D"), std::string::npos) << error;
  EXPECT_NE(error.find("character 3"), std::string::npos) << error;

  for (const char* text : {"Ä", "😀", "ı"}) {
    error.clear();
    EXPECT_EQ(Utf8ToCp1251(text, &error), std::nullopt) << text;
    EXPECT_NE(error.find("no Windows-1251 form"), std::string::npos) << error;
  }
  // Malformed UTF-8: a stray continuation byte, a cut sequence, an overlong
  // form, an encoded surrogate, a byte that never occurs.
  for (const char* text : {"a\x80", "\xD0", "\xC0\x80", "\xED\xA0\x80", "\xFF"}) {
    error.clear();
    EXPECT_EQ(Utf8ToCp1251(text, &error), std::nullopt);
    EXPECT_NE(error.find("not valid UTF-8"), std::string::npos) << error;
  }
  EXPECT_EQ(Utf8ToCp1251("中"), std::nullopt);  // no error text wanted
}

TEST(Cp1251, LetterCaseOfLatinAndCyrillic) {
  const auto upper = [](std::string s) {
    for (char& c : s) c = static_cast<char>(Cp1251ToUpper(static_cast<std::uint8_t>(c)));
    return s;
  };
  const std::string small = *Utf8ToCp1251("abzабвгдеёжзийклмнопрстуфхцчшщъыьэюяђѓљњќћџўјґєїіѕ");
  const std::string capital = *Utf8ToCp1251("ABZАБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯЂЃЉЊЌЋЏЎЈҐЄЇІЅ");
  EXPECT_EQ(Cp1251ToUtf8(upper(small)), Cp1251ToUtf8(capital));
  EXPECT_EQ(Cp1251ToUtf8(upper(capital)), Cp1251ToUtf8(capital));

  // Everything else stays: digits, signs, µ (its capital is not in the code page).
  const std::string others = *Utf8ToCp1251("09 =[]@`{}№µ§©«»€\xC2\xA0");
  EXPECT_EQ(upper(others), others);

  EXPECT_TRUE(Cp1251EqualsIgnoreCase(*Utf8ToCp1251("Ключ ё-Key"), *Utf8ToCp1251("кЛЮЧ Ё-kEY")));
  EXPECT_FALSE(Cp1251EqualsIgnoreCase(*Utf8ToCp1251("ключ е"), *Utf8ToCp1251("ключ ё")));
  EXPECT_FALSE(Cp1251EqualsIgnoreCase("key", "key "));
}
