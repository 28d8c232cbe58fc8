// SPDX-License-Identifier: Zlib
#pragma once

// Where the extraction puts what it unpacks, as ninja's DiskInterface does for a build's outputs:
// the disk (DiskSink), or nowhere (NullSink) for a run that only checks every entry. Tests put in
// a sink of their own to make any step fail as a full disk or a directory in the way would. One
// sink serves one thread at a time (a large entry's writes come from a writer thread of its own,
// extract/write_ring.hpp): it holds at most one open output file. Calls come per entry and per
// large piece of data, never per byte.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.hpp"

// What write, flush and close_file return when a write failed and the system gave no reason.
inline constexpr int k_sink_failed_without_reason = -1;
// minizip's internal-error code, also used for a failed allocation.
inline constexpr int k_entry_no_memory = -104;

class EntrySink {
 public:
  virtual ~EntrySink() = default;

  // Creates one directory (its parent must exist) with the permission bits `mode`. Returns 0 or an
  // errno value (EEXIST when the name exists already, ELOOP when a symbolic link is on its way).
  [[nodiscard]] virtual int make_directory(const std::string& path, unsigned mode) = 0;
  // Gives the existing directory `path` the permission bits `mode`. Returns 0 or an errno value
  // (ENOTDIR when it is no directory, ELOOP when it or a folder on its way is a symbolic link).
  [[nodiscard]] virtual int set_directory_mode(const std::string& path, unsigned mode) = 0;
  // Creates the symbolic link `path` holding `target`, in place of a file or link of that name.
  // Returns 0 or an errno value (ELOOP when a symbolic link is on its way).
  [[nodiscard]] virtual int make_link(const std::string& path, const std::string& target) = 0;

  // Opens the output file `path` for an entry's data, emptying a file of that name; a symbolic
  // link of that name is replaced, never followed. `mode` is the permission bits that
  // set_file_mode gives the file after its data (the entry's, less the umask). Returns 0 or an
  // errno value (ELOOP when a symbolic link is on its way). `created` tells whether the file was
  // made rather than found.
  [[nodiscard]] virtual int open_file(const std::string& path, unsigned mode, bool& created) = 0;
  // Writes all `size` bytes of `data` to the open file. Returns 0, an errno value, or
  // k_sink_failed_without_reason.
  [[nodiscard]] virtual int write(const void* data, std::size_t size) = 0;
  // Makes sure what was written reached the file. Returns as write does.
  [[nodiscard]] virtual int flush() = 0;
  // Gives the open file, written and flushed, the modification time `dos_date_time` (DOS date in
  // the high 16 bits, time in the low 16 bits, local time); a failure leaves its time as it is.
  virtual void set_file_time(std::uint32_t dos_date_time) = 0;
  // Gives the open file the permission bits `mode`. Returns 0 or an errno value.
  [[nodiscard]] virtual int set_file_mode(unsigned mode) = 0;
  // Closes the open file; 0 when none is open. Returns as write does: the file is closed anyway.
  [[nodiscard]] virtual int close_file() = 0;
  // Removes the closed file `path`. Returns 0 or an errno value.
  [[nodiscard]] virtual int remove_file(const std::string& path) = 0;

  // Creates the directory `path` with every missing parent, through make_directory with `mode`.
  // A single trailing '/' is ignored. Returns 1 when done, 0 for an empty path or when a
  // component cannot be created because its parent is missing (after printing "couldn't create
  // directory %s\n"), and k_entry_no_memory when the working copy cannot be allocated, after
  // printing "Error allocating memory\n". Other failures (a component that exists already, as a
  // directory or not, a symbolic link on the way) are passed over; the caller finds out when it
  // uses the path.
  [[nodiscard]] int make_directory_path(const std::string& path, unsigned mode);
};

// When a file that an entry creates gets its own permission bits: after its data, created readable
// and writable by its owner alone so that nobody else can open it meanwhile; or at its creation,
// where nobody else can reach it anyway (the run's own work directory, which only its user can
// enter, and from which no default ACL hands other bits down). A file found rather than created
// gets them after its data either way.
enum class NewFileBits { AfterData, AtCreation };

// The disk, through the platform's file functions; paths are relative to the current directory, and
// never lead through a symbolic link on Linux.
class DiskSink final : public EntrySink {
 public:
  explicit DiskSink(NewFileBits bits = NewFileBits::AfterData) : m_bits(bits) {}

  int make_directory(const std::string& path, unsigned mode) override;
  int set_directory_mode(const std::string& path, unsigned mode) override;
  int make_link(const std::string& path, const std::string& target) override;
  int open_file(const std::string& path, unsigned mode, bool& created) override;
  int write(const void* data, std::size_t size) override;
  int flush() override;
  void set_file_time(std::uint32_t dos_date_time) override;
  int set_file_mode(unsigned mode) override;
  int close_file() override;
  int remove_file(const std::string& path) override;

 private:
  NewFileBits m_bits;
  platform::FileHandle m_file;
  platform::OutputFolder m_folder;
  platform::FileTimeMemo m_time;
  // The bits the open file was created with, when it got its own at creation.
  bool m_created_with_bits = false;
  unsigned m_creation_bits = 0;
};

// Nowhere: every step succeeds, nothing is written, and every path is a directory.
class NullSink : public EntrySink {
 public:
  int make_directory(const std::string&, unsigned) override { return 0; }
  int set_directory_mode(const std::string&, unsigned) override { return 0; }
  int make_link(const std::string&, const std::string&) override { return 0; }
  int open_file(const std::string&, unsigned, bool& created) override {
    created = false;
    return 0;
  }
  int write(const void*, std::size_t) override { return 0; }
  int flush() override { return 0; }
  void set_file_time(std::uint32_t) override {}
  int set_file_mode(unsigned) override { return 0; }
  int close_file() override { return 0; }
  int remove_file(const std::string&) override { return 0; }
};
