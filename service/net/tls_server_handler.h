#pragma once

#include <openssl/types.h>

#include <memory>
#include <string>

namespace corvane {

// How the server TLS context is built. The defaults are the ones every listener of this server
// uses; only the certificate and key files change per configuration.
struct TlsServerOptions {
  std::string method = "SSLv23";      // "SSLv23": negotiate every version the library offers
  std::string cipher_list = "SSLv3";  // handed to the library as its cipher-list string
  std::string cert_file;              // PEM; not loaded when empty
  std::string key_file;               // PEM, without a pass phrase
};

// Owns the SSL_CTX that every connection of the FTP listener shares, control and data alike,
// so data connections can resume the control connection's session. It serves both roles. Prepare()
// builds it once at activation; afterwards it is only read, from any thread.
class TTlsServerHandler {
 public:
  TTlsServerHandler() = default;
  TTlsServerHandler(const TTlsServerHandler&) = delete;
  TTlsServerHandler& operator=(const TTlsServerHandler&) = delete;

  TlsServerOptions& Options() { return options_; }
  const TlsServerOptions& Options() const { return options_; }

  // Builds a new context from the options and replaces the current one. On failure the current
  // context is left as it was and std::runtime_error carries one of "Could not load SSL
  // library.", "Error creating SSL context.", "Could not load certificate.", "Could not load
  // key, check password." or "SetCipher failed."; the last three are followed by CR LF and the
  // library's text for its most recent error.
  void Prepare();

  // The prepared context, or null before Prepare() and after Release().
  SSL_CTX* Context() const { return context_.get(); }
  void Release() { context_.reset(); }

 private:
  struct ContextDeleter {
    void operator()(SSL_CTX* context) const;
  };

  TlsServerOptions options_;
  std::unique_ptr<SSL_CTX, ContextDeleter> context_;
};

}  // namespace corvane
