// SPDX-License-Identifier: Zlib
#include "extract/entry_data.hpp"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <new>

#include "extract/write_ring.hpp"
#include "platform/platform.hpp"

struct EntryBuffers::Memory {
  unsigned char input[k_input_size];
  unsigned char output[k_output_size];
  inflate_state inflater;
  char extra[k_extra_field_room];
};

EntryBuffers::EntryBuffers(std::uint64_t ring_entry_size)
    : m_memory(new (std::nothrow) Memory), m_ring_entry_size(ring_entry_size) {}

EntryBuffers::~EntryBuffers() = default;

bool EntryBuffers::allocated() const { return m_memory != nullptr; }

char* EntryBuffers::extra_room() { return m_memory->extra; }

namespace {

// Where the copy puts its pieces: into the output buffer, written to the sink on this thread, or
// into the ring's buffers, which the ring's thread writes.
class Outlet {
 public:
  Outlet(EntrySink& sink, unsigned char* buffer, WriteRing* ring)
      : m_sink(sink), m_buffer(buffer), m_ring(ring) {}

  // Room for the next piece, capacity() bytes; nullptr when the ring's thread has ended.
  unsigned char* room() { return m_ring != nullptr ? m_ring->room() : m_buffer; }
  std::size_t capacity() const {
    return m_ring != nullptr ? WriteRing::k_slot_size : EntryBuffers::k_output_size;
  }
  // The first `size` bytes of the room go out. Returns what the sink's write returned; the ring's
  // failures come out when it is finished.
  int put(std::size_t size) {
    if (m_ring != nullptr) {
      m_ring->put(size);
      return 0;
    }
    return m_sink.write(m_buffer, size);
  }

