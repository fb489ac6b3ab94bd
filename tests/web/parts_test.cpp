// The small rules of the page's server: queries, asset names, the token
// comparison, and the options an operation request carries.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/tool_error.h"
#include "web/assets.h"
#include "web/gui.h"
#include "web/operation_request.h"
#include "web/request_guard.h"

namespace orvik::tool::web {
namespace {

namespace fs = std::filesystem;

struct QueryCase {
  std::string target, name, value;
};

class QueryTest : public ::testing::TestWithParam<QueryCase> {};

TEST_P(QueryTest, FindsTheDecodedParameter) {
  HttpRequest request;
  request.target = GetParam().target;
  EXPECT_EQ(request.Query(GetParam().name), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, QueryTest,
    ::testing::Values(QueryCase{"/api/versions?manifest=%2Fa%20b%2Fm.json", "manifest",
                                "/a b/m.json"},
                      QueryCase{"/x?token=abc&manifest=m+n", "manifest", "m n"},
                      QueryCase{"/x?mani=1&manifest=2", "manifest", "2"},
                      QueryCase{"/x?manifest", "manifest", ""}, QueryCase{"/x", "manifest", ""},
                      QueryCase{"/x?manifest=100%", "manifest", "100%"},
                      QueryCase{"/x?manifest=%zz%4", "manifest", "%zz%4"},
                      QueryCase{"/x?a=%00b", "a", std::string("\0b", 2)}));

struct NameCase {
  std::string path, name;  // name "" : not an asset
};

class AssetNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(AssetNameTest, NamesOnlyPlainFilesOfTheFolder) {
  EXPECT_EQ(AssetName(GetParam().path), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, AssetNameTest,
    ::testing::Values(NameCase{"/", "index.html"}, NameCase{"/app.js", "app.js"},
                      NameCase{"/style-2_b.css", "style-2_b.css"}, NameCase{"/../secret", ""},
                      NameCase{"/..", ""}, NameCase{"/.hidden", ""}, NameCase{"/a/b.js", ""},
                      NameCase{"/a\\b.js", ""}, NameCase{"/%2e%2e%2fx", ""}, NameCase{"", ""},
                      NameCase{"app.js", ""}, NameCase{"//etc/passwd", ""}));

TEST(AssetSourceTest, TheEmbeddedPageIsWholeAndTyped) {
  const AssetSource embedded;
  for (const char* name : {"/", "/app.js", "/style.css"}) {
    std::optional<AssetFile> file = embedded.Find(name);
    ASSERT_TRUE(file.has_value()) << name;
    EXPECT_FALSE(file->bytes.empty());
  }
  EXPECT_EQ(embedded.Find("/")->contentType, "text/html; charset=utf-8");
  // Byte for byte the file of the source tree.
  std::ifstream source(std::string(ORVIK_SOURCE_DIR) + "/tools/web/assets/app.js",
                       std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(source)),
                          std::istreambuf_iterator<char>());
  EXPECT_EQ(embedded.Find("/app.js")->bytes, bytes);
  EXPECT_FALSE(embedded.Find("/missing.js").has_value());
}

TEST(AssetSourceTest, AFolderIsServedWithoutLeavingIt) {
  const fs::path root = fs::temp_directory_path() / ("orvik-assets-" + std::to_string(::getpid()));
  fs::create_directories(root / "page");
  std::ofstream(root / "page" / "index.html") << "<p>edited</p>";
  std::ofstream(root / "secret.txt") << "not for the page";
  fs::create_symlink(root / "secret.txt", root / "page" / "leak.txt");
  const AssetSource folder((root / "page").string());
  EXPECT_EQ(folder.Find("/")->bytes, "<p>edited</p>");
  EXPECT_FALSE(folder.Find("/leak.txt").has_value());
  EXPECT_FALSE(folder.Find("/../secret.txt").has_value());
  EXPECT_THROW(AssetSource((root / "nothing").string()), ToolError);
  fs::remove_all(root);
}

TEST(SameSecretTest, OnlyTheWholeTokenMatches) {
  EXPECT_TRUE(SameSecret("abc123", "abc123"));
  for (const char* given : {"", "abc12", "abc1234", "abc124", "ABC123", "xbc123"})
    EXPECT_FALSE(SameSecret(given, "abc123")) << given;
}

TEST(AccessTokenTest, IsLongAndNewEachRun) {
  const std::string first = NewAccessToken(), second = NewAccessToken();
  EXPECT_EQ(first.size(), 64u);
  EXPECT_EQ(first.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(first, second);
}

TEST(OperationRequestTest, ReadsTheOptionsAndRefusesWhatCannotRun) {
  const OperationRequest reflash = ReadOperationRequest(
      "reflash", R"({"manifest": "m.json", "file": "b.img", "backupFirst": false, "token": "t"})");
  EXPECT_EQ(reflash.manifest, "m.json");
  EXPECT_EQ(reflash.file, "b.img");
  EXPECT_FALSE(reflash.backupFirst);
  EXPECT_TRUE(ReadOperationRequest("fix", "").backupFirst);
  EXPECT_TRUE(ReadOperationRequest("backup", R"({"file": null})").file.empty());
  for (const auto& [name, body] :
       std::vector<std::pair<std::string, std::string>>{{"update", "{}"},
                                                        {"reflash", R"({"manifest": ""})"},
                                                        {"restore", "{}"},
                                                        {"fix", R"({"manifest": 7})"},
                                                        {"fix", "\"fix\""},
                                                        {"fix", "{"}})
    EXPECT_THROW(ReadOperationRequest(name, body), BadRequest) << name << " " << body;
}

}  // namespace
}  // namespace orvik::tool::web
