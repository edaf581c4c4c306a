// The notes file as the panel takes it: read through, keeping no more than a bound of its bytes, and, with
// a payload list, checked whole on the same pass.
#pragma once

#include <cstddef>
#include <string>

#include "actions/file_system.h"
#include "actions/payload_check.h"

namespace actions {

// The most bytes of the notes file the panel takes. A 32-bit process has 2 GB of address space, and the
// panel holds the file three times over: its bytes, its UTF-16 text (up to twice the bytes, with a CR LF
// per line) and the edit control's own copy of that text, grown in place. Measured under Wine on the i686
// build with lines of about 90 one-byte characters, the launcher held about 5 bytes of memory per byte of
// the file at its peak; 200 MiB (about 1 GB) brought it down inside gdi32, while 64 MiB survived but
// enabled "确认" only after some 105 s, since the control takes about 1 s per MB of text. 24 MiB keeps the
// peak near 150 MB, far from where the address space runs out even when fragmented, and keeps the wait
// under half a minute, while 16 MiB of ordinary lines, a size the launcher is known to show whole, still
// fits with room to spare.
inline constexpr std::size_t kNotesBoundBytes = 24 * 1024 * 1024;

struct NotesReading {
  enum class End {
    NotOpened,    // missing or unreadable: nothing was read
    CutShort,     // a read failed part-way: head holds what came before the failure, up to the bound
    BeyondBound,  // the file is longer than the bound: head holds its first bound bytes
    Whole,        // read to its end, all of it in head
    Refused,  // its size or digest is not the listed one (or an earlier file failed): head is not to be shown
  };
  End end = End::NotOpened;
  std::string head;
};

// Reads the notes file at path once, from its start, never holding more than bound bytes of it. With a
// guard, the whole file goes through the guard's check on the same pass, so that the bytes kept are the
// bytes hashed; a read that fails is not the file's fault and refuses nothing. Without one, the reading
// stops at the first piece that goes past the bound.
NotesReading ReadNotes(FileSystem& files, const std::wstring& path, std::size_t bound, PayloadGuard* guard);

}  // namespace actions
