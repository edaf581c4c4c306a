#include "actions/payload_check_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "actions/installer_handover_win32.h"
#include "temp_folder.h"
#include "win32/unique_handle.h"

namespace {

using windows_test::TempFolder;
using windows_test::WriteFileBytes;

std::string Hex(std::span<const std::uint8_t> digest) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (const std::uint8_t byte : digest) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 15];
  }
  return hex;
}

// Wine's CryptoAPI as the prefix has it: the AES provider, so SHA-256.
std::optional<std::string> Sha256Of(actions::DigestSource& hashes, const std::string& bytes,
                                    std::size_t piece) {
  const auto run = hashes.Start();
  if (!run || run->Kind() != actions::DigestKind::Sha256) return std::nullopt;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    if (!run->Add(std::string_view(bytes).substr(at, piece))) return std::nullopt;
  }
  actions::Sha256Digest digest{};
  if (!run->Finish(digest)) return std::nullopt;
  return Hex(digest);
}

// The FIPS 180-2 examples, and a million "a" fed in uneven pieces.
TEST(CryptoApiDigests, GivesTheStandardsSha256Digests) {
  actions::CryptoApiDigests hashes;
  EXPECT_EQ(Sha256Of(hashes, "", 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Of(hashes, "abc", 1), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Of(hashes, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 7),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Sha256Of(hashes, std::string(1000000, 'a'), 65521),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Win32CheckedStarter, HoldsTheFileAgainstWritersButNotReadersAndReadsItWhole) {
  const TempFolder folder;
  const std::string contents(200 * 1024 + 3, 'i');
  ASSERT_TRUE(WriteFileBytes(folder / L"tarvinxp.exe", contents));
  actions::Win32CheckedStarter opener(folder / L"tarvinxp.exe");
  const auto held = opener.OpenDenyingWrites(folder / L"tarvinxp.exe");
  ASSERT_TRUE(held);

  const win32::UniqueFileHandle writer(::CreateFileW((folder / L"tarvinxp.exe").c_str(), GENERIC_WRITE,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_FALSE(writer);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(::DeleteFileW((folder / L"tarvinxp.exe").c_str()));
  const win32::UniqueFileHandle reader(::CreateFileW((folder / L"tarvinxp.exe").c_str(), GENERIC_READ,
                                                     FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(reader) << "a process start reads the program it starts";

  std::string read;
  std::string buffer(64 * 1024, '\0');
  for (;;) {
    const auto got = held->Read(buffer);
    ASSERT_TRUE(got);
    if (*got == 0) break;
    read.append(buffer, 0, *got);
  }
  EXPECT_TRUE(read == contents);
  EXPECT_FALSE(opener.OpenDenyingWrites(folder / L"missing.exe"));
}

}  // namespace
