#include "api/FileSizeRequest.h"
#include "api/RemoveFileRequest.h"
#include "ipc/XPCMessageMapper.h"
#include "ipc/XPCMessageValidator.h"

#include <gtest/gtest.h>

namespace ipc {
namespace {

using Flag = XPCMessage::Flag;

template <class F> XPCProtocolError thrownBy(F&& action) {
  try {
    action();
  } catch (const XPCProtocolError& error) {
    return error;
  }
  ADD_FAILURE() << "nothing thrown";
  return XPCProtocolError::unknown();
}

XPCMessage messageWithFlags(uint32_t flags) {
  XPCMessage message;
  message.flags = Flag{flags};
  return message;
}

TEST(XPCMessageMapperTest, DecodesOnlyIntoTheNamedType) {
  XPCMessageMapper mapper;
  api::FileSizeRequest request{*platform::URL::fromString("file:///etc/hosts")};
  XPCMessage message = mapper.makeMessage(request);
  EXPECT_EQ(message.flags, Flag::payload());
  EXPECT_EQ(mapper.decodePayload<api::FileSizeRequest>(message), request);

  message.binaryPayload->data = {'x'}; // never parsed: the names differ
  EXPECT_EQ(thrownBy([&] { mapper.decodePayload<api::RemoveFileRequest>(message); }),
            XPCProtocolError::invalidPayloadType("FileSizeRequest", "RemoveFileRequest"));

  message.binaryPayload->encodedType = "PrivilegedOperationServiceAPI.FileSizeRequest";
  EXPECT_EQ(thrownBy([&] { mapper.decodePayload<api::FileSizeRequest>(message); }),
            XPCProtocolError::invalidPayloadType("PrivilegedOperationServiceAPI.FileSizeRequest",
                                                 "FileSizeRequest"));
}

TEST(XPCMessageMapperTest, MissingPayloadAndDecoderFailures) {
  XPCMessageMapper mapper;
  EXPECT_EQ(thrownBy([&] { mapper.decodePayload<api::FileSizeRequest>(messageWithFlags(4)); }),
            XPCProtocolError::missingPayload());

  XPCMessage message = messageWithFlags(4);
  message.binaryPayload = XPCMessage::BinaryPayload{"FileSizeRequest", {'{', '}'}};
  try {
    mapper.decodePayload<api::FileSizeRequest>(message);
    ADD_FAILURE();
  } catch (const platform::DecodingError& error) {
    EXPECT_EQ(error.kind(), platform::DecodingError::Kind::keyNotFound);
  }
}

TEST(XPCMessageMapperTest, SequenceMessageCarriesItsIdentifier) {
  platform::UUID sequence;
  XPCMessage message = XPCMessageMapper().makeMessage(true, sequence);
  EXPECT_EQ(message.flags.rawValue, 5u);
  EXPECT_EQ(message.sequenceID, sequence);
  EXPECT_EQ(message.binaryPayload->encodedType, "Bool");
}

TEST(XPCMessageValidatorTest, ErrorBitWinsOverEverything) {
  XPCMessageValidator validator;
  XPCMessage message = messageWithFlags(12);
  message.error = XPCProtocolError::timeout();
  message.binaryPayload = XPCMessage::BinaryPayload{"Bool", {'1'}};
  EXPECT_EQ(thrownBy([&] { validator.validate(message); }), XPCProtocolError::timeout());
  EXPECT_EQ(thrownBy([&] { validator.validateAcknowledge(messageWithFlags(8 | 2)); }),
            XPCProtocolError::unknown());
  EXPECT_EQ(thrownBy([&] { validator.validate(messageWithFlags(8)); }),
            XPCProtocolError::unknown());
}

TEST(XPCMessageValidatorTest, KindMismatches) {
  XPCMessageValidator validator;
  EXPECT_NO_THROW(validator.validate(messageWithFlags(5)));
  EXPECT_NO_THROW(validator.validateAcknowledge(messageWithFlags(3)));
  EXPECT_EQ(thrownBy([&] { validator.validate(messageWithFlags(2)); }),
            XPCProtocolError::messageTypeMismatch({2}, {4}));
  EXPECT_EQ(thrownBy([&] { validator.validateAcknowledge(messageWithFlags(4)); }),
            XPCProtocolError::messageTypeMismatch({4}, {2}));
}

} // namespace
} // namespace ipc
