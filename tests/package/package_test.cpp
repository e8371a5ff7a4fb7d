// The install tree and the Debian package, as a user and an embedder meet
// them: every part under the prefix, no build folder in any installed file,
// run paths relative to the programs, man pages that render, a completion
// and a man page that know every option, an installed multidl that downloads
// from nginx; the examples built against the install with find_package and
// with pkg-config, each telling a success from a 404 by its exit status and
// its printed error; the package's contents and dependencies.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FindProgram;
using testing_support::NginxServer;
using testing_support::RandomBytes;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

const std::string kBuild = LIVEUPDATE_BUILD_DIR;
const std::string kSource = LIVEUPDATE_SOURCE_DIR;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
  std::string Both() const { return out + err; }
};

// Runs Argv (found on PATH when it has no slash) with Env added, its output
// kept in files of Scratch.
Result RunCommand(const std::vector<std::string>& argv, const std::string& scratch,
           const std::vector<std::string>& env = {}) {
  const std::string outFile = scratch + "/run.out";
  const std::string errFile = scratch + "/run.err";
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(err, 2);
    for (const std::string& setting : env) ::putenv(const_cast<char*>(setting.c_str()));
    std::vector<char*> words;
    for (const std::string& word : argv) words.push_back(const_cast<char*>(word.c_str()));
    words.push_back(nullptr);
    ::execvp(words[0], words.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  Result result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadFile(outFile);
  result.err = ReadFile(errFile);
  return result;
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool IsElf(const fs::path& path) { return ReadFile(path.string()).substr(0, 4) == "\x7f" "ELF"; }

testing_support::NginxOptions Serving(const std::string& root) {
  testing_support::NginxOptions options;
  options.root = root;
  return options;
}

// A copy the loader's own search would find (the Debian package installed).
bool SystemHasInternetLibrary() {
  for (const char* folder : {"/usr/lib", "/lib", "/usr/local/lib", "/usr/lib/x86_64-linux-gnu"}) {
    if (fs::exists(std::string(folder) + "/libinetclient.so")) return true;
  }
  return false;
}

// The long options in the option column of `multidl --help`.
std::set<std::string> LongOptions(const std::string& help) {
  std::set<std::string> options;
  for (const std::string& line : Split(help, '\n')) {
    const std::vector<std::string> words = Words(line);
    if (words.empty() || words[0][0] != '-') continue;
    for (const std::string& name : Split(words[0], ',')) {
      if (name.rfind("--", 0) == 0) options.insert(name);
    }
  }
  return options;
}

// A prefix the build is installed into, in a folder of its own.
class InstalledPackage : public ::testing::Test {
 protected:
  void SetUp() override {
    prefix = dir.File("prefix");
    const Result install = RunCommand({LIVEUPDATE_CMAKE, "--install", kBuild, "--prefix", prefix}, dir.Path());
    ASSERT_EQ(install.status, 0) << install.Both();
  }
  std::string P(const std::string& relative) const { return prefix + "/" + relative; }
  Result RunHere(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
    return RunCommand(argv, dir.Path(), env);
  }

  TempDir dir;
  std::string prefix;
};

TEST_F(InstalledPackage, EveryPartIsUnderThePrefixAndNoInstalledFileNamesTheBuild) {
  std::vector<std::string> expected = {
      "lib/libcl_platform.so", "lib/libinetclient.so", "lib/libcl_download.a",
      "lib/cmake/liveupdate/liveupdateConfig.cmake",
      "lib/cmake/liveupdate/liveupdateConfigVersion.cmake",
      "lib/cmake/liveupdate/liveupdateTargets.cmake", "lib/pkgconfig/liveupdate.pc",
      "include/liveupdate/download/clMultiDownLoader.h",
      "include/liveupdate/download/WaitForItem.h", "include/liveupdate/platform/inet/InetClient.h",
      "share/man/man1/multidl.1", "share/bash-completion/completions/multidl",
      "share/doc/liveupdate/examples/download-one.cpp"};
  for (const std::string& program : Split(LIVEUPDATE_PROGRAMS, ',')) expected.push_back("bin/" + program);
  for (const std::string& file : expected) EXPECT_TRUE(fs::is_regular_file(P(file))) << file;
  // The front-ends and the internet library's inner headers are no interface.
  EXPECT_FALSE(fs::exists(P("include/liveupdate/ui")));
  EXPECT_FALSE(fs::exists(P("include/liveupdate/platform/inet/Transfer.h")));

  int elfFiles = 0;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(prefix)) {
    if (!entry.is_regular_file() || entry.path().extension() == ".a") continue;
    const std::string path = entry.path().string();
    const std::string relative = path.substr(prefix.size() + 1);
    std::string text = ReadFile(path);
    if (IsElf(entry.path())) {
      ++elfFiles;
      const Result dynamic = RunHere({"readelf", "-d", path});
      ASSERT_EQ(dynamic.status, 0) << dynamic.err;
      text = dynamic.out;
      EXPECT_FALSE(Contains(text, "(RPATH)")) << relative << "\n" << text;
      const std::string runPath =
          relative.rfind("bin/", 0) == 0 ? "[$ORIGIN/../lib]" : "[$ORIGIN]";
      EXPECT_TRUE(Contains(text, "Library runpath: " + runPath)) << relative << "\n" << text;
    }
    EXPECT_FALSE(Contains(text, kBuild)) << relative << " names the build folder";
    EXPECT_FALSE(Contains(text, kSource)) << relative << " names the source folder";
  }
  EXPECT_GE(elfFiles, 5);
}

TEST_F(InstalledPackage, ManPagesRenderAndTheyAndTheCompletionKnowEveryOption) {
  std::vector<std::string> pages;
  for (const fs::directory_entry& entry : fs::directory_iterator(P("share/man/man1")))
    pages.push_back(entry.path().string());
  ASSERT_FALSE(pages.empty());
  std::string multidlPage;
  for (const std::string& page : pages) {
    SCOPED_TRACE(page);
    const Result shown =
        RunHere({"man", "--warnings", "-E", "UTF-8", "-P", "cat", "-l", page}, {"MANWIDTH=100"});
    EXPECT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(shown.err, "");
    const std::string name = fs::path(page).stem().string();
    EXPECT_TRUE(Contains(shown.out, "NAME")) << shown.out;
    EXPECT_TRUE(Contains(shown.out, name + " -") || Contains(shown.out, name + " \u2010"))
        << shown.out;
    if (name == "multidl") multidlPage = shown.out;
  }

  const Result help = RunHere({P("bin/multidl"), "--help"});
  ASSERT_EQ(help.status, 0);
  const std::set<std::string> options = LongOptions(help.out);
  ASSERT_GT(options.size(), 30u);
  const Result completion = RunHere(
      {"bash", "-c",
       "source \"$0\" && COMP_WORDS=(multidl --) && COMP_CWORD=1 && _multidl && "
       "printf '%s\\n' \"${COMPREPLY[@]}\"",
       P("share/bash-completion/completions/multidl")});
  ASSERT_EQ(completion.status, 0) << completion.err;
  const std::vector<std::string> completed = Split(completion.out, '\n');
  const std::set<std::string> offered(completed.begin(), completed.end());
  for (const std::string& option : options) {
    EXPECT_TRUE(offered.count(option)) << option << " is not completed";
    EXPECT_TRUE(Contains(multidlPage, option)) << option << " is not in the man page";
  }
}

TEST_F(InstalledPackage, InstalledMultidlLoadsTheInternetLibraryAndReportsWhereItLooked) {
  TempDir site;
  const std::string body = RandomBytes(300000, 3);
  WriteFile(site.File("file.bin"), body);
  NginxServer nginx(dir.File("nginx"), Serving(site.Path()));
  ASSERT_TRUE(nginx.Started());
  const std::string url = nginx.Url("/file.bin");
  const std::string out = dir.File("out.bin");

  const Result fetched = RunHere({P("bin/multidl"), "-q", "-o", out, url});
  EXPECT_EQ(fetched.status, 0) << fetched.Both();
  EXPECT_TRUE(ReadFile(out) == body);

  // A copy beside the program comes first, even one that cannot be loaded.
  WriteFile(P("bin/libinetclient.so"), "not a library");
  const Result broken = RunHere({P("bin/multidl"), "-q", "-o", out, url});
  EXPECT_EQ(broken.status, 3) << broken.Both();
  EXPECT_TRUE(Contains(broken.err, P("bin/libinetclient.so"))) << broken.err;

  fs::remove(P("bin/libinetclient.so"));
  fs::remove(P("lib/libinetclient.so"));
  if (SystemHasInternetLibrary()) GTEST_SKIP() << "the loader finds an installed copy";
  const Result missing = RunHere({P("bin/multidl"), "-q", "-o", out, url});
  EXPECT_EQ(missing.status, 3) << missing.Both();
  EXPECT_TRUE(Contains(missing.err, "The specified module could not be found")) << missing.err;
  EXPECT_TRUE(Contains(missing.err, "looked for in " + P("bin/") + ", " + P("lib/")))
      << missing.err;
}

TEST_F(InstalledPackage, ExamplesBuiltWithFindPackageAndPkgConfigTellSuccessFromA404) {
  const std::string examples = kSource + "/examples";
  const std::string cmakeBuild = dir.File("examples-cmake");
  Result step = RunHere({LIVEUPDATE_CMAKE, "-S", examples, "-B", cmakeBuild, "-G", "Ninja",
                         "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_PREFIX_PATH=" + prefix,
                         std::string("-DCMAKE_CXX_COMPILER=") + LIVEUPDATE_CXX});
  ASSERT_EQ(step.status, 0) << step.Both();
  step = RunHere({LIVEUPDATE_CMAKE, "--build", cmakeBuild});
  ASSERT_EQ(step.status, 0) << step.Both();

  const Result flags = RunHere({"pkg-config", "--cflags", "--libs", "liveupdate"},
                               {"PKG_CONFIG_PATH=" + P("lib/pkgconfig")});
  ASSERT_EQ(flags.status, 0) << flags.err;
  const std::string pkgBuild = dir.File("examples-pkg-config");
  fs::create_directories(pkgBuild);
  for (const std::string name : {"download-one", "segmented-progress"}) {
    std::vector<std::string> compile = {LIVEUPDATE_CXX, "-std=c++20", "-O1",
                                        examples + "/" + name + ".cpp", "-o", pkgBuild + "/" + name};
    for (const std::string& word : Words(flags.out)) compile.push_back(word);
    step = RunHere(compile);
    ASSERT_EQ(step.status, 0) << step.Both();
  }

  TempDir site;
  const std::string first = RandomBytes(400000, 11);
  const std::string second = RandomBytes(150000, 12);
  WriteFile(site.File("first.bin"), first);
  WriteFile(site.File("second.bin"), second);
  NginxServer nginx(dir.File("nginx"), Serving(site.Path()));
  ASSERT_TRUE(nginx.Started());

  for (const std::string& folder : {cmakeBuild, pkgBuild}) {
    // CMake gives its programs a run path to the package's libraries; the
    // pkg-config file leaves that to the user.
    std::vector<std::string> libraryPath;
    if (folder == pkgBuild) libraryPath.push_back("LD_LIBRARY_PATH=" + P("lib"));
    for (const bool found : {true, false}) {
      SCOPED_TRACE(folder + (found ? ": success" : ": 404"));
      const std::string missing = nginx.Url("/no-such.bin");
      const std::string out = dir.File("one.bin");
      fs::remove(out);
      const Result one = RunHere(
          {folder + "/download-one", found ? nginx.Url("/first.bin") : missing, out}, libraryPath);
      EXPECT_EQ(one.status, found ? 0 : 1) << one.Both();
      if (found) {
        EXPECT_TRUE(ReadFile(out) == first);
        EXPECT_TRUE(Contains(one.out, "400000 bytes")) << one.out;
      } else {
        EXPECT_TRUE(Contains(one.err, "download failed: ") && Contains(one.err, "404")) << one.err;
      }

      const std::string files = dir.File(found ? "several-ok" : "several-404");
      fs::remove_all(files);
      const Result several =
          RunHere({folder + "/segmented-progress", files, nginx.Url("/first.bin"),
                   found ? nginx.Url("/second.bin") : missing},
                  libraryPath);
      EXPECT_EQ(several.status, found ? 0 : 1) << several.Both();
      EXPECT_TRUE(ReadFile(files + "/first.bin") == first) << several.out;
      EXPECT_TRUE(Contains(several.out, "first.bin") && Contains(several.out, "100%"))
          << several.out;
      if (found) {
        EXPECT_TRUE(ReadFile(files + "/second.bin") == second);
      } else {
        EXPECT_TRUE(Contains(several.out, "failed  " + missing) && Contains(several.out, "404"))
            << several.out;
      }
    }
  }
}

TEST(DebianPackage, HoldsThePartsUnderUsrWithTheirLibraryDependencies) {
  TempDir dir;
  const Result packed = RunCommand({LIVEUPDATE_CPACK, "-G", "DEB", "--config", kBuild + "/CPackConfig.cmake",
                             "-B", dir.Path()},
                            dir.Path());
  ASSERT_EQ(packed.status, 0) << packed.Both();
  std::string deb;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir.Path())) {
    if (entry.path().extension() == ".deb") deb = entry.path().string();
  }
  ASSERT_TRUE(Contains(fs::path(deb).filename().string(),
                       std::string("liveupdate_") + LIVEUPDATE_VERSION + "_"))
      << deb;

  const Result listing = RunCommand({"dpkg-deb", "-c", deb}, dir.Path());
  ASSERT_EQ(listing.status, 0) << listing.err;
  std::set<std::string> paths;
  for (const std::string& line : Split(listing.out, '\n')) {
    const std::vector<std::string> words = Words(line);
    if (words.size() >= 6) paths.insert(words[5]);
  }
  std::vector<std::string> expected = {
      "./usr/lib/libinetclient.so", "./usr/lib/libcl_platform.so",
      "./usr/lib/pkgconfig/liveupdate.pc", "./usr/lib/cmake/liveupdate/liveupdateConfig.cmake",
      "./usr/include/liveupdate/download/clMultiDownLoader.h", "./usr/share/man/man1/multidl.1",
      "./usr/share/bash-completion/completions/multidl"};
  for (const std::string& program : Split(LIVEUPDATE_PROGRAMS, ',')) expected.push_back("./usr/bin/" + program);
  for (const std::string& path : expected) EXPECT_TRUE(paths.count(path)) << path << "\n" << listing.out;
  for (const std::string& path : paths) {
    EXPECT_TRUE(path == "./" || path.rfind("./usr/", 0) == 0) << path;
  }

  const Result depends = RunCommand({"dpkg-deb", "-f", deb, "Depends"}, dir.Path());
  ASSERT_EQ(depends.status, 0) << depends.err;
  std::vector<std::string> libraries = {"libc6", "libstdc++6", "libcurl4", "zlib1g"};
  if (LIVEUPDATE_WITH_GUI) libraries.push_back("libgtk-3-0");
  for (const std::string& library : libraries)
    EXPECT_TRUE(Contains(depends.out, library + " ")) << depends.out;

  // Stripped, and relocated like an install to a prefix.
  ASSERT_EQ(RunCommand({"dpkg-deb", "-x", deb, dir.File("root")}, dir.Path()).status, 0);
  const std::string multidl = dir.File("root/usr/bin/multidl");
  const Result sections = RunCommand({"readelf", "-S", "-d", multidl}, dir.Path());
  EXPECT_FALSE(Contains(sections.out, ".debug_info"));
  EXPECT_TRUE(Contains(sections.out, "Library runpath: [$ORIGIN/../lib]")) << sections.out;
  EXPECT_FALSE(Contains(sections.out, kBuild));
}

}  // namespace
