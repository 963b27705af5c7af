#include "service/ftp/ftp_command.h"

#include <strings.h>

#include <algorithm>
#include <cctype>

#include "service/ftp/control_session.h"

namespace corvane {
namespace {

bool EqualsIgnoringCase(const std::string& a, const std::string& b, std::size_t length) {
  return ::strncasecmp(a.c_str(), b.c_str(), length) == 0;
}

}  // namespace

TCommandHandler& TCommandTable::Add(TCommandHandler handler) {
  entries_.push_back(std::move(handler));
  return entries_.back();
}

const TCommandHandler* TCommandTable::Match(const std::string& line,
                                            std::string* parameters) const {
  for (const TCommandHandler& entry : entries_) {
    const std::size_t length = entry.Command.size();
    if (line.size() < length || !EqualsIgnoringCase(line, entry.Command, length)) continue;
    if (line.size() == length) {
      parameters->clear();
      return &entry;
    }
    if (line[length] == ' ') {
      *parameters = line.substr(length + 1);
      return &entry;
    }
  }
  return nullptr;
}

const TCommandHandler* TCommandTable::Find(const std::string& name) const {
  for (const TCommandHandler& entry : entries_)
    if (entry.Command.size() == name.size() && EqualsIgnoringCase(entry.Command, name, name.size()))
      return &entry;
  return nullptr;
}

TCommand::TCommand(ControlSession& session, const TCommandHandler& handler, std::string raw_line,
                   std::string unparsed)
    : session_(session),
      handler_(handler),
      raw_line_(std::move(raw_line)),
      unparsed_(std::move(unparsed)) {
  if (!unparsed_.empty()) {
    std::size_t start = 0;
    for (;;) {
      const std::size_t space = unparsed_.find(' ', start);
      params_.push_back(unparsed_.substr(start, space - start));
      if (space == std::string::npos) break;
      start = space + 1;
    }
  }
  Reply.SetReply(handler.NormalReplyCode, handler.NormalReplyText);
  Disconnect = handler.Disconnect;
}

TFtpContext& TCommand::Context() const {
  return session_.Context();
}
TFtpEngine& TCommand::Engine() const {
  return session_.Engine();
}

std::string Substitute(const std::string& format, const std::string& value) {
  std::string text = format;
  const std::size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, value);
  return text;
}

std::string UpperCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

}  // namespace corvane
