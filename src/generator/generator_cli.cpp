// SPDX-License-Identifier: Zlib
#include "generator/generator_cli.hpp"

#include <algorithm>
#include <limits>
#include <map>
#include <set>

#include "common/display_text.hpp"
#include "common/environment.hpp"
#include "common/stdio_file.hpp"
#include "generator/package_info.hpp"
#include "generator/package_writer.hpp"
#include "generator/pe_signature.hpp"
#include "generator/stub_check.hpp"
#include "generator/stub_location.hpp"
#include "package/trailer_layout.hpp"
#include "platform/platform.hpp"

namespace {

constexpr char k_program[] = "vek_fwsfx_gen";
constexpr char k_version[] = "1.0";

constexpr char k_help[] =
    "Usage: vek_fwsfx_gen (--target linux|windows [--admin] | --stub STUB)\n"
    "                     (--dir FOLDER | --zip ARCHIVE) --command TEMPLATE\n"
    "                     [--extra-tool COMMAND] [--level 0-9] [--follow-links] [--quiet]\n"
    "                     -o PACKAGE\n"
    "       vek_fwsfx_gen --info [--verify] [--json] [--quiet] PACKAGE\n"
    "       vek_fwsfx_gen --list [--json] [--quiet] PACKAGE\n"
    "       vek_fwsfx_gen --help | --version\n"
    "\n"
    "Builds a self-extracting package: a copy of a stub, a ZIP archive of FOLDER's contents (or\n"
    "ARCHIVE, unchanged) and a payload trailer holding the command TEMPLATE that the stub runs\n"
    "after unpacking. Options come in any order; --name=VALUE works as well as --name VALUE.\n"
    "\n"
    "Options:\n"
    "  --target PLATFORM     pack the stub for linux or windows that comes with this generator:\n"
    "                        the installed one (../lib/sfxkit/stubs/ beside its bin/ folder)\n"
    "                        or, run from a build folder, the one built beside it\n"
    "  --admin               with --target windows: pack the stub whose packages ask for\n"
    "                        administrator rights when started (sfx_stub_admin.exe)\n"
    "  --stub STUB           pack a stub of your own (sfx_stub or sfx_stub.exe) instead; it\n"
    "                        must be an sfxkit stub built with its marker, not a package\n"
    "  --dir FOLDER          archive everything below FOLDER; a symbolic link is stored as a\n"
    "                        copy of its target, PACKAGE itself is left out\n"
    "  --follow-links        also store the targets of links leading out of FOLDER (refused\n"
    "                        otherwise)\n"
    "  --zip ARCHIVE         append the ZIP file ARCHIVE unchanged\n"
    "  --command TEMPLATE    the command to run, at most 256 bytes; it may use %argv%,\n"
    "                        %current-dir% and %ca-bundle.crt%\n"
    "  --extra-tool COMMAND  a command run after TEMPLATE succeeded, at most 256 bytes; it\n"
    "                        may use %device%\n"
    "  --level N             deflate level 1-9, or 0 to store (default 6)\n"
    "  -o PACKAGE            the package to write; it appears only when complete\n"
    "  --info                print PACKAGE's stub (platform, execution level, version),\n"
    "                        trailer and archive summary\n"
    "  --list                print PACKAGE's entries: type, mode, size, CRC-32, time, name\n"
    "  --verify              with --info: also extract every entry as its stub does, writing\n"
    "                        nothing\n"
    "  --json                with --info or --list: print one JSON document instead\n"
    "  --quiet               no progress line (shown on a terminal while a package of more\n"
    "                        than 100 MB is built or verified)\n"
    "  --help                print this help and exit\n"
    "  --version             print the version and exit\n"
    "\n"
    "Reproducible packages: entries are always stored in name order. With SOURCE_DATE_EPOCH\n"
    "set (seconds since 1970), every entry's time is that instant, written as UTC, and modes\n"
    "are normalised to 0755 (folders, files with an execute bit) or 0644, so the same inputs\n"
    "give the same bytes; without it, files keep their own times and modes.\n"
    "\n"
    "Exit status:\n"
    "  0  success (with --verify: the package is sound)\n"
    "  1  the package cannot be built, read or is not sound; no stub found for --target\n"
    "  2  usage error (also a SOURCE_DATE_EPOCH that is not a number of seconds)\n";

const char* const k_value_options[] = {"--stub",    "--target",     "--dir",   "--zip",
                                       "--command", "--extra-tool", "--level", "-o"};
const char* const k_flags[] = {"--info",         "--list",  "--verify", "--json",
                               "--follow-links", "--admin", "--quiet"};

bool is_one_of(const std::string& argument, const char* const* begin, const char* const* end) {
  return std::find_if(begin, end, [&argument](const char* name) { return argument == name; }) !=
         end;
}

int usage_error(std::ostream& err, const std::string& message) {
  err << k_program << ": " << message << "\n"
      << "Try '" << k_program << " --help' for more information.\n";
  return k_generator_usage_error;
}

int failure(std::ostream& err, const std::string& message) {
  err << k_program << ": " << message << "\n";
  return k_generator_failed;
}

struct CommandLine {
  std::map<std::string, std::string> values;
  std::set<std::string> flags;
  std::vector<std::string> operands;
  bool has(const char* option) const { return values.count(option) != 0 || flags.count(option); }
};

enum class ParseResult { Parsed, Done };

// Sorts `arguments` into options with values, flags and operands, in any order; "--" ends the
// options. Handles --help and --version at once (Done). Returns Parsed, Done, or the status of a
// usage error in `status`.
ParseResult parse(const std::vector<std::string>& arguments, CommandLine& line, int& status,
                  std::ostream& out, std::ostream& err) {
  status = k_generator_ok;
  bool options_ended = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string argument = arguments[i];
    if (options_ended || argument.size() < 2 || argument[0] != '-') {
      line.operands.push_back(argument);
      continue;
    }
    if (argument == "--") {
      options_ended = true;
      continue;
    }
    if (argument == "--help" || argument == "-h") {
      out << k_help;
      return ParseResult::Done;
    }
    if (argument == "--version") {
      out << k_program << " " << k_version << " (payload layout " << k_layout_version << ")\n";
      return ParseResult::Done;
    }
    std::optional<std::string> value;
    std::size_t equals = argument.find('=');
    if (argument.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = argument.substr(equals + 1);
      argument.erase(equals);
    }
    if (is_one_of(argument, std::begin(k_flags), std::end(k_flags))) {
      if (value) {
        status = usage_error(err, "option " + argument + " takes no value");
        return ParseResult::Done;
      }
      line.flags.insert(argument);
      continue;
    }
    if (!is_one_of(argument, std::begin(k_value_options), std::end(k_value_options))) {
      status = usage_error(err, "unknown option " + argument);
      return ParseResult::Done;
    }
    if (!value) {
      if (i + 1 == arguments.size()) {
        status = usage_error(err, "option " + argument + " needs a value");
        return ParseResult::Done;
      }
      value = arguments[++i];
    }
    if (!line.values.emplace(argument, *value).second) {
      status = usage_error(err, "option " + argument + " is given twice");
      return ParseResult::Done;
    }
  }
  return ParseResult::Parsed;
}

