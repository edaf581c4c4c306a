// The payload check's piece on Windows: the platform's SHA-256 or SHA-1 (CryptoAPI). The installer is
// opened for its check by the checked start (installer_handover_win32.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "actions/payload_check.h"

namespace actions {

// SHA-256 of the enhanced RSA and AES provider (Windows XP SP3 and later), else SHA-1 of the full RSA
// provider (every Windows from NT 4 on), in a context without keys; the first hash decides which, once.
// advapi32 is not among the imports: it loads from the system folder at the first hash, so the start
// never pays for it. Where neither is there, Start gives nothing.
class CryptoApiDigests final : public DigestSource {
 public:
  CryptoApiDigests() = default;
  CryptoApiDigests(const CryptoApiDigests&) = delete;
  CryptoApiDigests& operator=(const CryptoApiDigests&) = delete;
  ~CryptoApiDigests() override;

  std::unique_ptr<DigestRun> Start() override;

  // advapi32's functions, looked up once (in the types of wincrypt.h, which this header leaves out).
  struct Functions {
    void* acquireContext = nullptr;
    void* releaseContext = nullptr;
    void* createHash = nullptr;
    void* hashData = nullptr;
    void* getHashParam = nullptr;
    void* destroyHash = nullptr;
  };

 private:
  bool looked_ = false;
  Functions crypt_;
  std::uintptr_t provider_ = 0;  // HCRYPTPROV, acquired once at the first hash
  unsigned algorithm_ = 0;       // ALG_ID of the provider's digest
  DigestKind kind_ = DigestKind::Sha256;
};

}  // namespace actions
