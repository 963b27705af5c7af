#include "service/ftp/text_encoding.h"

#include <cstdint>

namespace corvane {
namespace {

// Reads one UTF-8 character at text[i]; returns its length (0 when invalid) and the code point.
std::size_t ReadUtf8(const std::string& text, std::size_t i, std::uint32_t& code_point) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length;
  if (lead < 0x80) {
    code_point = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2;
    code_point = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    code_point = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    code_point = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code_point = (code_point << 6) | (byte(i + k) & 0x3F);
  }
  static constexpr std::uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code_point < kMinimum[length] || code_point > 0x10FFFF ||
      (code_point >= 0xD800 && code_point <= 0xDFFF))
    return 0;
  return length;
}

void AppendUtf8(std::string& out, std::uint32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else {  // Latin-1 range only: two bytes
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

}  // namespace

std::string DecodeText(const std::string& bytes, TTextEncoding encoding) {
  std::string out;
  out.reserve(bytes.size());
  if (encoding == TTextEncoding::Latin1) {
    for (const char c : bytes) AppendUtf8(out, static_cast<unsigned char>(c));
    return out;
  }
  for (std::size_t i = 0; i < bytes.size();) {
    std::uint32_t code_point;
    const std::size_t length = ReadUtf8(bytes, i, code_point);
    if (length == 0) {
      out += '?';
      ++i;
    } else {
      out.append(bytes, i, length);
      i += length;
    }
  }
  return out;
}

std::string EncodeText(const std::string& text, TTextEncoding encoding) {
  if (encoding == TTextEncoding::Utf8) return DecodeText(text, TTextEncoding::Utf8);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::uint32_t code_point;
    const std::size_t length = ReadUtf8(text, i, code_point);
    if (length == 0) {
      out += '?';
      ++i;
      continue;
    }
    out += code_point <= 0xFF ? static_cast<char>(code_point) : '?';
    i += length;
  }
  return out;
}

std::string ToAscii7(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::uint32_t code_point;
    const std::size_t length = ReadUtf8(text, i, code_point);
    out += (length != 0 && code_point < 0x80) ? static_cast<char>(code_point) : '?';
    i += length == 0 ? 1 : length;
  }
  return out;
}

}  // namespace corvane