// Where the progress of long work goes: to `err` when it is a terminal and --quiet is not given.
ProgressOutput progress_output(const CommandLine& line, const GeneratorEnvironment& environment,
                               std::ostream& err) {
  ProgressOutput progress;
  progress.threshold = environment.progress_threshold;
  if (environment.error_is_terminal && !line.has("--quiet")) {
    progress.stream = &err;
  }
  return progress;
}

// --info and --list.
int inspect(const CommandLine& line, const GeneratorEnvironment& environment, std::ostream& out,
            std::ostream& err) {
  bool list = line.has("--list");
  if (line.has("--info") && list) {
    return usage_error(err, "give only one of --info and --list");
  }
  const char* mode = list ? "--list" : "--info";
  if (!line.values.empty() || line.has("--follow-links") || line.has("--admin")) {
    return usage_error(err, std::string(mode) + " takes no other option but " +
                                (list ? "--json and --quiet" : "--verify, --json and --quiet"));
  }
  // --quiet is taken with --list as well, so that one set of options serves both in scripts;
  // listing shows no progress line anyway.
  if (list && line.has("--verify")) {
    return usage_error(err, "--verify goes with --info");
  }
  if (line.operands.size() != 1) {
    return usage_error(err, std::string(mode) + " takes one PACKAGE");
  }
  PackageReport report;
  report.path = line.operands[0];
  if (inspect_package(report.path, ArchiveCheck::ListOnly, report.info, report.error) &&
      line.has("--verify")) {
    // The listing above leaves out the stub's entry rules; verifying applies them as well.
    PackageInfo verified;
    report.verified = inspect_package(report.path, ArchiveCheck::ReadEveryEntry, verified,
                                      report.error, progress_output(line, environment, err));
  }
  if (line.has("--json")) {
    out << package_json(report, list ? ReportEntries::Include : ReportEntries::Leave);
  } else if (report.info.archive_read) {
    out << (list ? describe_entries(report.info) : describe_package(report.info));
    if (report.verified == true) {
      out << "verified:            every entry reads back with a matching CRC\n";
    }
  }
  // Messages quote the package (entry names, the layout version): never raw to the terminal.
  return report.error.empty() ? k_generator_ok : failure(err, display_text(report.error));
}

