#include "api/EmptyResponse.h"
#include "api/HealthCheckRequest.h"
#include "api/PrivilegedOperationError.h"
#include "ipc/HandshakePayload.h"
#include "ipc/PayloadTypeName.h"
#include "ipc/Result.h"

#include <gtest/gtest.h>

namespace ipc {
namespace {

TEST(PayloadTypeNameTest, DropsOnlyTheLeadingModule) {
  EXPECT_EQ(payloadTypeNameOf("PrivilegedOperationServiceAPI.HealthCheckRequest"),
            "HealthCheckRequest");
  EXPECT_EQ(payloadTypeNameOf("Module.Outer.Inner"), "Outer.Inner");
  EXPECT_EQ(payloadTypeNameOf("NoModule"), "NoModule");
  EXPECT_EQ(payloadTypeNameOf("A..B."), "B");
  EXPECT_EQ(payloadTypeNameOf(".Alone"), ".Alone");
  EXPECT_EQ(payloadTypeNameOf(""), "");
}

TEST(PayloadTypeNameTest, NamesOfTheSystemsTypes) {
  EXPECT_EQ(payloadTypeName<api::HealthCheckRequest>(), "HealthCheckRequest");
  EXPECT_EQ(payloadTypeName<HandshakePayload>(), "HandshakePayload");
  EXPECT_EQ(payloadTypeName<HandshakePayload::Errors>(), "HandshakePayload.Errors");
  EXPECT_EQ(payloadTypeName<bool>(), "Bool");
  EXPECT_EQ(payloadTypeName<platform::Bytes>(), "Data");
  EXPECT_EQ((payloadTypeName<Result<bool, api::PrivilegedOperationError>>()),
            "Result<Swift.Bool, PrivilegedOperationServiceAPI.PrivilegedOperationError>");
  EXPECT_EQ((payloadTypeName<Result<api::EmptyResponse, api::PrivilegedOperationError>>()),
            "Result<PrivilegedOperationServiceAPI.EmptyResponse, "
            "PrivilegedOperationServiceAPI.PrivilegedOperationError>");
  EXPECT_EQ((reflectingName<Result<platform::Bytes, std::string>>()),
            "Swift.Result<Foundation.Data, Swift.String>");
}

TEST(ResultCodingTest, TriesSuccessThenFailure) {
  using BoolResult = Result<bool, api::PrivilegedOperationError>;
  const auto& decoder = platform::sharedJSONDecoder();
  EXPECT_EQ(decoder.decode<BoolResult>(R"({"success":false})"), BoolResult::success(false));
  // A "success" of the wrong type falls through to "failure".
  EXPECT_EQ(decoder.decode<BoolResult>(
                R"({"success":"x","failure":{"code":1,"domain":"D","description":"T"}})"),
            BoolResult::failure({1, "D", "T"}));
  EXPECT_EQ(platform::sharedJSONEncoder().encode(BoolResult::success(true)), R"({"success":true})");
  try {
    decoder.decode<BoolResult>(R"({"failure":{"code":1}})");
    ADD_FAILURE();
  } catch (const platform::DecodingError& error) {
    EXPECT_EQ(error.kind(), platform::DecodingError::Kind::dataCorrupted);
    EXPECT_EQ(error.debugDescription().rfind("error value dump ", 0), 0u);
  }
  EXPECT_THROW(decoder.decode<BoolResult>("[true]"), platform::DecodingError);
  // Huge replies do not make a huge error text.
  std::string big = R"({"other":")" + std::string(100000, 'a') + R"("})";
  try {
    decoder.decode<BoolResult>(big);
  } catch (const platform::DecodingError& error) {
    EXPECT_LT(error.debugDescription().size(), 1024u);
  }
}

TEST(ResultCodingTest, SameTypeOnBothSides) {
  using Same = Result<std::string, std::string>;
  EXPECT_FALSE(Same::failure("x").isSuccess());
  EXPECT_NE(Same::failure("x"), Same::success("x"));
  EXPECT_EQ(platform::sharedJSONDecoder().decode<Same>(R"({"failure":"x"})"), Same::failure("x"));
}

} // namespace
} // namespace ipc
