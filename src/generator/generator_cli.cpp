#include "generator/generator_cli.hpp"

#include <map>
#include <optional>

#include "generator/package_info.hpp"
#include "generator/package_writer.hpp"
#include "package/trailer_layout.hpp"

namespace {

constexpr char k_program[] = "vek_fwsfx_gen";
constexpr char k_version[] = "1.0";

constexpr char k_help[] =
    "Usage: vek_fwsfx_gen --stub STUB (--dir FOLDER | --zip ARCHIVE) --command TEMPLATE\n"
    "                     [--extra-tool COMMAND] [--level 0-9] -o PACKAGE\n"
    "       vek_fwsfx_gen --info PACKAGE [--verify]\n"
    "       vek_fwsfx_gen --help | --version\n"
    "\n"
    "Builds a self-extracting package: a copy of STUB, a ZIP archive of FOLDER's contents (or\n"
    "ARCHIVE, unchanged) and a payload trailer holding the command TEMPLATE that the stub runs\n"
    "after unpacking.\n"
    "\n"
    "Options:\n"
    "  --stub STUB           the stub to copy (sfx_stub or sfx_stub.exe)\n"
    "  --dir FOLDER          archive everything below FOLDER\n"
    "  --zip ARCHIVE         append the ZIP file ARCHIVE unchanged\n"
    "  --command TEMPLATE    the command to run, at most 256 bytes; it may use %argv%,\n"
    "                        %current-dir% and %ca-bundle.crt%\n"
    "  --extra-tool COMMAND  a command run after TEMPLATE succeeded, at most 256 bytes; it\n"
    "                        may use %device%\n"
    "  --level N             deflate level 1-9, or 0 to store (default 6)\n"
    "  -o PACKAGE            the package to write; it appears only when complete\n"
    "  --info PACKAGE        print the package's trailer and archive summary\n"
    "  --verify              with --info: also read every entry and check its CRC\n"
    "  --help                print this help and exit\n"
    "  --version             print the version and exit\n"
    "\n"
    "Exit status: 0 on success, 1 when the package cannot be built or is not sound, 2 on a\n"
    "usage error.\n";

bool takes_value(const std::string& option) {
  return option == "--stub" || option == "--dir" || option == "--zip" || option == "--command" ||
         option == "--extra-tool" || option == "--level" || option == "-o" || option == "--info";
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

int inspect(const std::string& path, bool verify, std::ostream& out, std::ostream& err) {
  PackageInfo info;
  std::string error;
  if (!inspect_package(path, verify ? ArchiveCheck::ReadEveryEntry : ArchiveCheck::ListOnly, info,
                       error)) {
    return failure(err, error);
  }
  out << describe_package(info);
  if (verify) {
    out << "verified:            every entry reads back with a matching CRC\n";
  }
  return k_generator_ok;
}

}  // namespace

int run_generator(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  std::map<std::string, std::string> values;
  bool verify = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      out << k_help;
      return k_generator_ok;
    }
    if (argument == "--version") {
      out << k_program << " " << k_version << " (payload layout " << k_layout_version << ")\n";
      return k_generator_ok;
    }
    if (argument == "--verify") {
      verify = true;
      continue;
    }
    if (!takes_value(argument)) {
      return usage_error(err, argument.rfind('-', 0) == 0 ? "unknown option " + argument
                                                          : "unexpected argument " + argument);
    }
    if (i + 1 == arguments.size()) {
      return usage_error(err, "option " + argument + " needs a value");
    }
    if (!values.emplace(argument, arguments[++i]).second) {
      return usage_error(err, "option " + argument + " is given twice");
    }
  }
  auto has = [&values](const char* option) { return values.count(option) != 0; };

  if (has("--info")) {
    if (values.size() != 1) {
      return usage_error(err, "--info takes no other option but --verify");
    }
    return inspect(values["--info"], verify, out, err);
  }
  if (arguments.empty()) {
    return usage_error(err, "nothing to do");
  }
  if (verify) {
    return usage_error(err, "--verify goes with --info");
  }
  for (const char* required : {"--stub", "--command", "-o"}) {
    if (!has(required)) {
      return usage_error(err, std::string("option ") + required + " is required");
    }
  }
  if (has("--dir") == has("--zip")) {
    return usage_error(err, "give exactly one of --dir and --zip");
  }
  PackageRequest request;
  if (has("--level")) {
    const std::string& level = values["--level"];
    if (level.size() != 1 || level[0] < '0' || level[0] > '9') {
      return usage_error(err, "--level takes a number from 0 to 9, not " + level);
    }
    request.level = level[0] - '0';
  }
  request.stub_path = values["--stub"];
  request.source = has("--dir") ? ArchiveSource::Folder : ArchiveSource::ZipFile;
  request.source_path = has("--dir") ? values["--dir"] : values["--zip"];
  request.command_template = values["--command"];
  if (has("--extra-tool")) {
    request.extra_tool_command = values["--extra-tool"];
  }
  request.output_path = values["-o"];
  std::string error;
  if (!write_package(request, error)) {
    return failure(err, error);
  }
  return k_generator_ok;
}
