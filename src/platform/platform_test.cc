#include <cstdio>
#include <string>

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/dynamic_library.h"
#include "platform/file_system.h"
#include "platform/module_path.h"
#include "platform/threads.h"

#if defined(_WIN32)
#include "platform/debug_output.h"
#else
#include <sched.h>
#endif

namespace vornik {
namespace {

TEST(ModulePath, DirectoryCutsAtTheLastSeparatorAndNamesTheRunningTestProgram) {
  EXPECT_EQ(moduleDirectory("/usr/lib/libvornik.so"), "/usr/lib");
  EXPECT_EQ(moduleDirectory("C:\\Program Files\\Vornik.dll"), "C:\\Program Files");
  EXPECT_EQ(moduleDirectory("C:\\mixed/dir\\Vornik.dll"), "C:\\mixed/dir");
  EXPECT_EQ(moduleDirectory("Vornik.dll"), "Vornik.dll");
  EXPECT_EQ(moduleDirectory(""), "");
  // Linked statically, the module is the test executable itself.
  const std::string path = modulePath();
  EXPECT_NE(path.find("platform_tests"), std::string::npos) << path;
  EXPECT_TRUE(isDirectory(moduleDirectory(path)));
}

TEST(DynamicLibrary, ResolvesASymbolOfTheMathLibraryAndReportsFailures) {
#if defined(_WIN32)
  const char* const mathLibrary = "msvcrt.dll";
  const char* const missingLibrary = "C:\\nonexistent\\nothing.dll";
#else
  const char* const mathLibrary = "libm.so.6";
  const char* const missingLibrary = "/nonexistent/libnothing.so";
#endif
  DynamicLibrary library;
  ASSERT_TRUE(library.open(mathLibrary)) << library.error();
  auto cosine = reinterpret_cast<double (*)(double)>(library.symbol("cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(library.symbol("no_such_symbol_in_libm"), nullptr);
  EXPECT_FALSE(library.error().empty());
  DynamicLibrary missing;
  EXPECT_FALSE(missing.open(missingLibrary));
  EXPECT_FALSE(missing.isOpen());
  EXPECT_FALSE(missing.error().empty());
  EXPECT_EQ(missing.symbol("cos"), nullptr);
}

TEST(Threads, RunAndJoinOrReportAnInjectedFailure) {
  auto routine = [](void* argument) -> void* {
    ++*static_cast<int*>(argument);
    return nullptr;
  };
  int runs = 0;
  ThreadHandle handle;
  failNextThreadCreations(2);
  EXPECT_NE(createThread(&handle, routine, &runs), 0);
  EXPECT_NE(createThread(&handle, routine, &runs), 0);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(createThread(&handle, routine, &runs), 0);
    joinThread(handle);
  }
  EXPECT_EQ(runs, 2);
  EXPECT_NE(createThread(nullptr, routine, &runs), 0);
}

TEST(Threads, CountsTheProcessorsTheAffinityAllows) {
  EXPECT_GE(usableProcessorCount(), 1);
#if !defined(_WIN32)
  cpu_set_t original;
  ASSERT_EQ(sched_getaffinity(0, sizeof(original), &original), 0);
  EXPECT_EQ(usableProcessorCount(), CPU_COUNT(&original));
  int first = 0;
  while (!CPU_ISSET(first, &original)) ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof(one), &one), 0);
  EXPECT_EQ(usableProcessorCount(), 1);
  ASSERT_EQ(sched_setaffinity(0, sizeof(original), &original), 0);
#endif
}

TEST(FileSystem, CreatesOnceOpensUtf8NamesAndTellsDirectoriesFromFiles) {
  const std::string root =
      std::string(VORNIK_BINARY_DIR) + "/platform_test_\xc3\xa9t\xc3\xa9_\xe6\x97\xa5";
  std::filesystem::remove_all(std::filesystem::u8path(root));
  EXPECT_FALSE(isDirectory(root));
  ASSERT_TRUE(createDirectory(root));
  EXPECT_TRUE(createDirectory(root));  // already there: still fine
  EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::u8path(root)));
  const std::string file = root + "/file";
  std::FILE* out = openFile(file, "wb");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(std::fwrite("abc", 1, 3, out), 3u);
  std::fclose(out);
  EXPECT_EQ(std::filesystem::file_size(std::filesystem::u8path(file)), 3u);
  uint64_t size = 0;
  EXPECT_EQ(fileKind(file, &size), FileKind::kRegular);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(fileKind(root, &size), FileKind::kOther);
  EXPECT_EQ(fileKind(root + "/missing", &size), FileKind::kMissing);
  EXPECT_EQ(openFile(root + "/missing/child", "rb"), nullptr);
  EXPECT_FALSE(createDirectory(file));
  EXPECT_FALSE(createDirectory(root + "/missing/child"));
  const struct {
    std::string path;
    bool directory;
  } cases[] = {
      {root, true},         {root + "/", true},   {root + "//", true},        {file, false},
      {root + "/*", false}, {root + "/?", false}, {root + "/missing", false}, {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isDirectory(c.path), c.directory) << c.path;
  std::filesystem::remove_all(std::filesystem::u8path(root));
}

