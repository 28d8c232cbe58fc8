// SPDX-License-Identifier: Zlib
#pragma once

// An entry's data: read straight from the open archive file in large pieces (minizip reads only
// the archive's structure and the entry's local header), inflated with ISA-L, and written to an
// entry sink, with its CRC-32 computed on the way.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "extract/entry_sink.hpp"
#include "package/zip_end_record.hpp"

// Where an entry's data lies in the archive file and what it must come to.
struct EntryDataSpan {
  // The offset of the stored (raw) data and its length.
  std::uint64_t offset = 0;
  std::uint64_t stored_size = 0;
  // The size the data must come to: no more is written.
  std::uint64_t size = 0;
  bool deflated = false;
};

// When an entry is to stop before its end although nothing went wrong with it: on two threads,
// once an entry before it in archive order failed, the rest of it is of no use. The entry's
// `index` in archive order is compared with `first_failure`, which the other thread may lower at
// any moment; without `first_failure` (one thread) an entry never stops this way.
struct EntryStop {
  const std::atomic<std::uint64_t>* first_failure = nullptr;
  std::uint64_t index = 0;

  bool can_stop() const { return first_failure != nullptr; }
  bool requested() const { return first_failure != nullptr && first_failure->load() < index; }
};

// An entry size no entry reaches: every entry is written on the thread that inflates it.
inline constexpr std::uint64_t k_no_write_ring = UINT64_MAX;

// Room for any central extra field: ZIP gives its length in 16 bits.
inline constexpr std::size_t k_extra_field_room = 65535;

// The memory that entries' data streams through: an input buffer, an output buffer and the
// inflate state, allocated once for a whole extraction, and room for the entries' extra fields.
// Pages never written cost nothing. Entries of `ring_entry_size` bytes or more
// are written by a thread of their own through a ring of buffers (extract/write_ring.hpp),
// allocated for the entry, while this thread inflates; where that thread cannot start they are
// written here as the others.
class EntryBuffers {
 public:
  // Each inflate call first inflates into the inflater's own buffer and copies its last 32 KiB
  // back there at the end, whether it was given much or little: 64 KiB of input per call halves
  // those copies on a large entry against 32 KiB (the big payload: 5 to 8 % less CPU time).
  static constexpr std::size_t k_input_size = 64 * 1024;
  // The same holds for the output: 32 KiB pieces would spare 64 KiB of the peak memory of a
  // parallel extraction, but made incompressible data (stored deflate blocks) 13 % dearer in CPU.
  static constexpr std::size_t k_output_size = 64 * 1024;

  explicit EntryBuffers(std::uint64_t ring_entry_size = k_no_write_ring);
  ~EntryBuffers();
  EntryBuffers(const EntryBuffers&) = delete;
  EntryBuffers& operator=(const EntryBuffers&) = delete;

  // False when the memory could not be allocated.
  bool allocated() const;
  std::uint64_t ring_entry_size() const { return m_ring_entry_size; }

  struct Memory;
  Memory& memory() { return *m_memory; }
  // k_extra_field_room bytes for read_entry_header (extract/entry_extraction.hpp).
  char* extra_room();

 private:
  std::unique_ptr<Memory> m_memory;
  std::uint64_t m_ring_entry_size;
};

// How copying an entry's data ended.
enum class EntryCopyOutcome {
  // The data ended, at its size or, short of it, where the stored data or the deflate stream
  // ended: the caller compares `written` with the size.
  Ended,
  // The archive file could not be read where the data lies.
  ReadFailed,
  // The deflate data is damaged.
  DamagedData,
  // Writing to the sink failed; `write_error` tells why.
  WriteFailed,
  // A request to end the process came.
  Interrupted,
  // The entry was to stop (EntryStop).
  Stopped,
};

struct EntryCopy {
  EntryCopyOutcome outcome = EntryCopyOutcome::Ended;
  std::uint64_t written = 0;
  // The CRC-32 of what was written.
  std::uint32_t crc = 0;
  // What the sink's failed write returned.
  int write_error = 0;
};

// Copies the data that `span` describes, read through `read`, into the file open in `out`,
// inflating deflated data, and stops at `span.size` bytes. Deflated data must end there: at the
// end of its final block with every stored byte taken in; stored data must be as long as its size
// (else DamagedData). Between two pieces it looks for a request to end the process and for `stop`.
// On two threads (EntryBuffers) the CRC is still computed here; a failed write of the other thread
// counts before anything this one found after the pieces it had handed over, and those pieces are
// written before it returns, so a failure ends and leaves the file as it would on one thread.
EntryCopy copy_entry_data(const ArchiveReader& read, const EntryDataSpan& span,
                          EntryBuffers& buffers, EntrySink& out, const EntryStop& stop = {});
