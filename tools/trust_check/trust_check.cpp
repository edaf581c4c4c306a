// Asks Windows' own Authenticode check, WinVerifyTrust, whether signed programs are trusted, after adding
// a root certificate to the machine's root store: how the signing test sees a signed setup.exe the way
// Windows does.
//
//   trust_check.exe ROOT.cer PROGRAM.exe...
//
// ROOT.cer is a DER certificate. Prints one line per program: WinVerifyTrust's result as an HRESULT in
// hexadecimal, a space and the program's path. Exits 0 when every program is trusted, 1 when one is not,
// 2 when the root certificate cannot be added.

#include <windows.h>
// clang-format off: the Windows headers need this order.
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>
// clang-format on

#include <cstdio>

namespace {

bool AddRootCertificate(const wchar_t* path) {
  PCCERT_CONTEXT certificate = nullptr;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path, CERT_QUERY_CONTENT_FLAG_CERT,
                        CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                        reinterpret_cast<const void**>(&certificate))) {
    return false;
  }
  HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  const bool added = root != nullptr && CertAddCertificateContextToStore(
                                            root, certificate, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  if (root != nullptr) {
    CertCloseStore(root, 0);
  }
  CertFreeCertificateContext(certificate);
  return added;
}

LONG VerifyTrust(const wchar_t* program) {
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = program;
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  // INVALID_HANDLE_VALUE: no interactive user to ask.
  const HWND no_user = static_cast<HWND>(INVALID_HANDLE_VALUE);
  const LONG result = WinVerifyTrust(no_user, &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(no_user, &action, &data);
  return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fputs("usage: trust_check.exe ROOT.cer PROGRAM.exe...\n", stderr);
    return 2;
  }
  if (!AddRootCertificate(argv[1])) {
    std::fprintf(stderr, "the root certificate cannot be added (error %lu)\n", GetLastError());
    return 2;
  }
  int exit_code = 0;
  for (int argument = 2; argument < argc; ++argument) {
    const LONG result = VerifyTrust(argv[argument]);
    std::printf("%08lX %ls\n", static_cast<unsigned long>(result), argv[argument]);
    if (result != ERROR_SUCCESS) {
      exit_code = 1;
    }
  }
  return exit_code;
}
