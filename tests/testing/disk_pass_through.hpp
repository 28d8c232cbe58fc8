// SPDX-License-Identifier: Zlib
#pragma once

// The disk, through a DiskSink, as a base for a test's or fuzz target's own sink that changes or
// records some of its steps and passes the others through.

#include <cstddef>
#include <cstdint>
#include <string>

#include "extract/entry_sink.hpp"
#include "platform/platform.hpp"

class DiskPassThrough : public EntrySink {
 public:
  int make_directory(const std::string& path, unsigned mode) override {
    return m_disk.make_directory(path, mode);
  }
  int set_directory_mode(const std::string& path, unsigned mode) override {
    return m_disk.set_directory_mode(path, mode);
  }
  int make_link(const std::string& path, const std::string& target) override {
    return m_disk.make_link(path, target);
  }
  int open_file(const std::string& path, unsigned mode, bool& created) override {
    return m_disk.open_file(path, mode, created);
  }
  int write(const void* data, std::size_t size) override { return m_disk.write(data, size); }
  int flush() override { return m_disk.flush(); }
  void set_file_time(std::uint32_t dos_date_time) override { m_disk.set_file_time(dos_date_time); }
  int set_file_mode(unsigned mode) override { return m_disk.set_file_mode(mode); }
  int close_file() override { return m_disk.close_file(); }
  int remove_file(const std::string& path) override { return m_disk.remove_file(path); }

 protected:
  DiskSink m_disk;
};
