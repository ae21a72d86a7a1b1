#include "ipc/XPCProtocolError.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <unordered_set>

namespace ipc {
namespace {

using platform::DecodingError;

XPCProtocolError decodeError(std::string_view json) {
  return platform::sharedJSONDecoder().decode<XPCProtocolError>(json);
}

TEST(XPCProtocolErrorTest, UnauthorizedRoundTrip) {
  EXPECT_EQ(platform::sharedJSONEncoder().encode(XPCProtocolError::unauthorized()),
            R"({"unauthorized":{}})");
  EXPECT_EQ(decodeError(R"({"unauthorized":{}})"), XPCProtocolError::unauthorized());
}

TEST(XPCProtocolErrorTest, ExactlyOneCaseKeyIsRequired) {
  for (std::string_view json :
       {R"({"timeout":{},"unknown":{}})", R"({})", R"({"other":{}})", R"({"Timeout":{},"x":1})"}) {
    try {
      decodeError(json);
      ADD_FAILURE() << json;
    } catch (const DecodingError& error) {
      EXPECT_EQ(error.kind(), DecodingError::Kind::typeMismatch);
      EXPECT_EQ(error.debugDescription(), "Invalid number of keys found, expected one.");
    }
  }
  // Keys that name no case are not counted.
  EXPECT_EQ(decodeError(R"({"timeout":{},"extra":{"unknown":{}}})"), XPCProtocolError::timeout());
}

TEST(XPCProtocolErrorTest, OneKeyErrorInsideAMessageCarriesTheCodingPath) {
  try {
    platform::json::Value document = platform::json::parse(R"({"error":{}})");
    platform::json::Decoder(document).decode<XPCProtocolError>("error");
    ADD_FAILURE();
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.codingPath(), std::vector<std::string>{"error"});
  }
}

TEST(XPCProtocolErrorTest, CaseValuesAreTypeChecked) {
  EXPECT_EQ(decodeError(R"({"invalidPayloadType":{"exp":"A"}})"),
            XPCProtocolError::invalidPayloadType(std::nullopt, "A"));
  EXPECT_THROW(decodeError(R"({"invalidPayloadType":{"act":"A"}})"), DecodingError);
  EXPECT_THROW(decodeError(R"({"messageTypeMismatch":{"act":"5","exp":4}})"), DecodingError);
  EXPECT_THROW(decodeError(R"({"protocolVersionMismatch":{}})"), DecodingError);
  EXPECT_THROW(decodeError(R"({"unauthorized":[]})"), DecodingError);
  EXPECT_THROW(decodeError(R"({"sequenceIsNotRunning":{"_0":"nope"}})"), DecodingError);
  EXPECT_THROW(
      decodeError(
          R"({"unsupportedRequest":{"_0":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","flags":1}})"),
      DecodingError);
}

TEST(XPCProtocolErrorTest, ConversionOfAnyFailure) {
  EXPECT_EQ(XPCProtocolError::from(XPCProtocolError::timeout()), XPCProtocolError::timeout());
  EXPECT_EQ(XPCProtocolError::from(std::make_exception_ptr(XPCProtocolError::missingPayload())),
            XPCProtocolError::missingPayload());
  EXPECT_EQ(XPCProtocolError::from(std::runtime_error("boom")),
            XPCProtocolError::underlyingError("boom"));
  EXPECT_EQ(XPCProtocolError::from(DecodingError(DecodingError::Kind::keyNotFound, {}, "x")),
            XPCProtocolError::underlyingError("The data couldn’t be read because it is missing."));
  EXPECT_EQ(
      XPCProtocolError::from(std::make_exception_ptr(platform::NSErrorException(
          platform::NSError("D", 7, {{platform::NSLocalizedDescriptionKey, std::string("T")}})))),
      XPCProtocolError::underlyingError("T"));
}

TEST(XPCProtocolErrorTest, BridgesWithItsCaseIndex) {
  platform::NSError error = XPCProtocolError::timeout().toNSError();
  EXPECT_EQ(error.domain(), "IPCProtocol_Static.XPCProtocolError");
  EXPECT_EQ(error.code(), 7);
  EXPECT_EQ(XPCProtocolError::unknown().localizedDescription(),
            "The operation couldn’t be completed. (IPCProtocol_Static.XPCProtocolError error 12.)");
  EXPECT_EQ(XPCProtocolError::underlyingError("x").caseName(), "underlyingError");
}

TEST(XPCProtocolErrorTest, DescriptionsForLogLines) {
  EXPECT_EQ(XPCProtocolError::timeout().description(), "timeout");
  EXPECT_EQ(XPCProtocolError::messageTypeMismatch({2}, {4}).description(),
            "messageTypeMismatch(act: IPCProtocol_Static.XPCMessage.Flag(rawValue: 2), "
            "exp: IPCProtocol_Static.XPCMessage.Flag(rawValue: 4))");
  EXPECT_EQ(XPCProtocolError::invalidPayloadType(std::nullopt, "B").description(),
            "invalidPayloadType(act: nil, exp: \"B\")");
  EXPECT_EQ(XPCProtocolError::protocolVersionMismatch(2).description(),
            "protocolVersionMismatch(2)");
}

TEST(XPCProtocolErrorTest, EqualityAndHashingFollowCaseAndValues) {
  EXPECT_NE(XPCProtocolError::protocolVersionMismatch(2),
            XPCProtocolError::protocolVersionMismatch(3));
  EXPECT_NE(XPCProtocolError::missingPayload(), XPCProtocolError::missingSequenceID());
  std::unordered_set<XPCProtocolError> set{XPCProtocolError::timeout(), XPCProtocolError::timeout(),
                                           XPCProtocolError::underlyingError("a")};
  EXPECT_EQ(set.size(), 2u);
}

} // namespace
} // namespace ipc
