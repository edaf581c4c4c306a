// The payload check's pieces on Windows: the platform's SHA-256 (CryptoAPI) and the installer opened so
// that nobody writes to it while the launcher holds it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "actions/installer_handover.h"
#include "actions/payload_check.h"

namespace actions {

// SHA-256 of the enhanced RSA and AES provider (Windows XP SP3 and later), in a context without keys.
// advapi32 is not among the imports: it loads from the system folder at the first hash, so the start
// never pays for it. Where the provider or the algorithm is missing, Start gives nothing.
class CryptoApiSha256 final : public Sha256Source {
 public:
  CryptoApiSha256() = default;
  CryptoApiSha256(const CryptoApiSha256&) = delete;
  CryptoApiSha256& operator=(const CryptoApiSha256&) = delete;
  ~CryptoApiSha256() override;

  std::unique_ptr<Sha256Run> Start() override;

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
};

// Opens with read sharing only: writers are refused while the handle is held, readers (the process
// start) are not.
class Win32InstallerOpener final : public InstallerOpener {
 public:
  std::unique_ptr<HeldFile> OpenDenyingWrites(const std::wstring& path) override;
};

}  // namespace actions
