#pragma once

#include <string>

namespace corvane {

// The encoding of one control connection's command lines and replies. Text inside the engine
// is UTF-8; these convert at the wire.
enum class TTextEncoding { Latin1, Utf8 };

// Wire bytes to internal UTF-8. In Latin1 each byte is one character; in Utf8 invalid
// sequences become "?".
std::string DecodeText(const std::string& bytes, TTextEncoding encoding);
// Internal UTF-8 to wire bytes. In Latin1 characters above U+00FF become "?".
std::string EncodeText(const std::string& text, TTextEncoding encoding);
// Internal UTF-8 to 7-bit US-ASCII: every character outside it becomes one "?".
std::string ToAscii7(const std::string& text);

}  // namespace corvane
