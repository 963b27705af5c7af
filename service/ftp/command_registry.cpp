#include "service/ftp/command_handlers.h"
#include "service/ftp/ftp_engine.h"

namespace corvane {
namespace {

enum Login { kNoLogin, kLogin, kLoginElse550 };
enum Help { kListed, kPlaceholder, kHidden };

// One row of the main table: word, login rule, exception code (0: none), help, description.
TCommandHandler& Add(TCommandTable& table, const char* word, Login login, int exception_code,
                     Help help, const char* description, TCommandEvent handler) {
  TCommandHandler entry;
  entry.Command = word;
  entry.NeedsLogin = login != kNoLogin;
  if (login == kLoginElse550) {
    entry.NotLoggedInCode = 550;
    entry.NotLoggedInText = "Requested file action not taken.";
  }
  entry.ExceptionReplyCode = exception_code;
  entry.HelpVisible = help != kHidden;
  entry.HelpSuperScript = help == kPlaceholder ? "*" : "";
  entry.Description = description;
  entry.OnCommand = std::move(handler);
  return table.Add(std::move(entry));
}

void RegisterMainTable(TCommandTable& t) {
  Add(t, "USER", kNoLogin, 0, kListed, "Syntax: USER <sp> username", CmdUser);
  Add(t, "PASS", kNoLogin, 503, kListed, "Syntax: PASS <sp> password", CmdPass);
  Add(t, "ACCT", kNoLogin, 0, kPlaceholder, "ACCT        (specify account); unimplemented.",
      CmdNotImplemented502);
  Add(t, "CWD", kLogin, 550, kListed, "Syntax: CWD [ <sp> directory-name ]", CmdCwd);
  Add(t, "CDUP", kLogin, 550, kListed, "Syntax: CDUP (change to parent directory)", CmdCdup);
  Add(t, "SMNT", kNoLogin, 0, kListed, "SMNT        (structure mount); unimplemented.", CmdSmnt);
  // The one entry whose connection closes after its reply.
  Add(t, "QUIT", kNoLogin, 0, kListed, "Syntax: QUIT (terminate service)", CmdQuit).Disconnect =
      true;
  Add(t, "REIN", kLogin, 0, kListed, "Syntax: REIN (reinitialize server state)", CmdRein);
  Add(t, "PORT", kLogin, 0, kListed, "Syntax: PORT <sp> b0, b1, b2, b3, b4", CmdPort);
  Add(t, "PASV", kLogin, 0, kListed, "Syntax: PASV (set server in passive mode)", CmdPasv);
  Add(t, "P@SW", kLogin, 0, kHidden, "Syntax: PASV (set server in passive mode)", CmdPasv);
  Add(t, "TYPE", kLogin, 0, kListed, "Syntax: TYPE <sp> [ A | E | I | L ]", CmdType);
  Add(t, "STRU", kLogin, 0, kListed, "Syntax: STRU (specify file structure)", CmdStru);
  Add(t, "MODE", kLogin, 501, kListed, "Syntax: MODE (specify transfer mode)", CmdMode);
  Add(t, "RETR", kLogin, 550, kListed, "Syntax: RETR <sp> file-name", CmdRetr);
  Add(t, "STOR", kLogin, 551, kListed, "Syntax: STOR <sp> file-name", CmdStor);
  Add(t, "STOU", kLogin, 551, kListed, "Syntax: STOU <sp> file-name", CmdStou);
  Add(t, "APPE", kLogin, 550, kListed, "Syntax: APPE <sp> file-name", CmdAppe);
  Add(t, "ALLO", kLogin, 550, kListed, "Syntax: ALLO allocate storage (vacuously)", CmdAllo);
  Add(t, "REST", kLogin, 550, kListed, "Syntax: REST (restart command)", CmdRest);
  Add(t, "RNFR", kLogin, 550, kListed, "Syntax: RNFR <sp> file-name", CmdRnfr);
  Add(t, "RNTO", kLogin, 550, kListed, "Syntax: RNTO <sp> file-name", CmdRnto);
  Add(t, "ABOR", kLogin, 550, kListed, "Syntax: ABOR (abort operation)", CmdAbor);
  Add(t, "DELE", kLoginElse550, 550, kListed, "Syntax: DELE <sp> file-name", CmdDele);
  Add(t, "RMD", kLogin, 550, kListed, "Syntax: RMD <sp> path-name", CmdRmd);
  Add(t, "MKD", kLogin, 550, kListed, "Syntax: MKD <sp> path-name", CmdMkd);
  Add(t, "PWD", kLogin, 550, kListed, "Syntax: PWD (return current directory)", CmdPwd);
  Add(t, "LIST", kLogin, 450, kListed, "Syntax: LIST [ <sp> path-name ]", CmdList);
  Add(t, "NLST", kLogin, 450, kListed, "Syntax: NLST [ <sp> path-name ]", CmdNlst);
  Add(t, "SITE", kNoLogin, 501, kListed, "Syntax: SITE (site-specific commands)", CmdSite);
  Add(t, "SYST", kLogin, 501, kListed, "Syntax: SYST (get type of operating system)", CmdSyst);
  Add(t, "STAT", kLogin, 450, kListed, "Syntax: STAT [ <sp> path-name ]", CmdStat);
  Add(t, "NOOP", kNoLogin, 550, kListed, "Syntax: NOOP", CmdNoop);
  Add(t, "XMKD", kLogin, 551, kListed, "Syntax: XMKD <sp> path-name", CmdMkd);
  Add(t, "XCWD", kLogin, 550, kListed, "Syntax: XCWD [ <sp> directory-name ]", CmdCwd);
  Add(t, "XRMD", kLogin, 551, kListed, "Syntax: XRMD <sp> path-name", CmdRmd);
  Add(t, "XPWD", kLogin, 502, kListed, "Syntax: PWD (return current directory)", CmdPwd);
  Add(t, "XCUP", kLogin, 551, kListed, "Syntax: XCUP (change to parent directory)", CmdCdup);
  Add(t, "FEAT", kNoLogin, 501, kListed, "Syntax: FEAT (returns feature list)", CmdFeat);
  Add(t, "OPTS", kNoLogin, 501, kListed, "Syntax: OPTS <sp> command [<sp> options]", CmdOpts);
  Add(t, "SIZE", kLogin, 550, kHidden, "", CmdNotUnderstood);
  Add(t, "EPSV", kLogin, 501, kListed, "Syntax: EPSV (returns port |||port|)", CmdEpsv);
  Add(t, "EPRT", kLogin, 501, kListed, "Syntax: EPRT <sp> |proto|addr|port|", CmdEprt);
  Add(t, "MDTM", kNoLogin, 550, kHidden, "", CmdNotUnderstood);
  Add(t, "AUTH", kNoLogin, 501, kListed, "Syntax: AUTH <sp> mechanism-name", CmdAuth);
  Add(t, "PBSZ", kNoLogin, 501, kListed, "Syntax: PBSZ <sp> protection buffer size", CmdPbsz);
  Add(t, "PROT", kNoLogin, 501, kListed, "Syntax: PROT <sp> protection code", CmdProt);
  Add(t, "CCC", kLogin, 0, kListed, "Syntax: CCC (clear command channel)", CmdCcc);
  Add(t, "MIC", kNoLogin, 0, kPlaceholder,
      "MIC         (integrity protected command); unimplemented.", CmdNotImplemented550);
  Add(t, "CONF", kNoLogin, 0, kPlaceholder,
      "CONF        (confidentiality protected command); unimplemented.", CmdNotImplemented550);
  Add(t, "ENC", kNoLogin, 0, kPlaceholder,
      "ENC         (privacy protected command); unimplemented.", CmdNotImplemented550);
  Add(t, "MLSD", kLogin, 550, kListed, "Syntax: MLSD [ <sp> path-name ]", CmdMlsd);
  Add(t, "MLST", kLogin, 550, kListed, "Syntax: MLST [ <sp> path-name ]", CmdMlst);
  Add(t, "MFMT", kLogin, 550, kHidden, "", CmdNotUnderstood);
  Add(t, "MFCT", kLogin, 550, kListed, "Syntax: MFCT [ATime] [Path-name]", CmdNotUnderstood);
  Add(t, "MFF", kNoLogin, 550, kHidden, "", CmdNotUnderstood);
  Add(t, "MD5", kLogin, 504, kHidden, "", CmdNotUnderstood);
  Add(t, "MMD5", kLogin, 504, kHidden, "", CmdNotUnderstood);
  Add(t, "XCRC", kNoLogin, 550, kHidden, "", CmdNotUnderstood);
  Add(t, "XMD5", kNoLogin, 550, kHidden, "", CmdNotUnderstood);
  Add(t, "XSHA1", kNoLogin, 550, kHidden, "", CmdNotUnderstood);
  Add(t, "COMB", kNoLogin, 550, kHidden, "", CmdNotImplemented550);
  Add(t, "SSCN", kLogin, 550, kListed, "Syntax: SSCN [ON|OFF]", CmdSscn);
  Add(t, "CPSV", kLogin, 0, kListed, "Syntax: CPSV (set server in passive mode with SSL Connect)",
      CmdCpsv);
  Add(t, "AVBL", kLoginElse550, 500, kHidden, "", CmdNotImplemented550);
  Add(t, "DSIZ", kLoginElse550, 500, kHidden, "", CmdNotImplemented550);
  Add(t, "RMDA", kLoginElse550, 550, kHidden, "", CmdNotImplemented550);
  Add(t, "CLNT", kNoLogin, 550, kListed, "Syntax: CLNT<space><clientname>", CmdClnt);
  Add(t, "SPSV", kLogin, 0, kListed, "Syntax: SPSV (set server in passive mode)", CmdSpsv);
  Add(t, "HOST", kNoLogin, 504, kHidden, "", CmdNotUnderstood);
  Add(t, "MLFL", kNoLogin, 0, kPlaceholder, "MLFL        (mail file); unimplemented.",
      CmdNotImplemented502);
  Add(t, "MAIL", kNoLogin, 0, kPlaceholder, "MAIL        (mail to user); unimplemented.",
      CmdNotImplemented502);
  Add(t, "MSND", kNoLogin, 0, kPlaceholder, "MSND        (mail send to terminal); unimplemented.",
      CmdNotImplemented502);
  Add(t, "MSOM", kNoLogin, 0, kPlaceholder,
      "MSOM        (mail send to terminal or mailbox); unimplemented.", CmdNotImplemented502);
  Add(t, "MSAM", kNoLogin, 0, kPlaceholder,
      "MSAM        (mail send to terminal and mailbox); unimplemented.", CmdNotImplemented502);
  Add(t, "MRSQ", kNoLogin, 0, kPlaceholder,
      "MRSQ        (mail recipient scheme question); unimplemented.", CmdNotImplemented502);
  Add(t, "MRCP", kNoLogin, 0, kPlaceholder, "MRCP        (mail recipient); unimplemented.",
      CmdNotImplemented502);
  Add(t, "HELP", kNoLogin, 0, kListed, "Syntax: HELP [ <sp> <string> ]", CmdHelp);
}

void RegisterSiteTable(TCommandTable& t) {
  Add(t, "HELP", kLogin, 0, kListed, "", CmdSiteHelp);
  Add(t, "ATTRIB", kLogin, 0, kListed, "", CmdSiteInvalid);
  Add(t, "UMASK", kLogin, 0, kListed, "", CmdNotImplemented550);
  Add(t, "CHMOD", kLogin, 0, kListed, "", CmdSiteInvalid);
  Add(t, "CHOWN", kNoLogin, 0, kListed, "", CmdSitePermission);
  Add(t, "CHGRP", kNoLogin, 0, kListed, "", CmdSitePermission);
  Add(t, "DIRSTYLE", kNoLogin, 0, kListed, "", CmdSiteInvalid);
  Add(t, "ZONE", kNoLogin, 0, kListed, "", CmdSiteZone);
  Add(t, "UTIME", kLogin, 0, kListed, "", CmdSiteUtime);
}

void RegisterOptsTable(TCommandTable& t) {
  Add(t, "MLST", kNoLogin, 0, kListed, "", CmdOptsMlst);
  Add(t, "MODE Z", kNoLogin, 0, kListed, "", CmdOptsModeZ);
  Add(t, "UTF-8", kNoLogin, 0, kListed, "", CmdOptsUtf8Dash);
  Add(t, "UTF8", kNoLogin, 0, kListed, "", CmdOptsUtf8);
}

void RegisterTransferTable(TCommandTable& t) {
  Add(t, "ABOR", kNoLogin, 550, kListed, "", CmdTransferAbor);
  Add(t, "STAT", kNoLogin, 450, kListed, "", CmdTransferStat);
}

}  // namespace

void RegisterCommands(TFtpEngine& engine) {
  RegisterMainTable(engine.CommandHandlers());
  RegisterSiteTable(engine.SiteCommands());
  RegisterOptsTable(engine.OptsCommands());
  RegisterTransferTable(engine.TransferCommands());
}

}  // namespace corvane