#if defined(_WIN32)
TEST(FileSystem, ADriveRootIsADirectory) {
  EXPECT_TRUE(isDirectory("C:\\"));
  EXPECT_TRUE(isDirectory("C:/"));
}

// The stand-in pthreadVC2.dll's own counts, read from the instance the
// binding loaded.
struct StandInCounts {
  explicit StandInCounts(const std::string& directory) {
    EXPECT_TRUE(library.open(directory + "\\pthreadVC2.dll")) << library.error();
    created = reinterpret_cast<int (*)()>(library.symbol("standInCreated"));
    joined = reinterpret_cast<int (*)()>(library.symbol("standInJoined"));
  }
  DynamicLibrary library;
  int (*created)() = nullptr;
  int (*joined)() = nullptr;
};

class ThreadingBindingTest : public testing::Test {
 protected:
  // What createThread would bind on its own.
  void TearDown() override { bindThreadingLibrary(moduleDirectory(modulePath())); }

  static void* setSeven(void* value) {
    *static_cast<int*>(value) = 7;
    return nullptr;
  }
  static void runOne() {
    int value = 0;
    ThreadHandle handle;
    ASSERT_EQ(createThread(&handle, &setSeven, &value), 0);
    joinThread(handle);
    EXPECT_EQ(value, 7);
  }
};

TEST_F(ThreadingBindingTest, TakesPthreadVC2OnlyWhenItIsThereAndComplete) {
  struct Case {
    std::string directory;
    ThreadingLibrary library;
  };
  const Case cases[] = {
      {VORNIK_PTHREADVC2_DIR, ThreadingLibrary::pthreadVC2},
      {VORNIK_PTHREADVC2_BROKEN_DIR, ThreadingLibrary::mingw},
      {std::string(VORNIK_BINARY_DIR) + "\\no-such-folder", ThreadingLibrary::mingw},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.directory);
    EXPECT_EQ(bindThreadingLibrary(c.directory), c.library);
    runOne();
  }
}

TEST_F(ThreadingBindingTest, PthreadVC2HandlesReachJoinIntactEvenAfterARebinding) {
  ASSERT_EQ(bindThreadingLibrary(VORNIK_PTHREADVC2_DIR), ThreadingLibrary::pthreadVC2);
  StandInCounts counts(VORNIK_PTHREADVC2_DIR);
  ASSERT_NE(counts.created, nullptr);
  const int createdBefore = counts.created();
  const int joinedBefore = counts.joined();
  runOne();
  EXPECT_EQ(counts.created(), createdBefore + 1);
  EXPECT_EQ(counts.joined(), joinedBefore + 1);

  // Started through pthreadVC2, joined after the MinGW library was bound:
  // still its own library's join.
  int value = 0;
  ThreadHandle handle;
  ASSERT_EQ(createThread(&handle, &setSeven, &value), 0);
  ASSERT_EQ(bindThreadingLibrary(VORNIK_PTHREADVC2_BROKEN_DIR), ThreadingLibrary::mingw);
  joinThread(handle);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(counts.joined(), joinedBefore + 2);
}
#endif

}  // namespace
}  // namespace vornik
