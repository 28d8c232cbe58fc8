// SPDX-License-Identifier: Zlib
// Fuzzes the extraction: any bytes as archive.zip, extracted entry by entry into a private
// folder. The process enters that folder once, at start; each input is opened as the stub opens
// its archive (through the stub's archive stream) and handed to `extract_all_entries`, which writes
// to the disk. After each input nothing may exist outside the
// extraction folder (an entry that climbed out would show up beside it) and the process must
// still be in it; then the folder is emptied for the next input.
// Since the process changes directory at start, give it its corpus folders and -artifact_prefix
// as absolute paths (scripts/fuzz does).

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "extract/archive_extraction.hpp"
#include "extract/archive_stream.hpp"
#include "extract/entry_extraction.hpp"
#include "extract/entry_sink.hpp"
#include "platform/platform.hpp"
#include "private_folder.hpp"

namespace {

namespace fs = std::filesystem;

fuzzing::ExtractionFolders& folders() {
  static fuzzing::ExtractionFolders* instance = [] {
    auto* made = new fuzzing::ExtractionFolders({"out"});
    // The one change of directory: extraction writes relative to the current directory.
    fs::current_path(made->folder("out"));
    return made;
  }();
  return *instance;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  (void)folders();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::ExtractionFolders& f = folders();
  f.write_archive(data, size);
  {
    platform::FileHandle file;
    f.open_archive(file);
    ArchiveRegion region;
    region.read_file = file_reader(file);
    region.length = size;
    ArchiveStream stream(std::move(region));
    UnzipHandle archive;
    if (open_archive(stream, archive) && archive.get() != nullptr) {
      DiskSink sink;
      int status = extract_all_entries(
          ArchiveAccess{archive.get(), stream.reader(), this_platform()}, 022, sink);
      if (status != k_extract_ok && status != k_extract_incomplete) {
        fuzzing::fail("unknown extraction status");
      }
    }
  }
  std::error_code error;
  if (fs::current_path(error) != f.folder("out")) {
    fuzzing::fail("the extraction changed the current directory");
  }
  f.check_nothing_outside();
  fuzzing::empty_folder(f.folder("out"));
  return 0;
}
