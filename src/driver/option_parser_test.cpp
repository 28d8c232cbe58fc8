// SPDX-License-Identifier: Zlib
#include "driver/option_parser.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Parsed {
  int result = 0;
  std::string args;
  SfxOptions options;
  std::string err;
};

Parsed parse(std::vector<const char*> argv) {
  argv.insert(argv.begin(), "C:\\pkgs\\fw_update.exe");
  Parsed parsed;
  testing::internal::CaptureStderr();
  parsed.result = parse_options(static_cast<int>(argv.size()), argv.data(), parsed.args,
                                parsed.options);
  parsed.err = testing::internal::GetCapturedStderr();
  return parsed;
}

TEST(ProgramNameFromPath, PathSamples) {
  struct Case {
    const char* path;
    const char* name;
  } cases[] = {
      {"D:\\tools\\pkg.beta.exe", "pkg.beta"}, {"D:/a.b/run", "run"},   {"run.exe", "run"},
      {"D:\\x\\.hidden", "hidden"},            {"D:\\x\\", ""},         {"/opt/pkg/", ""},
      {"pkg", "pkg"},                          {".pkg", "pkg"},         {"", ""},
      {"/home/op/fw_update", "fw_update"},     {"a/b\\c.d.e", "c.d"},   {"..", "."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(program_name_from_path(c.path), c.name) << "path " << c.path;
  }
}

TEST(ParseOptions, SortsArgumentsIntoFlagsAndPassThrough) {
  struct Case {
    std::vector<const char*> argv;
    std::string args;
    std::string device_arg;
  } cases[] = {
      {{}, "", ""},
      {{"-d", "dev0", "--query"}, "-d dev0 --query", "-d dev0"},
      {{"--dev", "dev0"}, "--dev dev0", "-d dev0"},
      {{"--sfx-no-pause", "-d", "dev0"}, " -d dev0", "-d dev0"},
      {{"-d", "--help"}, "-d --help", "-d --help"},
      {{"-d", "--sfx-no-pause"}, "-d", "-d --sfx-no-pause"},
      {{"--sfx-extract-dir", "-h"}, "", ""},
      {{"--HELP", "--help=1", "--sfx-extract-dir=D1"}, "--HELP --help=1 --sfx-extract-dir=D1", ""},
      {{"a b", "x"}, "a b x", ""},
      {{"x", ""}, "x ", ""},
      {{"-h", "--help", "-v", "--version"}, "-h --help -v --version", ""},
      {{"-d", "a", "--dev", "b"}, "-d a --dev b", "-d b"},
      {{"--sfx-extract-only", "--no_extract_list"}, " --no_extract_list", ""},
  };
  for (const Case& c : cases) {
    Parsed parsed = parse(c.argv);
    std::string label = c.argv.empty() ? "(none)" : c.argv[0];
    EXPECT_EQ(parsed.result, 0) << label;
    EXPECT_EQ(parsed.args, c.args) << label;
    EXPECT_EQ(parsed.options.device_arg, c.device_arg) << label;
    EXPECT_EQ(parsed.options.program_name, "fw_update") << label;
    EXPECT_EQ(parsed.err, "") << label;
  }
}

TEST(ParseOptions, SetsFlags) {
  Parsed none = parse({});
  EXPECT_FALSE(none.options.show_help || none.options.show_version ||
               none.options.skip_extra_tools || none.options.no_pause ||
               none.options.extract_only || none.options.extract_dir_given ||
               none.options.no_extract_list);

  Parsed all = parse({"-v", "-h", "--online-query-psid", "--sfx-no-pause", "--no_extract_list"});
  EXPECT_TRUE(all.options.show_version);
  EXPECT_TRUE(all.options.show_help);
  EXPECT_TRUE(all.options.skip_extra_tools);
  EXPECT_TRUE(all.options.no_pause);
  EXPECT_TRUE(all.options.no_extract_list);

  for (const char* skip : {"--no", "--query", "--online-query-psid"}) {
    EXPECT_TRUE(parse({skip}).options.skip_extra_tools) << skip;
  }

  Parsed value = parse({"--sfx-extract-dir", "-h"});
  EXPECT_TRUE(value.options.extract_dir_given);
  EXPECT_EQ(value.options.extract_dir, "-h");
  EXPECT_FALSE(value.options.show_help);

  Parsed twice = parse({"--sfx-extract-dir", "D1", "--sfx-extract-dir", "D2"});
  EXPECT_EQ(twice.options.extract_dir, "D2");

  Parsed device_option = parse({"-d", "--sfx-no-pause"});
  EXPECT_TRUE(device_option.options.no_pause);

  Parsed extract_only = parse({"--sfx-extract-only", "--sfx-extract-dir", "D1"});
  EXPECT_EQ(extract_only.result, 0);
  EXPECT_TRUE(extract_only.options.extract_only);
}

TEST(ParseOptions, RejectsTheThreeCommandLineErrors) {
  const std::string no_dir =
      "-E- Destination directory not specified with --sfx-extract-dir option\n";
  const std::string no_device = "-E- Devices is not Specified\n";
  const std::string extract_only =
      "-E- --sfx-extract-only option must be used in conjunction with --sfx-extract-dir option\n";
  struct Case {
    std::vector<const char*> argv;
    std::string err;
  } cases[] = {
      {{"--sfx-extract-dir"}, no_dir},
      {{"x", "--sfx-extract-only", "--sfx-extract-dir"}, no_dir},
      {{"-d"}, no_device},
      {{"--query", "-d"}, no_device},
      {{"--dev"}, no_device},
      {{"--sfx-extract-only"}, extract_only},
      {{"--sfx-extract-only", "--sfx-no-pause"}, extract_only},
  };
  for (const Case& c : cases) {
    Parsed parsed = parse(c.argv);
    EXPECT_EQ(parsed.result, -1) << c.argv[0];
    EXPECT_EQ(parsed.err, c.err) << c.argv[0];
  }
}

TEST(ParseOptions, SurvivesHugeCommandLines) {
  std::vector<const char*> many(10000, "x");
  Parsed parsed = parse(many);
  EXPECT_EQ(parsed.result, 0);
  EXPECT_EQ(parsed.args.size(), 2u * 10000 - 1);

  std::string big(100 * 1024, 'a');
  Parsed large = parse({big.c_str()});
  EXPECT_EQ(large.args, big);

  std::string args;
  SfxOptions options;
  const char* empty_argv[] = {""};
  EXPECT_EQ(parse_options(1, empty_argv, args, options), 0);
  EXPECT_EQ(options.program_name, "");
  EXPECT_EQ(parse_options(0, empty_argv, args, options), 0);
}

}  // namespace
