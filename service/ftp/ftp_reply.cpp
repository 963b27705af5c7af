#include "service/ftp/ftp_reply.h"

namespace corvane {

void TFtpReply::SetText(const std::string& text) {
  lines_.clear();
  std::string line;
  bool pending = false;  // text seen since the last line end
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines_.push_back(line);
      line.clear();
      pending = false;
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
      pending = true;
    }
  }
  if (pending) lines_.push_back(line);
}

void TFtpReply::FillDefaultText() {
  if (code_ == 0 || !lines_.empty()) return;
  switch (code_ / 100) {
    case 1:
      lines_ = {"Information"};
      break;
    case 2:
      lines_ = {"Ok"};
      break;
    case 3:
      lines_ = {"Temporary Error"};
      break;
    case 4:
      lines_ = {"Permanent Error"};
      break;
    case 5:
      lines_ = {"Unknown Internal Error"};
      break;
    default:
      break;
  }
}

std::string TFtpReply::Render() const {
  const std::string code = std::to_string(code_);
  if (lines_.empty()) return code + "\r\n";
  std::string out;
  const std::size_t last = lines_.size() - 1;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i == last) {
      out += code + " " + lines_[i];
    } else if (i == 0 || format_ == TReplyFormat::rfNormal) {
      out += code + "-" + lines_[i];
    } else {
      out += " " + lines_[i];
    }
    out += "\r\n";
  }
  return out;
}

}  // namespace corvane
