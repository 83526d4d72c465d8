#include <cstdio>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/dynamic_library.h"
#include "platform/file_system.h"
#include "platform/module_path.h"
#include "platform/threads.h"

namespace vornik {
namespace {

TEST(ModulePath, DirectoryCutsAtTheLastSeparatorOfEitherKind) {
  EXPECT_EQ(moduleDirectory("/usr/lib/libvornik.so"), "/usr/lib");
  EXPECT_EQ(moduleDirectory("C:\\Program Files\\Vornik.dll"), "C:\\Program Files");
  EXPECT_EQ(moduleDirectory("C:\\mixed/dir\\Vornik.dll"), "C:\\mixed/dir");
  EXPECT_EQ(moduleDirectory("Vornik.dll"), "Vornik.dll");
  EXPECT_EQ(moduleDirectory(""), "");
}

TEST(ModulePath, NamesTheRunningTestProgram) {
  // Linked statically, the module is the test executable itself.
  const std::string path = modulePath();
  ASSERT_FALSE(path.empty());
  EXPECT_NE(path.find("platform_tests"), std::string::npos) << path;
  EXPECT_TRUE(isDirectory(moduleDirectory(path)));
}

TEST(DynamicLibrary, ResolvesASymbolOfTheMathLibraryAndReportsFailures) {
  DynamicLibrary library;
  ASSERT_TRUE(library.open("libm.so.6")) << library.error();
  using CosFunction = double (*)(double);
  auto cosine = reinterpret_cast<CosFunction>(library.symbol("cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(library.symbol("no_such_symbol_in_libm"), nullptr);
  EXPECT_FALSE(library.error().empty());

  DynamicLibrary missing;
  EXPECT_FALSE(missing.open("/nonexistent/libnothing.so"));
  EXPECT_FALSE(missing.isOpen());
  EXPECT_FALSE(missing.error().empty());
  EXPECT_EQ(missing.symbol("cos"), nullptr);
}

TEST(Threads, RunAndJoinOrReportAnInjectedFailure) {
  int value = 0;
  ThreadHandle handle;
  auto routine = [](void* argument) -> void* {
    *static_cast<int*>(argument) = 7;
    return nullptr;
  };
  ASSERT_EQ(createThread(&handle, routine, &value), 0);
  joinThread(handle);
  EXPECT_EQ(value, 7);

  failNextThreadCreations(2);
  value = 0;
  EXPECT_NE(createThread(&handle, routine, &value), 0);
  EXPECT_NE(createThread(&handle, routine, &value), 0);
  ASSERT_EQ(createThread(&handle, routine, &value), 0);
  joinThread(handle);
  EXPECT_EQ(value, 7);
  EXPECT_NE(createThread(nullptr, routine, &value), 0);
}

TEST(FileSystem, CreatesOnceAndTellsDirectoriesFromFiles) {
  const std::string root = std::string(VORNIK_BINARY_DIR) + "/platform_test_dir";
  std::remove((root + "/file").c_str());
  ::rmdir(root.c_str());
  EXPECT_FALSE(isDirectory(root));
  EXPECT_TRUE(createDirectory(root));
  EXPECT_TRUE(createDirectory(root));  // already there: still fine
  EXPECT_TRUE(isDirectory(root));

  const std::string file = root + "/file";
  std::FILE* out = std::fopen(file.c_str(), "w");
  ASSERT_NE(out, nullptr);
  std::fclose(out);
  EXPECT_FALSE(isDirectory(file));
  EXPECT_FALSE(createDirectory(file));
  EXPECT_FALSE(createDirectory(root + "/missing/child"));
  EXPECT_FALSE(isDirectory(""));
  std::remove(file.c_str());
  ::rmdir(root.c_str());
}

}  // namespace
}  // namespace vornik
