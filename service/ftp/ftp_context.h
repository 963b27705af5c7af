#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "service/ftp/text_encoding.h"
#include "service/net/endpoint.h"

namespace corvane {

class TDataChannel;
class ControlSession;

enum class TUserType { utNone, utAnonymousUser, utNormalUser };
enum class TDataType { ftASCII, ftBinary };
enum class TDataStruct { dsFile, dsRecord, dsPage };
enum class TDataMode { dmStream, dmDeflate };
enum class TDataProtection { Clear, Private };

// MLST facts a connection has selected.
enum TMlsFact : unsigned { mlsType = 1, mlsModify = 2, mlsSize = 4 };

// Security options of the engine, copied into every connection when it is created.
struct TSecurityOptions {
  unsigned PasswordAttempts = 3;  // 0 would mean unlimited
  unsigned InvalidPassDelay = 3000;
  bool RequirePASVFromSameIP = true;
  bool RequirePORTFromSameIP = true;
  bool NoReservedRangePORT = true;
  bool BlockAllPORTTransfers = false;
  bool DisableSYSTCommand = false;
  bool DisableSTATCommand = false;
  bool PermitCCC = false;
};

// Stored MODE Z settings; they have no effect since MODE Z is refused.
struct TZlibSettings {
  int Level = 7;
  int WindowBits = 15;
  int MemLevel = 8;
  int Strategy = 0;
};

// The protocol state of one FTP control connection. Touched only by its connection's thread.
class TFtpContext {
 public:
  TFtpContext();
  virtual ~TFtpContext();
  TFtpContext(const TFtpContext&) = delete;
  TFtpContext& operator=(const TFtpContext&) = delete;

  // Login and working directory.
  TUserType UserType = TUserType::utNone;
  bool Authenticated = false;
  std::string Username;
  std::string Password;
  std::string CurrentDir = "/";
  std::string HomeDir;
  std::string Host;
  unsigned PasswordAttempts = 0;
  TSecurityOptions Security;

  // Command state.
  std::int32_t ALLOSize = 0;
  std::int64_t RESTPos = 0;  // never negative
  std::string RNFR;
  bool NLSTUtf8 = false;
  unsigned MLSOpts = mlsType | mlsModify | mlsSize;
  bool MsDosListing = false;
  TZlibSettings Zlib;

  // Transfer parameters.
  TDataType DataType = TDataType::ftASCII;
  TDataStruct DataStruct = TDataStruct::dsFile;
  TDataMode DataMode = TDataMode::dmStream;

  // TLS state.
  std::string AuthMechanism;
  TDataProtection DataProtection = TDataProtection::Clear;
  bool PBSZGiven = false;
  unsigned PBSZ = 0;
  bool CCCGiven = false;
  bool SSCNOn = false;

  // Data connection state.
  std::uint16_t DataPort = 0;
  bool FDataPortDenied = false;
  bool PASV = false;
  bool FEPSVAll = false;
  std::unique_ptr<TDataChannel> DataChannel;

  TTextEncoding Encoding = TTextEncoding::Latin1;

  // The connection this context belongs to.
  ControlSession& Session() const { return *session_; }
  Endpoint PeerEndpoint() const;
  Endpoint LocalEndpoint() const;
  // Closes the connection: nothing more is read or written on it.
  void Disconnect();

  // Resets login, paths and transfer state as at connection start (REIN); keeps the
  // password-attempt count and the auth mechanism.
  void Reinitialize();

 private:
  friend class ControlSession;
  ControlSession* session_ = nullptr;
};

}  // namespace corvane
