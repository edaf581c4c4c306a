// The payload check: when the program carries a payload list, each file of the medium is checked against
// it where it is used, just before its bytes are shown, copied or started, never up front. The first
// file that fails (a size or digest that differs, a file the list does not name, a damaged list, a
// platform that cannot hash) makes the medium untrusted for the rest of the run: the user is told once,
// and nothing more from the medium is used. A program without a list uses the medium as it always did.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "actions/payload_list.h"

namespace actions {

// Why the medium is refused, which the message box says.
enum class RefusalReason {
  FileDiffers,  // a file's size or digest is not the listed one, or the list does not name the file
  ListDamaged,  // the program's own list cannot be read or breaks its rules: nothing can be checked
  CannotHash,   // the platform could hash with neither digest the list carries: nothing can be checked
};

struct Refusal {
  RefusalReason reason = RefusalReason::FileDiffers;
  std::wstring file;  // the file of the medium that was about to be used, relative to the base directory
  friend bool operator==(const Refusal&, const Refusal&) = default;
};

// The refusal's text, one home for the program and its tests. A changed file is named, relative to the
// base directory, between the first two parts; a damaged list names the program that carries it (its
// file name, as the medium holds it), since the medium's files may well be intact; a platform that cannot
// hash names nothing, since nothing on the medium is known to be wrong.
inline constexpr std::wstring_view kRefusalBeforePath = L"安装盘上的文件 ";
inline constexpr std::wstring_view kRefusalAfterPath =
    L" 与发行者签名时的文件不一致，安装盘可能已损坏或被改动。\n\n"
    L"安装程序不会再从此安装盘复制或启动任何文件。";
inline constexpr std::wstring_view kDamagedListBeforeProgram = L"安装程序 ";
inline constexpr std::wstring_view kDamagedListAfterProgram =
    L" 所带的文件清单无法读取或已损坏，无法核对安装盘上的文件，安装程序可能已损坏或被改动。\n\n"
    L"安装程序不会从此安装盘复制或启动任何文件。";
// Where the platform has no hash the list can vouch with: what is true is that this Windows cannot
// check the medium, not that the medium is damaged.
inline constexpr std::wstring_view kCannotCheckMessage =
    L"此 Windows 无法校验安装盘上的文件：系统未能提供所需的 SHA-256 或 SHA-1 校验。"
    L"安装盘本身未必有问题。\n\n"
    L"未经校验，安装程序不会从此安装盘复制或启动任何文件。";
std::wstring RefusalMessage(const Refusal& refusal, std::wstring_view programName);

enum class DigestKind { Sha256, Sha1 };

// One digest over bytes handed to it in pieces, by the platform.
class DigestRun {
 public:
  virtual ~DigestRun() = default;
  virtual DigestKind Kind() const = 0;
  virtual bool Add(std::string_view bytes) = 0;
  // The digest of everything added, into a span of its kind's length; false when the platform failed.
  virtual bool Finish(std::span<std::uint8_t> digest) = 0;
};

// The best digest the platform offers: SHA-256, else SHA-1.
class DigestSource {
 public:
  virtual ~DigestSource() = default;
  // Null where the platform can hash with neither.
  virtual std::unique_ptr<DigestRun> Start() = 0;
};

// A file the check reads through a handle that whoever opened it holds.
class HeldFile {
 public:
  virtual ~HeldFile() = default;
  // The next bytes into the buffer: how many (0 at the end), or empty when the read failed.
  virtual std::optional<std::size_t> Read(std::span<char> buffer) = 0;
};

// What the program carries: no list, a list's text, or a list that is there but cannot be read.
struct CarriedList {
  enum class State { None, Text, Unreadable };
  State state = State::None;
  std::string text;
};
// Looks the list up in the program. It may throw: that counts as a list that cannot be read.
using PayloadListLoader = std::function<CarriedList()>;
// Tells the user that the medium is refused, and why, and disables "确认". Called once, at the first
// failure.
using RefusalNotice = std::function<void(const Refusal& refusal)>;

enum class Verdict {
  Unchecked,  // the program carries no list: the file is used as it always was
  Genuine,    // size and digest as listed
  Refused,    // this file failed, or an earlier one did: nothing of it may be used
};

class PayloadGuard {
 public:
  PayloadGuard(PayloadListLoader loadList, DigestSource& hashes, RefusalNotice refuse)
      : loadList_(std::move(loadList)), hashes_(hashes), refuse_(std::move(refuse)) {}

  // Whether the program carries a list (damaged, unreadable or sound): the list is looked up at the first
  // question. Any failure on the way to the list counts as a damaged one, which refuses every file; only
  // a program that carries no list at all checks nothing.
  bool Checks();
  // Whether the program carries an intact list that names the file at relativePath.
  bool Names(std::wstring_view relativePath);
  // Whether a file has failed its check in this run.
  bool Untrusted() const { return untrusted_; }

  // The bytes of the file at relativePath, read whole.
  Verdict Check(std::wstring_view relativePath, std::string_view bytes);
  // The file at relativePath, read to its end through the held handle.
  Verdict Check(std::wstring_view relativePath, HeldFile& file);

 private:
  struct Loaded {
    std::optional<PayloadList> list;  // empty when damaged or unreadable
  };
  const Loaded* Load();
  template <typename Hash>
  Verdict CheckWith(std::wstring_view relativePath, Hash hash);
  Verdict Refuse(RefusalReason reason, std::wstring_view relativePath);

  PayloadListLoader loadList_;
  DigestSource& hashes_;
  RefusalNotice refuse_;
  bool looked_ = false;
  std::optional<Loaded> loaded_;  // empty when the program carries no list
  bool untrusted_ = false;
};

}  // namespace actions
