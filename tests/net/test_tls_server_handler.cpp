#include "service/net/tls_server_handler.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/unique_fd.h"
#include "tests/support/test_files.h"

namespace corvane {
namespace {

using corvane::testing::TempDir;

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct X509Free {
  void operator()(X509* cert) const { X509_free(cert); }
};
struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
struct CtxFree {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

Pkey NewRsaKey() {
  Pkey key(EVP_RSA_gen(2048));
  if (!key) throw std::runtime_error("key generation failed");
  return key;
}

void WriteKey(const Pkey& key, const std::string& path) {
  std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "w"));
  ASSERT_TRUE(file);
  ASSERT_EQ(PEM_write_PrivateKey(file.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr), 1);
}

void WriteSelfSignedCert(const Pkey& key, const std::string& path) {
  std::unique_ptr<X509, X509Free> cert(X509_new());
  ASSERT_TRUE(cert);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
  X509_set_pubkey(cert.get(), key.get());
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(cert.get(), name);
  ASSERT_GT(X509_sign(cert.get(), key.get(), EVP_sha256()), 0);
  std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "w"));
  ASSERT_TRUE(file);
  ASSERT_EQ(PEM_write_X509(file.get(), cert.get()), 1);
}

// One RSA certificate with its key, and a second key that does not belong to it.
class TlsServerHandlerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    Pkey key = NewRsaKey();
    WriteKey(key, dir_->File("server.key"));
    WriteSelfSignedCert(key, dir_->File("server.cer"));
    WriteKey(NewRsaKey(), dir_->File("other.key"));
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  void Configure(const std::string& cert, const std::string& key) {
    handler_.Options().cert_file = cert.empty() ? "" : dir_->File(cert);
    handler_.Options().key_file = key.empty() ? "" : dir_->File(key);
  }

  // The first line of the error Prepare() throws, and whether a second line followed.
  std::pair<std::string, std::string> PrepareError() {
    try {
      handler_.Prepare();
    } catch (const std::runtime_error& error) {
      const std::string message = error.what();
      const auto end = message.find("\r\n");
      if (end == std::string::npos) return {message, ""};
      return {message.substr(0, end), message.substr(end + 2)};
    }
    return {"", ""};
  }

  static TempDir* dir_;
  TTlsServerHandler handler_;
};

TempDir* TlsServerHandlerTest::dir_ = nullptr;

TEST_F(TlsServerHandlerTest, PrepareBuildsContextAndReleaseFreesIt) {
  EXPECT_EQ(handler_.Context(), nullptr);
  Configure("server.cer", "server.key");
  ASSERT_NO_THROW(handler_.Prepare());
  SSL_CTX* ctx = handler_.Context();
  ASSERT_NE(ctx, nullptr);
  EXPECT_TRUE(SSL_CTX_get_mode(ctx) & SSL_MODE_AUTO_RETRY);
  EXPECT_NE(SSL_CTX_get0_certificate(ctx), nullptr);
  handler_.Release();
  EXPECT_EQ(handler_.Context(), nullptr);
}

TEST_F(TlsServerHandlerTest, FailuresNameTheFailedStepAndTheLibraryError) {
  struct Case {
    const char* cert;
    const char* key;
    const char* cipher;
    const char* first_line;
  };
  const Case cases[] = {
      {"missing.cer", "server.key", "SSLv3", "Could not load certificate."},
      {"server.key", "server.key", "SSLv3", "Could not load certificate."},
      {"server.cer", "missing.key", "SSLv3", "Could not load key, check password."},
      {"server.cer", "other.key", "SSLv3", "Could not load key, check password."},
      {"server.cer", "", "SSLv3", "Could not load key, check password."},
      {"", "server.key", "SSLv3", "Could not load key, check password."},
      {"server.cer", "server.key", "NO-SUCH-CIPHER", "SetCipher failed."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.cert) + " / " + c.key + " / " + c.cipher);
    Configure(c.cert, c.key);
    handler_.Options().cipher_list = c.cipher;
    const auto [first, rest] = PrepareError();
    EXPECT_EQ(first, c.first_line);
    EXPECT_EQ(rest.rfind("error:", 0), 0u) << rest;
    EXPECT_EQ(handler_.Context(), nullptr);
  }
}

TEST_F(TlsServerHandlerTest, UnknownMethodCannotCreateContext) {
  Configure("server.cer", "server.key");
  handler_.Options().method = "NOPE";
  EXPECT_EQ(PrepareError().first, "Error creating SSL context.");
}

TEST_F(TlsServerHandlerTest, FailedPrepareKeepsThePreviousContext) {
  Configure("server.cer", "server.key");
  handler_.Prepare();
  SSL_CTX* before = handler_.Context();
  Configure("server.cer", "other.key");
  EXPECT_EQ(PrepareError().first, "Could not load key, check password.");
  EXPECT_EQ(handler_.Context(), before);
}

// Runs a full handshake against the prepared context over a socket pair; returns the version
// the client negotiated, or "" when the handshake failed.
std::string Handshake(SSL_CTX* server_ctx, int client_max_version) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return "";
  UniqueFd server_fd(fds[0]), client_fd(fds[1]);

  std::unique_ptr<SSL_CTX, CtxFree> client_ctx(SSL_CTX_new(TLS_client_method()));
  SSL_CTX_set_max_proto_version(client_ctx.get(), client_max_version);
  std::unique_ptr<SSL, SslFree> client(SSL_new(client_ctx.get()));
  std::unique_ptr<SSL, SslFree> server(SSL_new(server_ctx));
  SSL_set_fd(client.get(), client_fd.Get());
  SSL_set_fd(server.get(), server_fd.Get());

  int server_result = 0;
  std::thread server_side([&] {
    server_result = SSL_accept(server.get());
    if (server_result != 1) ::shutdown(server_fd.Get(), SHUT_RDWR);
  });
  const int client_result = SSL_connect(client.get());
  if (client_result != 1) ::shutdown(client_fd.Get(), SHUT_RDWR);
  server_side.join();
  if (client_result != 1 || server_result != 1) return "";
  return SSL_get_version(client.get());
}

TEST_F(TlsServerHandlerTest, PreparedContextServesTls13AndTls12) {
  Configure("server.cer", "server.key");
  handler_.Prepare();
  EXPECT_EQ(Handshake(handler_.Context(), TLS1_3_VERSION), "TLSv1.3");
  // With TLS 1.2 only the "SSLv3" cipher list decides which suites are offered.
  EXPECT_EQ(Handshake(handler_.Context(), TLS1_2_VERSION), "TLSv1.2");
}

}  // namespace
}  // namespace corvane
