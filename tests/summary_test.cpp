// The run summary and the program's Windows-1251 texts: minutes and seconds
// from the elapsed time, the exact bytes of the summary, and the conversion
// of the code page to UTF-8 for the console.

#include <gtest/gtest.h>

#include <string>

#include "run/summary.h"
#include "run/text.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

namespace {

std::string expectedSummary(const std::string& gr, const std::string& pr, int minutes, int seconds) {
  return toCp1251("Размерность сетки = 920*1200\nGr = " + gr + "\tPr = " + pr +
                  "\nПонадобилось времени: " + std::to_string(minutes) + " минут,   " +
                  std::to_string(seconds) + " секунд\n\n");
}

}  // namespace

TEST(RunSummary, ThreeLinesAndAnEmptyLineInWindows1251) {
  Gr = 1e6;
  Pr = 0.71;
  const std::string s = runSummary(3725.9);
  EXPECT_EQ(s, expectedSummary("1e+06", "0.71", 62, 5));
  // "Раз..." in Windows-1251.
  ASSERT_GE(s.size(), 3u);
  EXPECT_EQ(static_cast<unsigned char>(s[0]), 0xD0);
  EXPECT_EQ(static_cast<unsigned char>(s[1]), 0xE0);
  EXPECT_EQ(static_cast<unsigned char>(s[2]), 0xE7);
}

TEST(RunSummary, MinutesAndSecondsAreBothTakenFromTheWholeTime) {
  Gr = 1;
  Pr = 0;
  struct Case {
    double elapsed;
    int minutes, seconds;
  };
  for (Case c : {Case{3725.9, 62, 5}, Case{3600.5, 60, 0}, Case{0.4, 0, 0}, Case{0.0, 0, 0},
                 Case{59.99, 0, 59}, Case{60.0, 1, 0}, Case{61.7, 1, 1}, Case{7199.9, 119, 59}}) {
    SCOPED_TRACE(c.elapsed);
    EXPECT_EQ(runSummary(c.elapsed), expectedSummary("1", "0", c.minutes, c.seconds));
  }
}

TEST(Windows1251, CompileTimeTextsMatchTheCodePage) {
  EXPECT_EQ(ru("Отчет.txt").str(), toCp1251("Отчет.txt"));
  EXPECT_EQ(ru("Итерация = ").str(), toCp1251("Итерация = "));
  EXPECT_EQ(ru("ЁёАаЯя").str(), "\xA8\xB8\xC0\xE0\xDF\xFF");
  EXPECT_EQ(ru("Gr = ").str(), "Gr = ");
}

TEST(Windows1251, ConsoleConversionToUtf8) {
  // Russian letters: 0xC0..0xFF are U+0410..U+044F.
  for (int b = 0xC0; b <= 0xFF; ++b) {
    unsigned c = 0x410 + (b - 0xC0);
    std::string utf8 = {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    EXPECT_EQ(cp1251ToUtf8(std::string(1, static_cast<char>(b))), utf8) << b;
  }
  EXPECT_EQ(cp1251ToUtf8("\xA8\xB8"), "Ёё");
  EXPECT_EQ(cp1251ToUtf8("\xB9"), "\xE2\x84\x96");  // numero sign
  EXPECT_EQ(cp1251ToUtf8("\x96"), "\xE2\x80\x93");  // en dash
  EXPECT_EQ(cp1251ToUtf8("\x98"), "\xEF\xBF\xBD");  // unassigned
  EXPECT_EQ(cp1251ToUtf8("Gr = 1\tPr = 0.71\n"), "Gr = 1\tPr = 0.71\n");
  EXPECT_EQ(cp1251ToUtf8(toCp1251("Не найден файл 'parametrs'!!!\n")), "Не найден файл 'parametrs'!!!\n");
}