 private:
  EntrySink& m_sink;
  unsigned char* m_buffer;
  WriteRing* m_ring;
};

// Adds the `size` bytes at `piece`, the outlet's room, to `copy` and sends them out. False when
// the write failed.
bool write_out(Outlet& out, const unsigned char* piece, std::size_t size, EntryCopy& copy) {
  if (size == 0) {
    return true;
  }
  // Before the piece goes out: the ring's thread may reuse it as soon as it is written.
  copy.crc = crc32_gzip_refl(copy.crc, piece, size);
  copy.written += size;
  copy.write_error = out.put(size);
  if (copy.write_error != 0) {
    copy.outcome = EntryCopyOutcome::WriteFailed;
    return false;
  }
  return true;
}

// Whether the deflate stream of `span`, inflated up to its size, ends there: at the end of its
// final block, with every stored byte taken in. `read` bytes were read so far, of which
// `available` from `next` on are not yet taken in. A stream that stops short of its final block,
// whose final stored block runs past the data, or that would inflate to more than its size (the
// recorded CRC then matches only its first bytes) is damaged, as `unzip -t` finds it.
bool ends_at_its_size(const ArchiveReader& read_archive, const EntryDataSpan& span,
                      EntryBuffers::Memory& memory, std::uint64_t read, const unsigned char* next,
                      std::size_t available) {
  inflate_state& inflater = memory.inflater;
  // An empty entry may come with no stored bytes at all: nothing to inflate, nothing hidden.
  if (span.size == 0 && span.stored_size == 0) {
    return true;
  }
  while (inflater.block_state != ISAL_BLOCK_FINISH) {
    if (available == 0 && read < span.stored_size) {
      std::size_t wanted = static_cast<std::size_t>(
          std::min<std::uint64_t>(sizeof memory.input, span.stored_size - read));
      if (!read_archive(span.offset + read, memory.input, wanted)) {
        return false;
      }
      read += wanted;
      available = wanted;
      next = memory.input;
    }
    inflater.next_in = const_cast<unsigned char*>(next);
    inflater.avail_in = static_cast<std::uint32_t>(available);
    inflater.next_out = memory.output;
    inflater.avail_out = static_cast<std::uint32_t>(sizeof memory.output);
    if (isal_inflate(&inflater) < 0 || inflater.avail_out != sizeof memory.output) {
      return false;
    }
    std::size_t consumed = available - inflater.avail_in;
    if (consumed == 0 && inflater.block_state != ISAL_BLOCK_FINISH) {
      // No more data, or data that leads nowhere.
      return false;
    }
    next += consumed;
    available -= consumed;
  }
  // What the inflater took into its bit buffer but did not use counts as not taken in.
  return available + static_cast<std::size_t>(inflater.read_in_length / 8) == 0 &&
         read == span.stored_size;
}

// copy_entry_data, its pieces going out through `out`.
EntryCopy copy_pieces(const ArchiveReader& read_archive, const EntryDataSpan& span,
                      EntryBuffers::Memory& memory, Outlet& out, const EntryStop& stop) {
  inflate_state& inflater = memory.inflater;
  if (span.deflated) {
    isal_inflate_init(&inflater);
    inflater.crc_flag = ISAL_DEFLATE;
  }
  EntryCopy copy;
  if (!span.deflated && span.stored_size > span.size) {
    // Stored data longer than its size would pass with the CRC of its first bytes.
    copy.outcome = EntryCopyOutcome::DamagedData;
    return copy;
  }
  std::uint64_t read = 0;
  std::size_t available = 0;
  const unsigned char* next = memory.input;
  int signal_number = 0;
  while (copy.written < span.size) {
    if (platform::termination_requested(signal_number)) {
      copy.outcome = EntryCopyOutcome::Interrupted;
      return copy;
    }
    if (stop.requested()) {
      copy.outcome = EntryCopyOutcome::Stopped;
      return copy;
    }
    unsigned char* piece = out.room();
    if (piece == nullptr) {
      // The ring's thread ended: a failed write, which finishing the ring tells, or a request to
      // end the process.
      copy.outcome = EntryCopyOutcome::Interrupted;
      return copy;
    }
    std::size_t room = static_cast<std::size_t>(
        std::min<std::uint64_t>(out.capacity(), span.size - copy.written));
    if (!span.deflated) {
      // Stored data is read straight into the piece and goes out as it is.
      std::size_t count =
          static_cast<std::size_t>(std::min<std::uint64_t>(room, span.stored_size - read));
      if (count == 0) {
        return copy;
      }
      if (!read_archive(span.offset + read, piece, count)) {
        copy.outcome = EntryCopyOutcome::ReadFailed;
        return copy;
      }
      read += count;
      if (!write_out(out, piece, count, copy)) {
        return copy;
      }
      continue;
    }
    // The piece is filled before it goes out, over as many reads and inflate calls as that
    // takes: each piece costs a write, and on two threads a hand-over. What was inflated before
    // the data ends or fails goes out first, as it would piece by piece.
    std::size_t filled = 0;
    bool ended = false;
    EntryCopyOutcome failure = EntryCopyOutcome::Ended;
    while (filled < room) {
      if (available == 0 && read < span.stored_size) {
        std::size_t wanted = static_cast<std::size_t>(
            std::min<std::uint64_t>(sizeof memory.input, span.stored_size - read));
        if (!read_archive(span.offset + read, memory.input, wanted)) {
          // A read fails with EINTR only once a request to end the process came.
          failure = platform::termination_requested(signal_number)
                        ? EntryCopyOutcome::Interrupted
                        : EntryCopyOutcome::ReadFailed;
          break;
        }
        read += wanted;
        available = wanted;
        next = memory.input;
      }
      if (inflater.block_state == ISAL_BLOCK_FINISH) {
        ended = true;
        break;
      }
      inflater.next_in = const_cast<unsigned char*>(next);
      inflater.avail_in = static_cast<std::uint32_t>(available);
      inflater.next_out = piece + filled;
      inflater.avail_out = static_cast<std::uint32_t>(room - filled);
      if (isal_inflate(&inflater) < 0) {
        failure = EntryCopyOutcome::DamagedData;
        break;
      }
      std::size_t consumed = available - inflater.avail_in;
      std::size_t produced = room - filled - inflater.avail_out;
      next += consumed;
      available -= consumed;
      filled += produced;
      // All the stored data taken in and nothing more to come out: the data ended short.
      if (produced == 0 && available == 0 && read == span.stored_size) {
        ended = true;
        break;
      }
      if (produced == 0 && consumed == 0 && available > 0) {
        failure = EntryCopyOutcome::DamagedData;
        break;
      }
    }
    if (!write_out(out, piece, filled, copy)) {
      return copy;
    }
    if (failure != EntryCopyOutcome::Ended) {
      copy.outcome = failure;
      return copy;
    }
    if (ended) {
      return copy;
    }
  }
  if (span.deflated && !ends_at_its_size(read_archive, span, memory, read, next, available)) {
    copy.outcome = EntryCopyOutcome::DamagedData;
  }
  return copy;
}

}  // namespace

EntryCopy copy_entry_data(const ArchiveReader& read_archive, const EntryDataSpan& span,
                          EntryBuffers& buffers, EntrySink& out, const EntryStop& stop) {
  EntryBuffers::Memory& memory = buffers.memory();
  WriteRing ring;
  bool two_threads = span.size >= buffers.ring_entry_size() && ring.start(out);
  Outlet outlet(out, memory.output, two_threads ? &ring : nullptr);
  EntryCopy copy = copy_pieces(read_archive, span, memory, outlet, stop);
  if (two_threads) {
    // What went out was due before whatever this thread found after it: it is written (and may
    // fail) first, as on one thread. Only an entry that stops for good drops the rest.
    bool stopping = copy.outcome == EntryCopyOutcome::Interrupted ||
                    copy.outcome == EntryCopyOutcome::Stopped;
    int error = ring.finish(stopping ? WriteRing::Ending::Drop : WriteRing::Ending::WriteAll);
    if (error != 0) {
      copy.outcome = EntryCopyOutcome::WriteFailed;
      copy.write_error = error;
    }
  }
  return copy;
}
