#pragma once

#include <functional>
#include <string>
#include <vector>

#include "service/ftp/ftp_reply.h"

namespace corvane {

class TFtpContext;
class ControlSession;
class TFtpEngine;
class TCommand;

using TCommandEvent = std::function<void(TCommand&)>;

// One entry of a command table.
struct TCommandHandler {
  std::string Command;
  bool Enabled = true;
  bool HelpVisible = true;
  std::string HelpSuperScript;
  std::string Description;
  int NormalReplyCode = 200;
  std::string NormalReplyText;
  int ExceptionReplyCode = 0;  // 0: the server's exception reply
  bool Disconnect = false;
  bool NeedsLogin = false;
  // The answer to a command that needs login, sent before login.
  int NotLoggedInCode = 530;
  std::string NotLoggedInText = "Not logged in.";
  TCommandEvent OnCommand;
};

// An ordered command table; the first entry whose word matches a line runs it.
class TCommandTable {
 public:
  TCommandHandler& Add(TCommandHandler handler);
  // The entry matching the line: the whole line equals the word, or the line begins with the
  // word and one space (case ignored). *parameters gets the text after that space.
  const TCommandHandler* Match(const std::string& line, std::string* parameters) const;
  // The first entry whose word equals name (case ignored).
  const TCommandHandler* Find(const std::string& name) const;
  const std::vector<TCommandHandler>& Entries() const { return entries_; }

 private:
  std::vector<TCommandHandler> entries_;
};

// One received command line on its way through a handler.
class TCommand {
 public:
  TCommand(ControlSession& session, const TCommandHandler& handler, std::string raw_line,
           std::string unparsed);

  const std::string& RawLine() const { return raw_line_; }
  const std::string& UnparsedParams() const { return unparsed_; }
  // The parameters split at single spaces.
  const std::vector<std::string>& Params() const { return params_; }
  const TCommandHandler& Handler() const { return handler_; }
  const std::string& CommandWord() const { return handler_.Command; }

  TFtpReply Reply;
  // False once the handler has written its own answer.
  bool SendReply = true;
  bool Disconnect = false;

  ControlSession& Session() const { return session_; }
  TFtpContext& Context() const;
  TFtpEngine& Engine() const;

 private:
  ControlSession& session_;
  const TCommandHandler& handler_;
  std::string raw_line_;
  std::string unparsed_;
  std::vector<std::string> params_;
};

// "%s" in format replaced by value (the first occurrence).
std::string Substitute(const std::string& format, const std::string& value);
std::string UpperCase(std::string text);

}  // namespace corvane
