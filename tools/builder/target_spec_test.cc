#include "builder/target_spec.h"

#include <cJSON.h>
#include <gtest/gtest.h>

namespace vornik {
namespace {

TEST(TargetName, RejectsNamesTheLibraryCannotReportOrFind) {
  EXPECT_EQ(targetNameProblem("poster_01"), "");
  EXPECT_EQ(targetNameProblem("Plakat Größe-2"), "");  // spaces and UTF-8 bytes are fine
  EXPECT_NE(targetNameProblem(""), "");
  EXPECT_NE(targetNameProblem("poster.v2"), "");  // the entry name is cut at the first "."
  EXPECT_NE(targetNameProblem("say\"hi"), "");    // would end the quoted result text early
  EXPECT_NE(targetNameProblem("back\\slash"), "");
  EXPECT_NE(targetNameProblem("tab\there"), "");
  EXPECT_EQ(targetNameProblem(std::string(250, 'a')), "");
  EXPECT_NE(targetNameProblem(std::string(251, 'a')), "");  // "name.json" would exceed 255 bytes
  // The default name is the file stem.
  EXPECT_EQ(fileStem("C:\\img\\shop.front.png"), "shop.front");
  EXPECT_EQ(fileStem("dir.d/.hidden"), ".hidden");
}

TEST(InfoJson, EscapedNamesParseBackUnchanged) {
  for (const std::string& name :
       {std::string("Shop \"Front\" \\ poster"), std::string("two\nlines\t\x01"),
        std::string("Größe 日本"), std::string("")}) {
    const std::string json = makeInfoJson(name);
    cJSON* root = cJSON_Parse(json.c_str());
    ASSERT_NE(root, nullptr) << json;
    const cJSON* item = cJSON_GetObjectItem(root, "TrackableName");
    ASSERT_TRUE(cJSON_IsString(item));
    EXPECT_EQ(std::string(item->valuestring), name);
    cJSON_Delete(root);
  }
  EXPECT_EQ(makeInfoJson("a\"b"), "{\"TrackableName\":\"a\\\"b\"}");
}

}  // namespace
}  // namespace vornik
