#include "api/Requests.h"

#include <gtest/gtest.h>

namespace api {
namespace {

using platform::DecodingError;

template <class T> std::string encode(const T& value) {
  return platform::sharedJSONEncoder().encode(value);
}
template <class T> T decode(std::string_view json) {
  return platform::sharedJSONDecoder().decode<T>(json);
}

platform::URL url(std::string_view text) {
  return *platform::URL::fromString(text);
}

static_assert(PrivilegedOperationRequest<FileSizeRequest>);
static_assert(std::same_as<FileSizeRequest::ResponseType, uint64_t>);
static_assert(std::same_as<PrivilegedAccessTaskRequest::ResponseType, platform::Bytes>);
static_assert(std::same_as<HealthCheckRequest::ResponseType, HealthCheckResponse>);
static_assert(EmptyPrivilegedOperationRequest<TerminateRequest>);
static_assert(EmptyPrivilegedOperationRequest<RemovePackageReceiptRequest>);
static_assert(!PrivilegedOperationRequest<TerminateRequest>);
static_assert(!PrivilegedOperationRequest<RepairDiskPermissionsRequest>);
static_assert(!EmptyPrivilegedOperationRequest<RepairDiskPermissionsRequest>);
static_assert(!std::equality_comparable<RepairDiskPermissionsRequest>);

template <class T> void expectEmptyRecord() {
  EXPECT_EQ(encode(T{}), "{}");
  EXPECT_NO_THROW(decode<T>("{}"));
  EXPECT_NO_THROW(decode<T>(R"({"url":"file:\/\/\/x","anything":[1,{"b":null}]})"));
  EXPECT_THROW(decode<T>("[]"), DecodingError);
}

TEST(RequestCatalogTest, RecordsWithoutFieldsAreEmptyObjects) {
  expectEmptyRecord<TerminateRequest>();
  expectEmptyRecord<PrivilegedAgentRemoveRequest>();
  expectEmptyRecord<FlushDNSCacheRequest>();
  expectEmptyRecord<HealthCheckRequest>();
  expectEmptyRecord<RemoveDiagnosticsLogsRequest>();
  expectEmptyRecord<RemoveASLLogsRequest>();
  expectEmptyRecord<ReindexSpotlightRequest>();
  expectEmptyRecord<EmptyResponse>();
}

TEST(RequestCatalogTest, JSONShapeOfEveryRecordWithFields) {
  auto fileURL = url("file:///Users/me/Library/a%20b.plist");
  const std::string urlJSON = R"({"url":"file:\/\/\/Users\/me\/Library\/a%20b.plist"})";
  EXPECT_EQ(encode(RemoveBrokenStartupItemRequests{fileURL}), urlJSON);
  EXPECT_EQ(encode(FileExistsRequest{fileURL}), urlJSON);
  EXPECT_EQ(encode(RemoveFileRequest{fileURL}), urlJSON);
  EXPECT_EQ(encode(TruncateFileRequest{fileURL}), urlJSON);
  EXPECT_EQ(encode(FileSizeRequest{fileURL}), urlJSON);
  EXPECT_EQ(encode(RemoveLaunchAgentRequest{fileURL}), urlJSON);
  EXPECT_EQ(decode<RemoveLaunchAgentRequest>(urlJSON), RemoveLaunchAgentRequest{fileURL});

  EXPECT_EQ(encode(FileMoveRequest{"/a", "/b"}), R"({"destination":"\/b","source":"\/a"})");
  EXPECT_EQ(decode<FileMoveRequest>(R"({"source":"/a","destination":"/b","x":1})"),
            (FileMoveRequest{"/a", "/b"}));
  EXPECT_EQ(
      encode(BinaryThinningRequest{fileURL, "x86_64"}),
      R"({"compatibleArchitecture":"x86_64","url":"file:\/\/\/Users\/me\/Library\/a%20b.plist"})");
  EXPECT_EQ(encode(RemovePackageReceiptRequest{"com.example.pkg"}),
            R"({"packageID":"com.example.pkg"})");
  EXPECT_EQ(encode(PeriodicScriptRequest{"daily"}), R"({"script":"daily"})");
  EXPECT_EQ(encode(PrivilegedAccessTaskRequest{{0xFF, 0x00, 0x10}}), R"({"taskData":"\/wAQ"})");
  EXPECT_EQ(decode<PrivilegedAccessTaskRequest>(R"({"taskData":"/wAQ"})").taskData,
            (platform::Bytes{0xFF, 0x00, 0x10}));
  EXPECT_EQ(encode(RepairDiskPermissionsRequest{"501"}), R"({"userId":"501"})");
  EXPECT_EQ(decode<RepairDiskPermissionsRequest>(R"({"userId":"501"})").userId, "501");
  EXPECT_EQ(encode(AddUserToAllowedList{501}), R"({"uid":501})");
  EXPECT_EQ(decode<AddUserToAllowedList>(R"({"uid":4294967295})").uid, 4294967295u);
}

TEST(RequestCatalogTest, MissingOrMistypedFieldsFail) {
  auto expectFailure = [](auto decodeCall, DecodingError::Kind kind) {
    try {
      decodeCall();
      ADD_FAILURE();
    } catch (const DecodingError& error) {
      EXPECT_EQ(error.kind(), kind);
    }
  };
  expectFailure([] { decode<FileSizeRequest>("{}"); }, DecodingError::Kind::keyNotFound);
  expectFailure([] { decode<FileSizeRequest>(R"({"url":7})"); }, DecodingError::Kind::typeMismatch);
  expectFailure([] { decode<FileSizeRequest>(R"({"url":""})"); },
                DecodingError::Kind::dataCorrupted);
  expectFailure([] { decode<FileMoveRequest>(R"({"source":"/a"})"); },
                DecodingError::Kind::keyNotFound);
  expectFailure([] { decode<AddUserToAllowedList>(R"({"uid":4294967296})"); },
                DecodingError::Kind::dataCorrupted);
  expectFailure([] { decode<AddUserToAllowedList>(R"({"uid":-1})"); },
                DecodingError::Kind::dataCorrupted);
  expectFailure([] { decode<PrivilegedAccessTaskRequest>(R"({"taskData":"abc"})"); },
                DecodingError::Kind::dataCorrupted);
  expectFailure([] { decode<RepairDiskPermissionsRequest>(R"({"userId":null})"); },
                DecodingError::Kind::valueNotFound);
}

TEST(RequestCatalogTest, HealthCheckResponseCarriesSecondsSince2001) {
  HealthCheckResponse response{platform::Date::fromTimeIntervalSinceReferenceDate(1.5), "5.3.1"};
  EXPECT_EQ(encode(response), R"({"timestamp":1.5,"version":"5.3.1"})");
  EXPECT_EQ(decode<HealthCheckResponse>(R"({"timestamp":1.5,"version":"5.3.1"})"), response);
  EXPECT_THROW(decode<HealthCheckResponse>(R"({"timestamp":"now","version":"5.3.1"})"),
               DecodingError);
}

} // namespace
} // namespace api
