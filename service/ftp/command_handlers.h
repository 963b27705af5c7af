#pragma once

// The handlers of the engine's command tables, grouped by the file that implements them.

namespace corvane {

class TCommand;
class TFtpEngine;

// Fills the four command tables in their order of registration (command_registry.cpp).
void RegisterCommands(TFtpEngine& engine);

// commands_login.cpp
void CmdUser(TCommand& command);
void CmdPass(TCommand& command);
void CmdRein(TCommand& command);
void CmdQuit(TCommand& command);

// commands_directory.cpp
void CmdCwd(TCommand& command);
void CmdCdup(TCommand& command);
void CmdPwd(TCommand& command);

// commands_placeholder.cpp: commands that only answer from the table.
void CmdNotImplemented502(TCommand& command);  // 502 "%s" Command not implemented.
void CmdNotImplemented550(TCommand& command);  // 550 "%s" Command not implemented.
void CmdNotUnderstood(TCommand& command);      // the not-understood answer for the line
void CmdSmnt(TCommand& command);

// commands_info.cpp
void CmdHelp(TCommand& command);
void CmdFeat(TCommand& command);
void CmdStat(TCommand& command);
void CmdSite(TCommand& command);
void CmdOpts(TCommand& command);
void CmdAllo(TCommand& command);
void CmdSyst(TCommand& command);
void CmdNoop(TCommand& command);
void CmdClnt(TCommand& command);
void CmdSiteHelp(TCommand& command);
void CmdSiteZone(TCommand& command);
void CmdSiteInvalid(TCommand& command);     // 500 "Invalid SITE command."
void CmdSitePermission(TCommand& command);  // 553 "Permission denied."
void CmdSiteUtime(TCommand& command);
void CmdOptsUtf8(TCommand& command);
void CmdOptsUtf8Dash(TCommand& command);
void CmdOptsModeZ(TCommand& command);
void CmdOptsMlst(TCommand& command);

// commands_parameters.cpp
void CmdType(TCommand& command);
void CmdStru(TCommand& command);
void CmdMode(TCommand& command);
void CmdRest(TCommand& command);

// commands_data.cpp (data connections)
void CmdPort(TCommand& command);
void CmdEprt(TCommand& command);
void CmdPasv(TCommand& command);
void CmdSpsv(TCommand& command);
void CmdEpsv(TCommand& command);

// commands_transfer.cpp and commands_files.cpp
void CmdRetr(TCommand& command);
void CmdStor(TCommand& command);
void CmdStou(TCommand& command);
void CmdAppe(TCommand& command);
void CmdAbor(TCommand& command);
void CmdRnfr(TCommand& command);
void CmdRnto(TCommand& command);
void CmdDele(TCommand& command);
void CmdMkd(TCommand& command);
void CmdRmd(TCommand& command);
// ABOR and STAT as they run during a transfer (the transfer-time table).
void CmdTransferAbor(TCommand& command);
void CmdTransferStat(TCommand& command);

// commands_listing.cpp
void CmdList(TCommand& command);
void CmdNlst(TCommand& command);
void CmdMlsd(TCommand& command);
void CmdMlst(TCommand& command);
// STAT with a path, called by CmdStat.
void StatListing(TCommand& command);

// commands_tls.cpp
void CmdAuth(TCommand& command);
void CmdPbsz(TCommand& command);
void CmdProt(TCommand& command);
void CmdCcc(TCommand& command);
void CmdSscn(TCommand& command);
void CmdCpsv(TCommand& command);

}  // namespace corvane