// A signed stub's signature covers the stub alone: the package built from it is not signed.
void warn_if_signed(const std::string& stub_path, std::ostream& err) {
  StdioFile stub = StdioFile::open(stub_path, "rb");
  if (stub && find_pe_signature(stub.get())) {
    err << k_program << ": warning: the stub " << stub_path
        << " is signed; the package's archive breaks that signature: sign the package instead\n";
  }
}

// SOURCE_DATE_EPOCH: a whole number of seconds since 1970.
bool parse_epoch(const std::string& text, std::int64_t& seconds) {
  if (text.empty() || text.size() > 18 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  seconds = std::stoll(text);
  return true;
}

int build(const CommandLine& line, const GeneratorEnvironment& environment, std::ostream& err) {
  for (const char* only_inspecting : {"--verify", "--json"}) {
    if (line.has(only_inspecting)) {
      return usage_error(err, std::string(only_inspecting) + " goes with --info" +
                                  (std::string(only_inspecting) == "--json" ? " or --list" : ""));
    }
  }
  if (!line.operands.empty()) {
    return usage_error(err, "unexpected argument " + line.operands[0]);
  }
  for (const char* required : {"--command", "-o"}) {
    if (!line.has(required)) {
      return usage_error(err, std::string("option ") + required + " is required");
    }
  }
  if (line.has("--stub") == line.has("--target")) {
    return usage_error(err, "give exactly one of --target and --stub");
  }
  if (line.has("--dir") == line.has("--zip")) {
    return usage_error(err, "give exactly one of --dir and --zip");
  }
  if (line.has("--follow-links") && !line.has("--dir")) {
    return usage_error(err, "--follow-links goes with --dir");
  }
  if (line.has("--admin") && (!line.has("--target") || line.values.at("--target") != "windows")) {
    return usage_error(err, "--admin goes with --target windows");
  }
  auto value = [&line](const char* option) { return line.values.at(option); };
  PackageRequest request;
  if (line.has("--level")) {
    const std::string level = value("--level");
    if (level.size() != 1 || level[0] < '0' || level[0] > '9') {
      return usage_error(err, "--level takes a number from 0 to 9, not " + level);
    }
    request.level = level[0] - '0';
  }
  if (environment.source_date_epoch) {
    std::int64_t seconds = 0;
    if (!parse_epoch(*environment.source_date_epoch, seconds)) {
      return usage_error(err, "SOURCE_DATE_EPOCH must be a number of seconds since 1970, not '" +
                                  *environment.source_date_epoch + "'");
    }
    request.source_date_epoch = seconds;
  }
  if (line.has("--target")) {
    std::string target = value("--target");
    if (target != "linux" && target != "windows") {
      return usage_error(err, "--target takes linux or windows, not " + target);
    }
    TargetPlatform platform = target == "linux" ? TargetPlatform::Linux : TargetPlatform::Windows;
    StubKind kind = line.has("--admin") ? StubKind::Administrator : StubKind::Plain;
    request.stub_path = find_stub(environment.program_path, platform, kind);
    if (request.stub_path.empty()) {
      std::string tried;
      for (const std::string& candidate :
           stub_candidates(environment.program_path, platform, kind)) {
        tried += "\n  " + candidate;
      }
      return failure(
          err, "no " + target + " stub found; looked for" +
                   (tried.empty() ? std::string(" nothing: where is ") + k_program + " itself?"
                                  : tried) +
                   "\ngive one with --stub");
    }
    // The stub found must be the one asked for: a plain stub in the place of the elevated one
    // would make packages that never ask for administrator rights.
    StubMarker marker;
    std::string error;
    if (check_stub(request.stub_path, marker, error) &&
        (marker.platform != platform ||
         marker.level != (kind == StubKind::Administrator ? StubLevel::Elevated
                                                          : StubLevel::Plain))) {
      return failure(err, "the stub " + request.stub_path + " found for --target " + target +
                              (line.has("--admin") ? " --admin" : "") + " is a " +
                              stub_platform_text(marker.platform) + " " +
                              stub_level_text(marker.level) + " stub");
    }
  } else {
    request.stub_path = value("--stub");
  }
  request.source = line.has("--dir") ? ArchiveSource::Folder : ArchiveSource::ZipFile;
  request.source_path = line.has("--dir") ? value("--dir") : value("--zip");
  request.outside_links = line.has("--follow-links") ? OutsideLinks::Follow : OutsideLinks::Refuse;
  request.command_template = value("--command");
  if (line.has("--extra-tool")) {
    request.extra_tool_command = value("--extra-tool");
  }
  request.output_path = value("-o");
  request.progress = progress_output(line, environment, err);
  warn_if_signed(request.stub_path, err);
  std::string error;
  std::vector<std::string> warnings;
  bool written = write_package(request, error, &warnings);
  for (const std::string& warning : warnings) {
    err << k_program << ": warning: " << display_text(warning) << "\n";
  }
  if (!written) {
    return failure(err, display_text(error));
  }
  return k_generator_ok;
}

}  // namespace

GeneratorEnvironment process_environment() {
  GeneratorEnvironment environment;
  environment.program_path = platform::executable_path();
  std::string epoch;
  if (read_environment_variable("SOURCE_DATE_EPOCH", epoch)) {
    environment.source_date_epoch = epoch;
  }
  environment.error_is_terminal = platform::is_terminal(platform::StandardStream::Error);
  return environment;
}

int run_generator(const std::vector<std::string>& arguments,
                  const GeneratorEnvironment& environment, std::ostream& out, std::ostream& err) {
  CommandLine line;
  int status = k_generator_ok;
  if (parse(arguments, line, status, out, err) == ParseResult::Done) {
    return status;
  }
  if (arguments.empty()) {
    return usage_error(err, "nothing to do");
  }
  if (line.has("--info") || line.has("--list")) {
    return inspect(line, environment, out, err);
  }
  return build(line, environment, err);
}

int run_generator(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  return run_generator(arguments, process_environment(), out, err);
}
