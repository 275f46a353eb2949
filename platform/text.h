// The program's own texts are Russian and are held as Windows-1251 byte
// strings. They are written in the sources as UTF-8 literals and encoded at
// compile time: ru("Итерация = ") is the Windows-1251 string.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace plume {

// Unicode code points of the Windows-1251 bytes 0x80 .. 0xBF (0 = unassigned);
// 0xC0 .. 0xFF are U+0410 .. U+044F.
inline constexpr std::array<char32_t, 64> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0,      0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

// Code point of one Windows-1251 byte.
constexpr char32_t cp1251CodePoint(unsigned char b) {
  if (b < 0x80) return b;
  if (b >= 0xC0) return 0x0410 + (b - 0xC0);
  return kCp1251High[b - 0x80];
}

// Windows-1251 byte of a code point; a code point the page lacks is not a
// constant expression, so a misspelt literal fails to compile.
consteval unsigned char cp1251Byte(char32_t c) {
  if (c < 0x80) return static_cast<unsigned char>(c);
  if (c >= 0x0410 && c <= 0x044F) return static_cast<unsigned char>(0xC0 + (c - 0x0410));
  for (int k = 0; k < 64; ++k)
    if (kCp1251High[k] == c && c != 0) return static_cast<unsigned char>(0x80 + k);
  throw "character not in Windows-1251";
}

template <std::size_t N>
struct Cp1251Text {
  char bytes[N]{};
  std::size_t size = 0;
  constexpr operator std::string_view() const { return {bytes, size}; }
  std::string str() const { return {bytes, size}; }
};

// Encodes a UTF-8 literal as Windows-1251 at compile time.
template <std::size_t N>
consteval Cp1251Text<N> ru(const char (&utf8)[N]) {
  Cp1251Text<N> out;
  for (std::size_t k = 0; k + 1 < N;) {
    auto b = static_cast<unsigned char>(utf8[k]);
    char32_t c;
    int len;
    if (b < 0x80) { c = b; len = 1; }
    else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; len = 2; }
    else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; len = 3; }
    else { c = b & 0x07; len = 4; }
    for (int m = 1; m < len; ++m) c = (c << 6) | (static_cast<unsigned char>(utf8[k + m]) & 0x3F);
    out.bytes[out.size++] = static_cast<char>(cp1251Byte(c));
    k += len;
  }
  return out;
}

// UTF-8 form of a Windows-1251 string, for consoles and file names that use UTF-8.
std::string cp1251ToUtf8(std::string_view cp1251);

}  // namespace plume
