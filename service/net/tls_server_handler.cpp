#include "service/net/tls_server_handler.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstdint>
#include <stdexcept>

namespace corvane {
namespace {

// The key files carry no pass phrase; answering with an empty one keeps the library from
// prompting on the terminal when a protected key is given by mistake.
int EmptyPassPhrase(char* /*buffer*/, int /*size*/, int /*rwflag*/, void* /*userdata*/) {
  return 0;
}

// message + CR LF + the library's text for the most recent error in its queue.
[[noreturn]] void ThrowWithLibraryError(const char* message) {
  char text[256] = {};
  ERR_error_string_n(ERR_peek_last_error(), text, sizeof text);
  ERR_clear_error();
  throw std::runtime_error(std::string(message) + "\r\n" + text);
}

// The negotiating method in both roles: the server plays the TLS client on the data
// connections of SSCN and CPSV.
const SSL_METHOD* ServerMethod(const std::string& method) {
  if (method == "SSLv23") return TLS_method();
  return nullptr;
}

}  // namespace

void TTlsServerHandler::ContextDeleter::operator()(SSL_CTX* context) const {
  SSL_CTX_free(context);
}

void TTlsServerHandler::Prepare() {
  if (OPENSSL_init_ssl(0, nullptr) != 1) throw std::runtime_error("Could not load SSL library.");

  const SSL_METHOD* method = ServerMethod(options_.method);
  std::unique_ptr<SSL_CTX, ContextDeleter> context(method ? SSL_CTX_new(method) : nullptr);
  if (!context) throw std::runtime_error("Error creating SSL context.");
  SSL_CTX* ctx = context.get();

  SSL_CTX_set_mode(ctx, SSL_MODE_AUTO_RETRY);
  // An idle session holds no record buffers, so idle protected connections stay cheap.
  SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS);
  // SECURITY: renegotiation is refused; a client cannot restart the handshake mid-stream.
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_default_passwd_cb(ctx, EmptyPassPhrase);
  SSL_CTX_set_default_verify_paths(ctx);

  // Each step below reports the error it caused, not one left over from an earlier call.
  ERR_clear_error();
  if (!options_.cert_file.empty() &&
      SSL_CTX_use_certificate_chain_file(ctx, options_.cert_file.c_str()) != 1)
    ThrowWithLibraryError("Could not load certificate.");

  ERR_clear_error();
  if (SSL_CTX_use_PrivateKey_file(ctx, options_.key_file.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(ctx) != 1)
    ThrowWithLibraryError("Could not load key, check password.");

  ERR_clear_error();
  if (SSL_CTX_set_cipher_list(ctx, options_.cipher_list.c_str()) != 1)
    ThrowWithLibraryError("SetCipher failed.");

  // Sessions are resumable only within this server: data connections resume the control
  // connection's session under this context id.
  const std::int32_t session_context = 1;
  SSL_CTX_set_session_id_context(ctx, reinterpret_cast<const unsigned char*>(&session_context),
                                 sizeof session_context);

  context_ = std::move(context);
}

}  // namespace corvane
