// Code page 936 (GBK) for the native tests, through the C library's iconv, and UTF-16 helpers. The
// launcher's strings hold UTF-16 code units in wchar_t on every platform, so these produce and take
// exactly that.
#pragma once

#include <iconv.h>

#include <stdexcept>
#include <string>
#include <string_view>

namespace test_text {

inline std::string Convert(std::string_view input, const char* from, const char* to) {
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv cannot convert");
  std::string output(input.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  char* out = output.data();
  std::size_t outLeft = output.size();
  const std::size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
  iconv_close(converter);
  if (result == static_cast<std::size_t>(-1)) throw std::runtime_error("iconv met an invalid sequence");
  output.resize(output.size() - outLeft);
  return output;
}

// UTF-8 text as the bytes a GBK file holds.
inline std::string Cp936(std::string_view utf8) {
  return Convert(utf8, "UTF-8", "GBK");
}

// UTF-16 little-endian bytes into code units.
inline std::wstring UnitsOf(std::string_view utf16le) {
  std::wstring units;
  for (std::size_t i = 0; i + 1 < utf16le.size(); i += 2) {
    units.push_back(static_cast<wchar_t>(static_cast<unsigned char>(utf16le[i]) |
                                         (static_cast<unsigned char>(utf16le[i + 1]) << 8)));
  }
  return units;
}

// A valid GBK text decoded as the Windows code page 936 conversion would.
inline std::wstring DecodeCp936(std::string_view gbk) {
  return UnitsOf(Convert(gbk, "GBK", "UTF-16LE"));
}

// UTF-8 text as UTF-16 code units, for expectations that hold characters beyond the BMP.
inline std::wstring Utf16(std::string_view utf8) {
  return UnitsOf(Convert(utf8, "UTF-8", "UTF-16LE"));
}

// UTF-8 text as the bytes of a UTF-16 LE file (without a byte order mark).
inline std::string Utf16LeBytes(std::string_view utf8) {
  return Convert(utf8, "UTF-8", "UTF-16LE");
}

// Each byte as one code unit: a stand-in ANSI decoder for tests that use plain ASCII.
inline std::wstring DecodeLatin1(std::string_view bytes) {
  std::wstring units;
  units.reserve(bytes.size());
  for (char byte : bytes) units.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
  return units;
}

}  // namespace test_text
