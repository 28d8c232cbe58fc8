// SPDX-License-Identifier: Zlib
#include "extract/parallel_extraction.hpp"

#include <atomic>
#include <vector>

#include "console/messages.hpp"
#include "extract/entry_data.hpp"
#include "extract/entry_extraction.hpp"
#include "platform/platform.hpp"

namespace {

constexpr std::uint64_t k_no_failure = UINT64_MAX;

// What the two threads of a parallel extraction share.
struct ParallelExtraction {
  const ArchiveRegion* region = nullptr;
  const std::vector<unz64_file_pos>* shares = nullptr;
  std::uint64_t count = 0;
  TargetPlatform target = TargetPlatform::Linux;
  unsigned creation_mask = 0;
  std::atomic<std::size_t> next_share{0};
  std::atomic<std::uint64_t> extracted{0};
  std::atomic<std::uint64_t> first_failure{k_no_failure};
  std::atomic<bool> interrupted{false};
};

// The entry at which one thread stopped, and what it printed about it.
struct ThreadFailure {
  std::uint64_t index = k_no_failure;
  std::vector<HeldMessages::Line> messages;
};

// Extracts the entries of shares claimed from `shared` through `archive`, which reads `stream`,
// into `sink` until none is left, one fails (noted in `failure`), or the process is asked to end.
void extract_claimed_entries(ParallelExtraction& shared, ArchiveStream& stream, unzFile archive,
                             EntrySink& sink, ThreadFailure& failure) {
  EntryBuffers buffers;
  if (!buffers.allocated()) {
    return;
  }
  ArchiveAccess access{archive, stream.reader(), shared.target};
  const std::vector<unz64_file_pos>& shares = *shared.shares;
  int signal_number = 0;
  for (;;) {
    std::size_t share = shared.next_share.fetch_add(1);
    if (share >= shares.size()) {
      return;
    }
    unz64_file_pos start = shares[share];
    std::uint64_t end = share + 1 < shares.size() ? shares[share + 1].num_of_file : shared.count;
    for (std::uint64_t index = start.num_of_file; index < end; ++index) {
      if (index > shared.first_failure.load() || shared.interrupted) {
        return;
      }
      HeldMessages held;
      int result = index == start.num_of_file ? unzGoToFilePos64(archive, &start)
                                              : unzGoToNextFile(archive);
      if (result != UNZ_OK) {
        print_plain("error %d with zipfile in unzGoToNextFile\n", result);
      } else if (platform::termination_requested(signal_number)) {
        result = k_entry_interrupted;
      } else {
        // Once an entry before this one failed, the rest of this one is of no use.
        EntryStop stop{&shared.first_failure, index};
        result = extract_current_entry(access, shared.creation_mask, buffers, sink, stop);
      }
      if (result == k_entry_interrupted) {
        shared.interrupted = true;
        return;
      }
      if (result == k_entry_stopped) {
        return;
      }
      if (result != 0) {
        failure.index = index;
        failure.messages = held.take();
        std::uint64_t first = shared.first_failure.load();
        while (index < first && !shared.first_failure.compare_exchange_weak(first, index)) {
        }
        return;
      }
      ++shared.extracted;
    }
  }
}

// The second thread, with a minizip handle of its own over the same region.
struct SecondThread {
  ParallelExtraction* shared;
  EntrySink* sink;
  ThreadFailure failure;
};

void extract_on_second_thread(void* opaque) {
  SecondThread& thread = *static_cast<SecondThread*>(opaque);
  ArchiveStream stream(*thread.shared->region);
  UnzipHandle archive;
  if (open_archive(stream, archive) && archive.get() != nullptr) {
    extract_claimed_entries(*thread.shared, stream, archive.get(), *thread.sink, thread.failure);
  }
}

}  // namespace

int extract_in_parallel(ArchiveStream& stream, unzFile archive,
                        const std::vector<unz64_file_pos>& shares, std::uint64_t count,
                        TargetPlatform target, unsigned creation_mask, EntrySink& own_sink,
                        EntrySink& second_sink) {
  ParallelExtraction shared;
  shared.region = &stream.region();
  shared.shares = &shares;
  shared.count = count;
  shared.target = target;
  shared.creation_mask = creation_mask;
  SecondThread other{&shared, &second_sink, {}};
  std::uintptr_t second = 0;
  bool started = platform::start_thread(extract_on_second_thread, &other, second) == 0;
  ThreadFailure own;
  extract_claimed_entries(shared, stream, archive, own_sink, own);
  if (started) {
    platform::join_thread(second);
  }
  if (shared.interrupted) {
    return k_extract_interrupted;
  }
  if (own.index != k_no_failure || other.failure.index != k_no_failure) {
    HeldMessages::write(own.index < other.failure.index ? own.messages : other.failure.messages);
    return k_extract_incomplete;
  }
  if (shared.extracted != count) {
    // Neither thread found the memory to start with.
    print_plain("Error allocating memory\n");
    return k_extract_incomplete;
  }
  return k_extract_ok;
}
