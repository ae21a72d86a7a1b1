#include "api/FileSizeRequest.h"
#include "api/PrivilegedOperationError.h"
#include "ipc/HandshakePayload.h"
#include "ipc/Result.h"
#include "ipc/XPCMessageJSONEncoder.h"
#include "ipc/XPCMessageMapper.h"

#include <gtest/gtest.h>

namespace ipc {
namespace {

using platform::Bytes;
using platform::UUID;

const UUID kSequence = *UUID::fromString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");

std::string text(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::string encoded(const XPCMessage& message) {
  return text(XPCMessageJSONEncoder().encode(message));
}

XPCMessage decoded(std::string_view bytes) {
  return XPCMessageJSONEncoder().decode(bytes);
}

XPCProtocolError decodeFailure(std::string_view bytes) {
  try {
    decoded(bytes);
  } catch (const XPCProtocolError& error) {
    return error;
  }
  ADD_FAILURE() << "decoded without error: " << bytes;
  return XPCProtocolError::unknown();
}

std::string payloadMessage(const std::string& payloadJSON, const std::string& type, int flags,
                           const std::string& extra = "") {
  return R"({"binaryPayload":{"data":")" + platform::base64Encode(payloadJSON) +
         R"(","encodedType":")" + type + R"("},"flags":)" + std::to_string(flags) + extra +
         R"(,"version":1})";
}

TEST(XPCMessageTest, HandshakeRequestBytes) {
  HandshakePayload payload{*platform::URL::fromString("file:///Applications/Lumora.app/"),
                           "com.quillby.Lumora5", "5.3.1", Bytes{1, 2, 3}};
  XPCMessage message = XPCMessageMapper().makeMessage(payload);
  message.flags = XPCMessage::Flag::handshake();

  std::string payloadJSON =
      R"({"bookmark":"AQID","bundleID":"com.quillby.Lumora5",)"
      R"("bundleURL":"file:\/\/\/Applications\/Lumora.app\/","version":"5.3.1"})";
  EXPECT_EQ(encoded(message), payloadMessage(payloadJSON, "HandshakePayload", 32));
  EXPECT_EQ(decoded(encoded(message)), message);
  EXPECT_EQ(XPCMessageMapper().decodePayload<HandshakePayload>(decoded(encoded(message))), payload);
}

TEST(XPCMessageTest, SimpleRequestAndRepliesBytes) {
  XPCMessageMapper mapper;
  api::FileSizeRequest request{*platform::URL::fromString("file:///tmp/a%20b")};
  XPCMessage message = mapper.makeMessage(request);
  EXPECT_EQ(encoded(message),
            payloadMessage(R"({"url":"file:\/\/\/tmp\/a%20b"})", "FileSizeRequest", 4));

  using SizeResult = Result<uint64_t, api::PrivilegedOperationError>;
  const std::string resultName =
      "Result<Swift.UInt64, PrivilegedOperationServiceAPI.PrivilegedOperationError>";
  EXPECT_EQ(encoded(mapper.makeMessage(SizeResult::success(1234))),
            payloadMessage(R"({"success":1234})", resultName, 4));

  auto failure = SizeResult::failure({2, "NSPOSIXErrorDomain", "No such file"});
  XPCMessage reply = mapper.makeMessage(failure);
  EXPECT_EQ(
      encoded(reply),
      payloadMessage(
          R"({"failure":{"code":2,"description":"No such file","domain":"NSPOSIXErrorDomain"}})",
          resultName, 4));
  EXPECT_EQ(mapper.decodePayload<SizeResult>(decoded(encoded(reply))), failure);
}

TEST(XPCMessageTest, SequenceMessagesBytes) {
  XPCMessageMapper mapper;
  XPCMessage element = mapper.makeMessage(true, kSequence);
  EXPECT_EQ(
      encoded(element),
      payloadMessage("true", "Bool", 5, R"(,"sequenceID":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F")"));
  EXPECT_EQ(decoded(encoded(element)), element);

  XPCMessage finished = XPCMessage::acknowledge();
  finished.flags = XPCMessage::Flag::sequence() | XPCMessage::Flag::acknowledge();
  finished.sequenceID = kSequence;
  EXPECT_EQ(encoded(finished),
            R"({"flags":3,"sequenceID":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","version":1})");
  EXPECT_EQ(encoded(XPCMessage::acknowledge()), R"({"flags":2,"version":1})");
  EXPECT_EQ(
      encoded(XPCMessage::errorReply(XPCProtocolError::timeout(), kSequence)),
      R"({"error":{"timeout":{}},"flags":9,"sequenceID":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","version":1})");
}

