// The notes file as the panel takes it: read through, keeping no more than a bound of its bytes, and, with
// a payload list, checked whole on the same pass.
#pragma once

#include <cstddef>
#include <string>

#include "actions/file_system.h"
#include "actions/payload_check.h"

namespace actions {

// The most bytes of the notes file the panel takes. A 32-bit process has 2 GB of address space, and the
// panel holds the file up to three times over: its bytes, its UTF-16 text (up to twice the bytes, with a
// CR LF per line) and the edit control's own copy of that text, grown in place. Measured under Wine with
// lines of ordinary text, the launcher's peak memory grew by about 7.5 bytes per byte of the file (64 MiB
// for 4 MiB, 506 MiB for 64 MiB, 1512 MiB for 200 MiB); a 32-bit launcher given 200 MiB died inside
// gdi32, and 64 MiB enabled "确认" only after some 105 s there, as the control takes its text at a steady
// rate. 24 MiB keeps the peak near 200 MB, far from where the address space runs out even when
// fragmented, and the wait near 40 s there, while 16 MiB of ordinary lines, a size the launcher is known
// to show whole, still fits with room to spare.
inline constexpr std::size_t kNotesBoundBytes = 24 * 1024 * 1024;

struct NotesReading {
  enum class End {
    NotOpened,    // missing or unreadable: nothing was read
    CutShort,     // a read failed part-way: head holds what came before the failure, up to the bound
    BeyondBound,  // the file is longer than the bound: head holds its first bound bytes
    Whole,        // read to its end, all of it in head
    Refused,      // size or digest not as listed, or an earlier file failed: nothing to show
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
