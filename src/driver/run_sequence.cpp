// SPDX-License-Identifier: Zlib
#include "driver/run_sequence.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "command/command_launch.hpp"
#include "common/exit_status.hpp"
#include "console/messages.hpp"
#include "driver/help_version.hpp"
#include "driver/option_parser.hpp"
#include "driver/process_context.hpp"
#include "driver/sfx_options.hpp"
#include "extract/archive_extraction.hpp"
#include "extract/archive_stream.hpp"
#include "package/entry_rules.hpp"
#include "payload/payload_reader.hpp"
#include "platform/platform.hpp"
#include "workdir/path.hpp"
#include "workdir/work_directory.hpp"

namespace {

// Everything the run holds, from the first step to the ending.
struct Run {
  // The platform this stub runs on, whose rules the run's layers follow.
  TargetPlatform platform = TargetPlatform::Linux;
  SfxOptions options;
  std::string pass_through_args;
  ConsoleState console_state = ConsoleState::NoConsole;
  // The console as the start found it; a late answer of the terminal's is dropped from it before
  // a command or the key prompt reads the terminal.
  platform::ConsoleCursor cursor;
  std::string temp_files_dir;
  std::string work_dir;
  // Held on a temporary work directory until the ending has removed it.
  WorkDirectoryLock work_dir_lock;
  std::string extraction_dir;
  // Held on the extraction directory in a given directory until the ending.
  WorkDirectoryLock extraction_dir_lock;
  PayloadResult payload;
  // The extra-tool commands as the expansion left them: ready to show and to run.
  std::vector<ExtraToolCommand> extra_tools;
};

// The status of a run that a request to end the process stopped outside its command: 128 + the
// signal's number, as a shell reports a program a signal ended; for Windows, where no such
// convention exists, the stub's own failure status.
int terminated_status(TargetPlatform target, int signal_number) {
  if (target == TargetPlatform::Windows) {
    return k_exit_stub_failure;
  }
  return 128 + signal_number;
}

// Whether a request to end the process came; `status` becomes the status it gives the run.
bool terminated(const Run& run, int& status) {
  int signal_number = 0;
  if (!platform::termination_requested(signal_number)) {
    return false;
  }
  status = terminated_status(run.platform, signal_number);
  return true;
}

// "-dir" on the program name, and the work directory as a full path. A full path
// that does not fit ends the run before anything is left behind. Returns 0, or 252 after printing
// why.
int make_work_directory_absolute(Run& run) {
  run.options.program_name += "-dir";
  std::string full;
  int error = make_absolute_path(run.work_dir, full);
  if (error != 0) {
    print_error("Failed to get the full path of %s: %s\n", run.work_dir.c_str(),
                std::strerror(error));
    if (!run.options.extract_dir_given) {
      (void)remove_work_directory(run.work_dir, run.platform, run.work_dir_lock);
    }
    return k_exit_stub_failure;
  }
  run.work_dir = full;
  return k_exit_success;
}

// Creates the extraction directory with its two data directories. Returns 0, or 252 after
// printing why.
int create_directories(const Run& run) {
  int error = make_fresh_directory(run.extraction_dir, run.platform);
  if (error != 0) {
    print_error("Failed to create directory %s: %s\n", run.extraction_dir.c_str(),
                std::strerror(error));
    return k_exit_stub_failure;
  }
  std::string data_dir = run.extraction_dir;
  for (const char* name : {"device_info", "json"}) {
    data_dir = join_path(data_dir, name, run.platform);
    error = make_fresh_directory(data_dir, run.platform);
    if (error != 0) {
      print_error("Failed to create device_info directory %s: %s\n", data_dir.c_str(),
                  std::strerror(error));
      return k_exit_stub_failure;
    }
  }
  return k_exit_success;
}

// From this archive size on the copy runs beside the extraction: a smaller one is copied sooner
// than a thread starts.
constexpr std::uint32_t k_copy_beside_from = 1024 * 1024;

// Whether the run goes on to the payload's command or to its ending.
enum class Next { RunCommand, End };

// The archive's copy into archive.zip on a second thread, beside the extraction.
struct BackgroundCopy {
  PayloadResult& payload;
  const std::string& self_path;
  int status = k_payload_ok;
  // Set once the copy has failed: the extraction beside it stops at its next read.
  std::atomic<bool> failed{false};
};

void copy_in_background(void* argument) {
  BackgroundCopy& copy = *static_cast<BackgroundCopy*>(argument);
  copy.status = reserve_archive_space(copy.payload);
  if (copy.status == k_payload_ok) {
    copy.status = copy_archive(copy.payload, copy.self_path);
  }
  if (copy.status != k_payload_ok) {
    copy.failed = true;
  }
}

// The extraction directory of an extract-only run stays: after a copy that failed while the
// extraction ran it is made again as fresh as the run made it.
void refresh_extraction_directory(const Run& run) {
  if (run.options.extract_only) {
    (void)create_directories(run);
  }
}

// Once the archive is copied: the command template's "--no_extract_list" hands an extract-only
// request to the command; an extract-only run of the stub's own opens its "Extracting to" line.
void take_extract_request(Run& run) {
  if (run.payload.command_template.find("--no_extract_list") != std::string::npos) {
    run.options.no_extract_list = true;
  }
  if (run.options.no_extract_list && run.options.extract_only) {
    run.pass_through_args += " --sfx-extract-only";
    run.options.extract_only = false;
  } else if (run.options.extract_only) {
    print_plain("Extracting to %s ...", run.extraction_dir.c_str());
  }
}

// Files extracted into the run's own work directory, which only its user can enter and which goes
// with everything in it, get their bits as they are created, unless a default ACL there would hand
// down others: a given directory's files are owner-only until their data is written.
NewFileBits new_file_bits(const Run& run) {
  return !run.options.extract_dir_given && platform::creates_with_given_bits(run.work_dir)
             ? NewFileBits::AtCreation
             : NewFileBits::AfterData;
}

// Extracts the archive from the package's own open file while a second thread writes archive.zip.
// What the extraction prints is held until the copy has succeeded and then comes out as after a
// copy made first; a failed copy prints its message alone, the extraction's work undone. The
// copy thread sets archive.zip's room aside first; the extraction does not wait for that: its
// space check counts the free space measured before the copy started, less the archive. Returns
// false, having done nothing, on a file system that cannot set room aside (the copy must come
// first there, or the extraction could take the room it needs) and when no second thread can
// start, and for a package on a network file system, which would go over the network twice at
// once; otherwise sets the copy's `copy_status` and the extraction's `result`, both threads
// having ended.
bool extract_beside_copy(Run& run, int& copy_status, int& result) {
  if (platform::is_on_network_file_system(run.payload.package)) {
    return false;
  }
  // One byte's room tells at once whether the file system can set any aside.
  int probe = platform::reserve_file_space(run.payload.archive, 1);
  if (probe == EOPNOTSUPP || probe == ENOSYS) {
    return false;
  }
  std::uint64_t free_bytes = UINT64_MAX;
  platform::FileSystemInfo space;
  if (platform::file_system_info(run.extraction_dir, space) == 0) {
    free_bytes = space.free_bytes - std::min<std::uint64_t>(space.free_bytes,
                                                             run.payload.archive_length);
  }
  BackgroundCopy copy{run.payload, run.options.self_path};
  std::uintptr_t thread = 0;
  if (platform::start_thread(copy_in_background, &copy, thread) != 0) {
    return false;
  }
  std::vector<HeldMessages::Line> held;
  {
    HeldMessages holder;
    ArchiveRegion region;
    region.read_file = [&copy, package = file_reader(run.payload.package)](
                           std::uint64_t offset, void* buffer, std::size_t size) {
      return !copy.failed && package(offset, buffer, size);
    };
    region.base = run.payload.archive_offset;
    region.length = run.payload.archive_length;
    result = extract_archive_region(std::move(region), run.extraction_dir, run.platform,
                                    free_bytes, new_file_bits(run));
    held = holder.take();
  }
  platform::join_thread(thread);
  copy_status = copy.status;
  if (copy_status != k_payload_ok) {
    refresh_extraction_directory(run);
    return true;
  }
  take_extract_request(run);
  HeldMessages::write(held);
  if (result == k_extract_cannot_enter) {
    exit_now(k_exit_abort);
  }
  return true;
}

// Reads the payload and unpacks it. Returns the run's status: 0 to go on with the command (`next`
// is RunCommand), or the status of a run that ends here (0 after an extract-only run, 252 on
// failure). On Linux the extraction of an archive of 1 MiB or more reads the package itself while
// a second thread sets archive.zip's room aside and copies, where the file system can set room
// aside. Otherwise the copy comes first.
int unpack_payload(Run& run, Next& next) {
  next = Next::End;
  if (open_own_payload(run.options.self_path, run.work_dir, run.platform, run.payload) < 0) {
    return k_exit_stub_failure;
  }
  int result = k_extract_ok;
  int copy_status = k_payload_ok;
  if (!(platform::k_reserves_file_space && run.payload.archive_length >= k_copy_beside_from &&
        extract_beside_copy(run, copy_status, result))) {
    copy_status = copy_archive(run.payload, run.options.self_path);
    if (copy_status == k_payload_ok) {
      take_extract_request(run);
      result = extract_archive(run.payload.archive, run.extraction_dir, run.platform,
                               new_file_bits(run));
    }
  }
  if (copy_status != k_payload_ok) {
    return k_exit_stub_failure;
  }
  // Nothing reads the archive any more; Windows removes no open file.
  (void)run.payload.archive.close();
  (void)run.payload.package.close();
  if (result == k_extract_interrupted) {
    if (run.options.extract_only) {
      print_plain("\n");
    }
    return k_exit_stub_failure;
  }
  if (result == k_extract_not_an_archive || result == k_extract_no_space) {
    if (run.options.extract_only) {
      print_plain("\n");
    }
    if (result == k_extract_not_an_archive) {
      print_error("No valid attachment found\n");
    }
    return k_exit_stub_failure;
  }
  if (result != k_extract_ok) {
    // Nothing runs on an incomplete payload. The extraction's own message has closed the
    // "Extracting to" line.
    if (run.options.extract_only) {
      print_error("Extraction into %s is incomplete; the files extracted so far are left there\n",
                  run.extraction_dir.c_str());
    } else {
      print_error("Extraction into %s is incomplete; the command is not run\n",
                  run.extraction_dir.c_str());
    }
    return k_exit_stub_failure;
  }
  if (run.options.extract_only) {
    print_plain(" Done\n");
    return k_exit_success;
  }
  next = Next::RunCommand;
  return k_exit_success;
}

// Sets "TEMP" and runs the payload's command and then the extra-tool commands. Once a request to
// end the process has come, nothing more starts.
int run_commands(Run& run) {
  int status = k_exit_success;
  if (terminated(run, status)) {
    return status;
  }
  if (platform::set_environment_variable("TEMP", run.temp_files_dir) != 0) {
    print_error("Failed to set environment variable\n");
    return k_exit_stub_failure;
  }
  const SfxOptions& options = run.options;
  if (options.show_version) {
    print_version();
  }
  ExpansionValues values{run.pass_through_args, options.current_dir, options.device_arg,
                         run.extraction_dir};
  platform::drop_late_cursor_report(run.cursor);
  status = launch_command(run.payload.command_template, run.payload.extra_tool_commands, values,
                          run.platform, run.extra_tools);
  if (options.show_help && !options.show_version) {
    print_help(options);
  }
  // 126 is the shell's "found but cannot run": on a temporary folder mounted noexec every package
  // fails so, and the user needs to hear where to go instead.
  platform::FileSystemInfo file_system;
  if (status == k_status_cannot_run &&
      platform::file_system_info(run.extraction_dir, file_system) == 0 &&
      !file_system.runs_programs) {
    print_info("The temporary folder does not allow running programs; try --sfx-extract-dir DIR\n");
  }
  if (status != 0) {
    return status;
  }
  if (run.extra_tools.empty() || options.show_help || options.show_version ||
      options.skip_extra_tools) {
    return status;
  }
  for (const ExtraToolCommand& tool : run.extra_tools) {
    if (terminated(run, status)) {
      return status;
    }
    print_plain("\n");
    print_info("Executing cmd : %s\n", tool.display.c_str());
    status = run_shell_command(tool.runnable, run.platform);
  }
  return status;
}

// The way back to the start directory. When it fails the process still stands inside the work
// directory, which could then not be removed: it leaves for the temporary directory, or the root.
int return_to_start_directory(const Run& run, int status) {
  if (platform::set_current_directory(run.options.current_dir) == 0) {
    return status;
  }
  print_error("Failed to change directory.\n");
  if (run.temp_files_dir.empty() || platform::set_current_directory(run.temp_files_dir) != 0) {
    (void)platform::set_current_directory(std::string(1, path_separator(run.platform)));
  }
  return k_exit_return_failed;
}

// The ending: back to the start directory, removal of what the run created, the key wait. A
// request to end the process that came outside the command (while the stub copied, extracted or
// ended) decides the status; there is then no key wait.
int end_run(Run& run, int status) {
  status = return_to_start_directory(run, status);
  (void)run.payload.archive.close();
  if (!run.options.extract_dir_given) {
    (void)remove_work_directory(run.work_dir, run.platform, run.work_dir_lock);
  } else {
    // Only a name this run created; removing a name never follows a link.
    if (run.payload.archive_written) {
      (void)platform::remove_file(run.payload.archive_path);
    }
    if (!run.options.extract_only) {
      (void)remove_directory_tree(run.extraction_dir, run.platform);
    }
    unlock_extraction_directory(run.extraction_dir, run.extraction_dir_lock);
  }
  platform::drop_late_cursor_report(run.cursor);
  if (terminated(run, status)) {
    return status;
  }
  if (run.console_state == ConsoleState::FreshConsole && !run.options.no_pause) {
    print_plain("Press any key to continue ... (To suppress pause re-run with --sfx-no-pause flag)");
    platform::wait_for_key();
    print_plain("\n");
    (void)terminated(run, status);
  }
  return status;
}

}  // namespace