TEST(XPCMessageTest, ErrorReplyForEveryCase) {
  const XPCIdentifier<XPCConnectionType> connection(kSequence);
  const std::vector<std::pair<XPCProtocolError, std::string>> cases = {
      {XPCProtocolError::unauthorized(), R"({"unauthorized":{}})"},
      {XPCProtocolError::protocolVersionMismatch(2), R"({"protocolVersionMismatch":{"_0":2}})"},
      {XPCProtocolError::mailformedTransportMessage("bad/json"),
       R"({"mailformedTransportMessage":{"_0":"bad\/json"}})"},
      {XPCProtocolError::messageTypeMismatch({5}, {4}),
       R"({"messageTypeMismatch":{"act":5,"exp":4}})"},
      {XPCProtocolError::invalidPayloadType("FileSizeRequest", "RemoveFileRequest"),
       R"({"invalidPayloadType":{"act":"FileSizeRequest","exp":"RemoveFileRequest"}})"},
      {XPCProtocolError::invalidPayloadType(std::nullopt, "HandshakePayload"),
       R"({"invalidPayloadType":{"exp":"HandshakePayload"}})"},
      {XPCProtocolError::missingPayload(), R"({"missingPayload":{}})"},
      {XPCProtocolError::missingSequenceID(), R"({"missingSequenceID":{}})"},
      {XPCProtocolError::timeout(), R"({"timeout":{}})"},
      {XPCProtocolError::sequenceIsNotRunning(kSequence),
       R"({"sequenceIsNotRunning":{"_0":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"}})"},
      {XPCProtocolError::unsupportedRequest(connection, {64}),
       R"({"unsupportedRequest":{"_0":{"rawValue":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"},"flags":64}})"},
      {XPCProtocolError::missingRequestHandler("FileSizeRequest", {4}),
       R"({"missingRequestHandler":{"_0":"FileSizeRequest","flag":4}})"},
      {XPCProtocolError::underlyingError("boom"), R"({"underlyingError":{"_0":"boom"}})"},
      {XPCProtocolError::unknown(), R"({"unknown":{}})"},
  };
  for (const auto& [error, json] : cases) {
    XPCMessage reply = XPCMessage::errorReply(error);
    std::string bytes = encoded(reply);
    EXPECT_EQ(bytes, R"({"error":)" + json + R"(,"flags":8,"version":1})");
    EXPECT_EQ(decoded(bytes), reply) << json;
    EXPECT_EQ(encoded(decoded(bytes)), bytes) << "encoding is deterministic";
  }
}

TEST(XPCMessageTest, VersionIsCheckedBeforeAnythingElse) {
  EXPECT_EQ(decodeFailure(R"({"version":2,"flags":"garbage","error":[1,2]})"),
            XPCProtocolError::protocolVersionMismatch(2));
  EXPECT_EQ(decodeFailure(R"({"version":-7})"), XPCProtocolError::protocolVersionMismatch(-7));
  EXPECT_EQ(decodeFailure(R"({"version":0,"flags":4})"),
            XPCProtocolError::protocolVersionMismatch(0));
}

TEST(XPCMessageTest, MalformedMessagesBecomeMailformedTransportMessage) {
  const std::string corrupt = "The data couldn’t be read because it isn’t in the correct format.";
  const std::string missing = "The data couldn’t be read because it is missing.";
  const std::vector<std::pair<std::string, std::string>> inputs = {
      {"not json", corrupt},
      {"", corrupt},
      {R"({"flags":4})", missing},
      {R"({"version":1})", missing},
      {R"({"version":null,"flags":4})", missing},
      {R"({"version":"1","flags":4})", corrupt},
      {R"([1,4])", corrupt},
      {R"({"version":1,"flags":-1})", corrupt},
      {R"({"version":1,"flags":4294967296})", corrupt},
      {R"({"version":1e400,"flags":4})", corrupt},
      {R"({"version":1.5,"flags":4})", corrupt},
      {R"({"version":99999999999999999999999,"flags":4})", corrupt},
      {R"({"version":1,"flags":4,"binaryPayload":{"data":"!!","encodedType":"X"}})", corrupt},
      {R"({"version":1,"flags":4,"binaryPayload":{"data":"AA=="}})", missing},
      {R"({"version":1,"flags":8,"error":{"timeout":{},"unknown":{}}})", corrupt},
      {R"({"version":1,"flags":8,"error":{"timeout":5}})", corrupt},
      {R"({"version":1,"flags":1,"sequenceID":"not-a-uuid"})", corrupt},
      {"{\"version\":1,\"flags\":4,\"x\":\"\xff\xfe\"}", corrupt},
      {std::string(100000, '[') + std::string(100000, ']'), corrupt},
  };
  for (const auto& [input, description] : inputs) {
    EXPECT_EQ(decodeFailure(input), XPCProtocolError::mailformedTransportMessage(description))
        << input.substr(0, 80);
  }
}

TEST(XPCMessageTest, UnknownKeysAndFlagBitsAreAccepted) {
  XPCMessage message =
      decoded(R"({"version":1,"flags":4294967295,"extra":{"a":[1]},"sequenceID":null})");
  EXPECT_EQ(message.flags.rawValue, 4294967295u);
  EXPECT_FALSE(message.sequenceID);
  EXPECT_EQ(message.version, 1);
  EXPECT_EQ(decoded(R"({"version":1.0,"flags":2})").flags, XPCMessage::Flag::acknowledge());
}

TEST(XPCMessageTest, ErrorTextsThatAreNotUTF8StillEncodeAsValidJSON) {
  XPCMessage reply = XPCMessage::errorReply(XPCProtocolError::underlyingError("file \xff.txt"));
  XPCMessage back = decoded(encoded(reply));
  EXPECT_EQ(back.error, XPCProtocolError::underlyingError("file \xEF\xBF\xBD.txt"));
}

} // namespace
} // namespace ipc
