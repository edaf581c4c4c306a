#include "actions/payload_check_win32.h"

// wincrypt.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include <algorithm>

#include "win32/system_library.h"

namespace actions {

namespace {

using AcquireContextFunction = BOOL(WINAPI*)(HCRYPTPROV*, LPCWSTR, LPCWSTR, DWORD, DWORD);
using ReleaseContextFunction = BOOL(WINAPI*)(HCRYPTPROV, DWORD);
using CreateHashFunction = BOOL(WINAPI*)(HCRYPTPROV, ALG_ID, HCRYPTKEY, DWORD, HCRYPTHASH*);
using HashDataFunction = BOOL(WINAPI*)(HCRYPTHASH, const BYTE*, DWORD, DWORD);
using GetHashParamFunction = BOOL(WINAPI*)(HCRYPTHASH, DWORD, BYTE*, DWORD*, DWORD);
using DestroyHashFunction = BOOL(WINAPI*)(HCRYPTHASH);

// Older headers may not name the algorithm or the provider type.
#ifndef CALG_SHA_256
#define CALG_SHA_256 0x0000800c
#endif
#ifndef PROV_RSA_AES
#define PROV_RSA_AES 24
#endif

class CryptoApiRun final : public DigestRun {
 public:
  CryptoApiRun(const CryptoApiDigests::Functions& crypt, HCRYPTHASH hash, DigestKind kind)
      : crypt_(crypt), hash_(hash), kind_(kind) {}
  CryptoApiRun(const CryptoApiRun&) = delete;
  CryptoApiRun& operator=(const CryptoApiRun&) = delete;
  ~CryptoApiRun() override { reinterpret_cast<DestroyHashFunction>(crypt_.destroyHash)(hash_); }

  bool Add(std::string_view bytes) override {
    const auto hashData = reinterpret_cast<HashDataFunction>(crypt_.hashData);
    while (!bytes.empty()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
      if (!hashData(hash_, reinterpret_cast<const BYTE*>(bytes.data()), chunk, 0)) return false;
      bytes.remove_prefix(chunk);
    }
    return true;
  }

  DigestKind Kind() const override { return kind_; }

  bool Finish(std::span<std::uint8_t> digest) override {
    DWORD length = static_cast<DWORD>(digest.size());
    return reinterpret_cast<GetHashParamFunction>(crypt_.getHashParam)(hash_, HP_HASHVAL, digest.data(),
                                                                       &length, 0) &&
           length == digest.size();
  }

 private:
  const CryptoApiDigests::Functions& crypt_;
  HCRYPTHASH hash_;
  DigestKind kind_;
};

// The providers and digests the list can vouch with, the stronger first.
struct Choice {
  DWORD providerType;
  ALG_ID algorithm;
  DigestKind kind;
};
constexpr Choice kChoices[] = {{PROV_RSA_AES, CALG_SHA_256, DigestKind::Sha256},
                               {PROV_RSA_FULL, CALG_SHA1, DigestKind::Sha1}};

}  // namespace

CryptoApiDigests::~CryptoApiDigests() {
  if (provider_ != 0) reinterpret_cast<ReleaseContextFunction>(crypt_.releaseContext)(provider_, 0);
}

std::unique_ptr<DigestRun> CryptoApiDigests::Start() {
  if (!looked_) {
    looked_ = true;
    // advapi32 stays loaded for the rest of the process once it is in.
    const HMODULE advapi = win32::LoadSystemLibrary(L"advapi32.dll").release();
    const auto function = [advapi](const char* name) { return win32::ProcedureAddress<void*>(advapi, name); };
    const Functions crypt{function("CryptAcquireContextW"), function("CryptReleaseContext"),
                          function("CryptCreateHash"),      function("CryptHashData"),
                          function("CryptGetHashParam"),    function("CryptDestroyHash")};
    if (!crypt.acquireContext || !crypt.releaseContext || !crypt.createHash || !crypt.hashData ||
        !crypt.getHashParam || !crypt.destroyHash)
      return nullptr;
    crypt_ = crypt;
    // A provider counts only when it makes its digest: one that is there without it is passed over.
    for (const Choice& choice : kChoices) {
      HCRYPTPROV provider = 0;
      HCRYPTHASH hash = 0;
      if (!reinterpret_cast<AcquireContextFunction>(crypt.acquireContext)(
              &provider, nullptr, nullptr, choice.providerType, CRYPT_VERIFYCONTEXT))
        continue;
      if (reinterpret_cast<CreateHashFunction>(crypt.createHash)(provider, choice.algorithm, 0, 0, &hash)) {
        provider_ = provider;
        algorithm_ = choice.algorithm;
        kind_ = choice.kind;
        return std::make_unique<CryptoApiRun>(crypt_, hash, kind_);
      }
      reinterpret_cast<ReleaseContextFunction>(crypt.releaseContext)(provider, 0);
    }
  }
  if (provider_ == 0) return nullptr;
  HCRYPTHASH hash = 0;
  if (!reinterpret_cast<CreateHashFunction>(crypt_.createHash)(provider_, algorithm_, 0, 0, &hash))
    return nullptr;
  return std::make_unique<CryptoApiRun>(crypt_, hash, kind_);
}

}  // namespace actions