int run_stub(int argc, const char* const* argv) {
  // Before anything else can load a library. Where the system cannot restrict the search, the
  // run goes on with the loader's usual order.
  (void)platform::restrict_library_search();
  // From here on an interrupt or a termination request lets the run clean up.
  platform::watch_for_termination();
  Run run;
  run.platform = this_platform();
  init_process_context(run.options);
  run.payload.archive_written = false;
  run.console_state = detect_console_state(run.cursor);

  if (parse_options(argc, argv, run.pass_through_args, run.options) != 0) {
    return k_exit_stub_failure;
  }
  WorkDirectoryMode mode = run.options.extract_dir_given ? WorkDirectoryMode::Given
                                                         : WorkDirectoryMode::Temporary;
  if (resolve_work_directory(mode, run.options.extract_dir, run.platform, run.temp_files_dir,
                             run.work_dir, run.work_dir_lock) != 0) {
    print_info("Please consider using the following options:\n");
    print_help(run.options);
    if (run.options.show_version) {
      print_version();
    }
    return k_exit_stub_failure;
  }

  if (make_work_directory_absolute(run) != k_exit_success) {
    return k_exit_stub_failure;
  }
  run.extraction_dir = join_path(run.work_dir, run.options.program_name, run.platform);
  // Another run of a package with this name may be using the given directory: then nothing of it
  // is touched, and, as for a work directory that cannot be prepared, there is no key wait.
  if (run.options.extract_dir_given &&
      lock_extraction_directory(run.extraction_dir, run.extraction_dir_lock) != 0) {
    return k_exit_stub_failure;
  }
  // A request that came while the start looked at the terminal: only the work directory is there.
  int status = k_exit_success;
  if (terminated(run, status)) {
    return end_run(run, status);
  }
  status = create_directories(run);
  if (status != k_exit_success) {
    return end_run(run, status);
  }
  Next next = Next::End;
  status = unpack_payload(run, next);
  if (next == Next::End) {
    return end_run(run, status);
  }
  return end_run(run, run_commands(run));
}
