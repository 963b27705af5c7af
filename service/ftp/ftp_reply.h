#pragma once

#include <string>
#include <vector>

namespace corvane {

enum class TReplyFormat { rfNormal, rfIndentMidLines };

// A numbered FTP reply: a three-digit code and text lines.
class TFtpReply {
 public:
  TFtpReply() = default;
  TFtpReply(int code, const std::string& text) : code_(code) { SetText(text); }

  int Code() const { return code_; }
  void SetCode(int code) { code_ = code; }
  const std::vector<std::string>& Lines() const { return lines_; }
  std::vector<std::string>& Lines() { return lines_; }
  TReplyFormat Format() const { return format_; }
  void SetFormat(TReplyFormat format) { format_ = format; }

  // Replaces the text; one string is split into lines at CR LF, a lone CR and a lone LF.
  void SetText(const std::string& text);
  void SetReply(int code, const std::string& text) {
    code_ = code;
    SetText(text);
  }
  void Clear() {
    code_ = 0;
    lines_.clear();
    format_ = TReplyFormat::rfNormal;
  }
  bool Empty() const { return code_ == 0; }

  // A code without text gets the default text of its first digit ("Ok" for 2xx).
  void FillDefaultText();
  // The reply as it goes on the wire (before encoding): lines ended by CR LF.
  std::string Render() const;

 private:
  int code_ = 0;
  std::vector<std::string> lines_;
  TReplyFormat format_ = TReplyFormat::rfNormal;
};

}  // namespace corvane
