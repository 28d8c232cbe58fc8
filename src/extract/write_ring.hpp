// SPDX-License-Identifier: Zlib
#pragma once

// A large entry's data on two threads: the extraction's thread inflates into a small ring of
// buffers, and a writer thread writes them to the entry sink in order, so that inflating and
// writing overlap. The writer stops at the first failed write (its error is kept) and at a request
// to end the process; the extraction's thread learns of either at its next piece.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "extract/entry_sink.hpp"

// From this entry size on, extract_archive writes an entry's data on a thread of its own when it
// extracts on one thread; its engine takes another size where one is given. Measured with one
// deflated entry on tmpfs: 8 MiB and 2 MiB came out faster, 512 KiB no faster, on two threads.
inline constexpr std::uint64_t k_ring_entry_size = 2 * 1024 * 1024;

class WriteRing {
 public:
  // Each buffer is filled before it is handed over, so that a hand-over (a write, and a wake-up
  // when the other side waits) comes every 64 KiB. Three of them keep the big payload's peak
  // memory at 2.1-2.3 MiB beside the archive copy; 96 KiB buffers took it to 2.2-2.4 MiB (now and
  // then 2.5) and 128 KiB ones to 2.4-2.6 MiB, neither faster; a fourth buffer added 0.2 MiB and
  // no speed, two buffers were slower.
  static constexpr std::size_t k_slots = 3;
  static constexpr std::size_t k_slot_size = 64 * 1024;

  // A ring that was started must be finished before it goes.
  WriteRing() = default;
  WriteRing(const WriteRing&) = delete;
  WriteRing& operator=(const WriteRing&) = delete;

  // Starts the writer thread over `sink`, whose output file is open; until finish the sink is the
  // writer's. False when the ring's memory or the thread cannot be had: nothing runs then.
  [[nodiscard]] bool start(EntrySink& sink);

  // A free buffer of k_slot_size bytes, once the writer has written one; nullptr when the writer
  // has ended (a failed write, a request to end the process).
  unsigned char* room();
  // Hands the first `size` bytes of the buffer that room returned to the writer.
  void put(std::size_t size);

  enum class Ending { WriteAll, Drop };
  // Lets the writer write what it was given (WriteAll) or stop at its next piece (Drop), and
  // waits for its thread to end. Returns the error of its failed write (as EntrySink::write
  // returns it), or 0.
  [[nodiscard]] int finish(Ending ending);

 private:
  static void write_on_thread(void* ring);
  void write_pieces();

  EntrySink* m_sink = nullptr;
  std::unique_ptr<unsigned char[]> m_memory;
  std::uintptr_t m_thread = 0;
  // Semaphores: the buffers free to fill, and the pieces given to the writer (one more when it
  // is to finish).
  std::uintptr_t m_free = 0;
  std::uintptr_t m_given = 0;
  // This thread's: the buffer it fills next, and whether room has handed it out already.
  std::size_t m_next = 0;
  bool m_holding = false;
  // The pieces handed over, and their sizes: each set before the semaphore tells of it.
  std::atomic<std::uint64_t> m_pieces{0};
  std::size_t m_sizes[k_slots] = {};
  // 0 until finish, then the Ending plus one.
  std::atomic<int> m_finish{0};
  std::atomic<bool> m_ended{false};
  // The writer's, read once it has ended.
  int m_error = 0;
};
