// SPDX-License-Identifier: Zlib
#include "extract/write_ring.hpp"

#include <new>

#include "platform/platform.hpp"

bool WriteRing::start(EntrySink& sink) {
  m_memory.reset(new (std::nothrow) unsigned char[k_slots * k_slot_size]);
  if (m_memory == nullptr) {
    return false;
  }
  m_sink = &sink;
  bool made_free = platform::create_semaphore(k_slots, m_free) == 0;
  bool made_given = made_free && platform::create_semaphore(0, m_given) == 0;
  bool running = made_given && platform::start_thread(write_on_thread, this, m_thread) == 0;
  if (!running) {
    if (made_given) {
      platform::close_semaphore(m_given);
    }
    if (made_free) {
      platform::close_semaphore(m_free);
    }
    m_memory.reset();
  }
  return running;
}

unsigned char* WriteRing::room() {
  if (!m_holding) {
    if (m_ended) {
      return nullptr;
    }
    platform::wait_semaphore(m_free);
    m_holding = true;
  }
  // The writer posts once more when it ends.
  if (m_ended) {
    return nullptr;
  }
  return m_memory.get() + m_next * k_slot_size;
}

void WriteRing::put(std::size_t size) {
  m_sizes[m_next] = size;
  m_next = (m_next + 1) % k_slots;
  m_holding = false;
  ++m_pieces;
  platform::post_semaphore(m_given);
}

int WriteRing::finish(Ending ending) {
  m_finish = static_cast<int>(ending) + 1;
  platform::post_semaphore(m_given);
  platform::join_thread(m_thread);
  platform::close_semaphore(m_given);
  platform::close_semaphore(m_free);
  m_memory.reset();
  return m_error;
}

void WriteRing::write_on_thread(void* ring) { static_cast<WriteRing*>(ring)->write_pieces(); }

void WriteRing::write_pieces() {
  int signal_number = 0;
  std::size_t at = 0;
  std::uint64_t written = 0;
  for (;;) {
    platform::wait_semaphore(m_given);
    // A post with every piece written is finish's.
    if (m_finish == static_cast<int>(Ending::Drop) + 1 || written == m_pieces ||
        platform::termination_requested(signal_number)) {
      break;
    }
    int error = m_sink->write(m_memory.get() + at * k_slot_size, m_sizes[at]);
    if (error != 0) {
      m_error = error;
      break;
    }
    at = (at + 1) % k_slots;
    ++written;
    platform::post_semaphore(m_free);
  }
  m_ended = true;
  platform::post_semaphore(m_free);
}
