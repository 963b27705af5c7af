#include "service/ftp/telnet_line_reader.h"

namespace corvane {
namespace {

constexpr unsigned char kCr = 13, kLf = 10, kNul = 0;
constexpr unsigned char kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                        kEl = 248, kEc = 247, kAo = 245, kIp = 244, kDm = 242, kSe = 240;

}  // namespace

void TelnetLineReader::Append(char c) {
  if (overlong_) return;
  if (line_.size() >= kMaxLineLength) {
    overlong_ = true;
    line_.clear();
    line_.shrink_to_fit();
    return;
  }
  line_ += c;
}

// An emptied line starts afresh, so a line that had grown too long is no longer overlong.
void TelnetLineReader::ClearLine() {
  line_.clear();
  overlong_ = false;
}

std::optional<TelnetLineReader::Line> TelnetLineReader::Feed(const char* data, std::size_t size,
                                                             std::size_t* consumed) {
  while (*consumed < size) {
    const auto byte = static_cast<unsigned char>(data[(*consumed)++]);
    switch (state_) {
      case State::Text:
        if (byte == kCr) {
          state_ = State::AfterCr;
        } else if (byte == kIac) {
          state_ = State::Command;
        } else {
          Append(static_cast<char>(byte));
        }
        break;
      case State::AfterCr:
        if (byte == kLf) {
          state_ = State::Text;
          Line line{std::move(line_), overlong_};
          line_.clear();
          overlong_ = false;
          return line;
        }
        Append(static_cast<char>(kCr));
        if (byte == kCr) break;  // this CR may begin the CR LF that ends the line
        if (byte == kNul) {
          state_ = State::Text;
        } else if (byte == kIac) {
          state_ = State::Command;
        } else {
          Append(static_cast<char>(byte));
          state_ = State::Text;
        }
        break;
      case State::Command:
        state_ = State::Text;
        switch (byte) {
          case kIp:
            ClearLine();
            state_ = State::SkipToDm;
            break;
          case kAo:
            respond_(std::string{static_cast<char>(kIac), static_cast<char>(kIp),
                                 static_cast<char>(kIac), static_cast<char>(kDm)});
            break;
          case kEc:
            if (!line_.empty()) line_.pop_back();
            break;
          case kEl:
            ClearLine();
            break;
          case kSb:
            option_verb_ = kSb;
            state_ = State::Option;
            break;
          case kWill:
          case kDo:
          case kWont:
          case kDont:
            option_verb_ = byte;
            state_ = State::Option;
            break;
          case kIac:
            Append(static_cast<char>(kIac));
            break;
          default:  // NOP, DM, BRK, AYT, GA
            break;
        }
        break;
      case State::Option:
        state_ = State::Text;
        if (option_verb_ == kWill) {
          respond_(std::string{static_cast<char>(kIac), static_cast<char>(kDont),
                               static_cast<char>(byte)});
        } else if (option_verb_ == kDo) {
          respond_(std::string{static_cast<char>(kIac), static_cast<char>(kWont),
                               static_cast<char>(byte)});
        } else if (option_verb_ == kSb) {
          state_ = State::SubNegotiation;
        }
        break;
      case State::SubNegotiation:
        if (byte == kIac) state_ = State::SubNegotiationIac;
        break;
      case State::SubNegotiationIac:
        state_ = byte == kSe ? State::Text : State::SubNegotiation;
        break;
      case State::SkipToDm:
        if (byte == kIac) state_ = State::SkipToDmIac;
        break;
      case State::SkipToDmIac:
        state_ = byte == kDm ? State::Text : (byte == kIac ? State::SkipToDmIac : State::SkipToDm);
        break;
    }
  }
  return std::nullopt;
}

}  // namespace corvane
