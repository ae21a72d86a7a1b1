#include "platform/xpc/Frame.h"
#include "platform/xpc/FrameReader.h"
#include "platform/xpc/OutgoingFrames.h"
#include "platform/xpc/TransportError.h"
#include "platform/xpc/TransportTestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

namespace platform::xpc {
namespace {

using test::frameBytes;

struct SocketPair {
  SocketPair() {
    int ends[2];
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends);
    writer.reset(ends[0]);
    reader.reset(ends[1]);
  }
  UniqueFd writer;
  UniqueFd reader;
};

TEST(FrameHeaderTest, EncodesLittleEndianAndDecodesBack) {
  const FrameHeader header{FrameKind::reply, 2, 0x01020304, 0x1122334455667788};
  uint8_t bytes[kFrameHeaderSize];
  encodeFrameHeader(header, bytes);
  const uint8_t expected[kFrameHeaderSize] = {'X',  'P',  'C',  'F',  1,    3,    2,    0,
                                              4,    3,    2,    1,    0,    0,    0,    0,
                                              0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11};
  EXPECT_EQ(0, std::memcmp(bytes, expected, kFrameHeaderSize));
  TransportLimits limits;
  limits.maxPayloadSize = 0x01020304;
  EXPECT_EQ(header, decodeFrameHeader(bytes, limits, nullptr));
}

TEST(FrameHeaderTest, RefusesEveryMalformedField) {
  struct Case {
    size_t offset;
    uint8_t value;
    TransportErrorCode code;
    const char* text;
  };
  const Case cases[] = {
      {0, 'Y', TransportErrorCode::malformedFrame, "Frame has a wrong magic."},
      {4, 2, TransportErrorCode::malformedFrame, "Frame has unsupported version 2."},
      {5, 4, TransportErrorCode::malformedFrame, "Frame has unknown kind 4."},
      {5, 0, TransportErrorCode::malformedFrame, "Frame has unknown kind 0."},
      {13, 1, TransportErrorCode::malformedFrame, "Frame has reserved bits set."},
      {11, 1, TransportErrorCode::frameTooLarge,
       "Frame of 16777226 bytes exceeds the cap of 1024."},
      {6, 17, TransportErrorCode::tooManyDescriptors,
       "Frame carries 17 descriptors, more than 16."},
      {16, 0, TransportErrorCode::malformedFrame, "Frame lacks its call id."},
  };
  TransportLimits limits;
  limits.maxPayloadSize = 1024;
  for (const Case& testCase : cases) {
    uint8_t bytes[kFrameHeaderSize];
    encodeFrameHeader(FrameHeader{FrameKind::callWithReply, 0, 10, 1}, bytes);
    bytes[testCase.offset] = testCase.value;
    NSError error;
    EXPECT_FALSE(decodeFrameHeader(bytes, limits, &error)) << testCase.text;
    EXPECT_EQ(TransportErrorDomain, error.domain());
    EXPECT_EQ(static_cast<int64_t>(testCase.code), error.code());
    EXPECT_EQ(testCase.text, error.localizedDescription());
  }
  uint8_t withoutReply[kFrameHeaderSize];
  encodeFrameHeader(FrameHeader{FrameKind::callWithoutReply, 0, 0, 7}, withoutReply);
  NSError error;
  EXPECT_FALSE(decodeFrameHeader(withoutReply, limits, &error));
  EXPECT_EQ("Call without reply has a call id.", error.localizedDescription());
}

TEST(FrameReaderTest, ReassemblesFramesFromSingleBytesAndBatches) {
  SocketPair pair;
  FrameReader reader{TransportLimits{}};
  std::vector<uint8_t> stream = frameBytes(FrameKind::callWithReply, 5, "first");
  const auto second = frameBytes(FrameKind::callWithoutReply, 0, "");
  const auto third = frameBytes(FrameKind::reply, 9, std::string(300, 'x'));
  stream.insert(stream.end(), second.begin(), second.end());
  std::vector<ReceivedFrame> frames;
  // Byte by byte: a frame appears only once its last byte is in.
  for (size_t index = 0; index < stream.size(); ++index) {
    ASSERT_EQ(1, ::send(pair.writer.get(), &stream[index], 1, 0));
    ASSERT_EQ(ReadOutcome::progress, reader.readOnce(pair.reader.get(), frames, nullptr));
    const size_t firstSize = kFrameHeaderSize + 5;
    EXPECT_EQ(index + 1 < firstSize ? 0u : index + 1 < stream.size() ? 1u : 2u, frames.size());
  }
  EXPECT_FALSE(reader.hasPartialFrame());
  EXPECT_EQ(ReadOutcome::wouldBlock, reader.readOnce(pair.reader.get(), frames, nullptr));
  // Several frames in one read.
  ASSERT_TRUE(test::writeAll(pair.writer.get(), third));
  ASSERT_TRUE(test::writeAll(pair.writer.get(), third));
  EXPECT_EQ(ReadOutcome::progress, reader.readOnce(pair.reader.get(), frames, nullptr));
  ASSERT_EQ(4u, frames.size());
  EXPECT_EQ("first", test::textOf(frames[0].payload));
  EXPECT_EQ(5u, frames[0].header.callId);
  EXPECT_TRUE(frames[1].payload.empty());
  EXPECT_EQ(FrameKind::reply, frames[3].header.kind);
  EXPECT_EQ(std::string(300, 'x'), test::textOf(frames[3].payload));
  pair.writer.reset();
  EXPECT_EQ(ReadOutcome::endOfStream, reader.readOnce(pair.reader.get(), frames, nullptr));
}

TEST(FrameReaderTest, GrowsOnlyWithArrivingBytesAndShrinksAfterALargeFrame) {
  SocketPair pair;
  FrameReader reader{TransportLimits{}};
  const size_t initial = reader.bufferCapacityForTest();
  // A header that declares 64 MiB allocates nothing ahead of the bytes.
  std::vector<uint8_t> header = frameBytes(FrameKind::callWithoutReply, 0, "");
  header[8] = 0, header[9] = 0, header[10] = 0, header[11] = 4;
  ASSERT_TRUE(test::writeAll(pair.writer.get(), header));
  std::vector<ReceivedFrame> frames;
  EXPECT_EQ(ReadOutcome::progress, reader.readOnce(pair.reader.get(), frames, nullptr));
  EXPECT_EQ(initial, reader.bufferCapacityForTest());

  SocketPair second;
  auto budget = std::make_shared<BufferBudget>(4 << 20);
  FrameReader large{TransportLimits{}, budget};
  const std::string payload(1 << 20, 'p');
  std::thread writer(
      [&] { test::writeAll(second.writer.get(), frameBytes(FrameKind::reply, 1, payload)); });
  while (frames.size() < 1) {
    test::waitReadable(second.reader.get());
    const ReadOutcome outcome = large.readOnce(second.reader.get(), frames, nullptr);
    ASSERT_NE(ReadOutcome::failed, outcome);
  }
  writer.join();
  EXPECT_EQ(payload, test::textOf(frames[0].payload));
  EXPECT_GT(large.bufferCapacityForTest(), initial);
  EXPECT_EQ(large.bufferCapacityForTest() - initial, budget->used());
  ASSERT_TRUE(test::writeAll(second.writer.get(), frameBytes(FrameKind::reply, 2, "small")));
  EXPECT_EQ(ReadOutcome::progress, large.readOnce(second.reader.get(), frames, nullptr));
  EXPECT_EQ(initial, large.bufferCapacityForTest());
  EXPECT_EQ(0u, budget->used());
}

TEST(FrameReaderTest, AFrameTheSharedBudgetCannotHoldEndsTheStream) {
  SocketPair pair;
  auto budget = std::make_shared<BufferBudget>(100 * 1024);
  FrameReader reader{TransportLimits{}, budget};
  const std::string payload(1 << 20, 'p');
  std::thread writer(
      [&] { test::writeAll(pair.writer.get(), frameBytes(FrameKind::reply, 1, payload)); });
  std::vector<ReceivedFrame> frames;
  NSError error;
  ReadOutcome outcome = ReadOutcome::progress;
  while (outcome != ReadOutcome::failed) {
    test::waitReadable(pair.reader.get());
    outcome = reader.readOnce(pair.reader.get(), frames, &error);
    ASSERT_NE(ReadOutcome::endOfStream, outcome);
  }
  pair.reader.reset();
  writer.join();
  EXPECT_EQ(static_cast<int64_t>(TransportErrorCode::bufferBudgetSpent), error.code());
  EXPECT_LE(budget->used(), budget->capacity());
}

TEST(FrameReaderTest, RefusesGarbageAndOversizedFrames) {
  SocketPair pair;
  TransportLimits limits;
  limits.maxPayloadSize = 100;
  FrameReader reader{limits};
  std::vector<ReceivedFrame> frames;
  ASSERT_TRUE(
      test::writeAll(pair.writer.get(), frameBytes(FrameKind::reply, 1, std::string(101, 'a'))));
  NSError error;
  EXPECT_EQ(ReadOutcome::failed, reader.readOnce(pair.reader.get(), frames, &error));
  EXPECT_EQ(static_cast<int64_t>(TransportErrorCode::frameTooLarge), error.code());

  SocketPair garbage;
  FrameReader garbageReader{limits};
  ASSERT_TRUE(
      test::writeAll(garbage.writer.get(), test::bytesOf("GET / HTTP/1.1\r\nHost: x\r\n\r\n")));
  EXPECT_EQ(ReadOutcome::failed, garbageReader.readOnce(garbage.reader.get(), frames, &error));
  EXPECT_EQ(static_cast<int64_t>(TransportErrorCode::malformedFrame), error.code());
  EXPECT_TRUE(frames.empty());
}

TEST(FrameReaderTest, HandsDescriptorsToTheirFrameAndClosesUnclaimedOnes) {
  const size_t before = test::openDescriptorCount();
  {
    SocketPair pair;
    FrameReader reader{TransportLimits{}};
    std::vector<ReceivedFrame> frames;
    UniqueFd file(::open("/proc/self/stat", O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(test::sendWithDescriptors(
        pair.writer.get(), frameBytes(FrameKind::callWithoutReply, 0, "fd", 1), {file.get()}));
    ASSERT_EQ(ReadOutcome::progress, reader.readOnce(pair.reader.get(), frames, nullptr));
    ASSERT_EQ(1u, frames.size());
    ASSERT_EQ(1u, frames[0].descriptors.size());
    EXPECT_EQ(FD_CLOEXEC, ::fcntl(frames[0].descriptors[0].get(), F_GETFD) & FD_CLOEXEC);

    // Descriptors that the frame does not declare end the stream and are closed.
    ASSERT_TRUE(test::sendWithDescriptors(pair.writer.get(),
                                          frameBytes(FrameKind::callWithoutReply, 0, "none"),
                                          {file.get(), file.get()}));
    NSError error;
    EXPECT_EQ(ReadOutcome::failed, reader.readOnce(pair.reader.get(), frames, &error));
    EXPECT_EQ("Peer sent descriptors that no frame claims.", error.localizedDescription());

    // More descriptors in one message than the cap: the kernel truncates, the stream ends.
    SocketPair flood;
    TransportLimits limits;
    limits.maxDescriptors = 2;
    FrameReader small{limits};
    ASSERT_TRUE(test::sendWithDescriptors(flood.writer.get(),
                                          frameBytes(FrameKind::callWithoutReply, 0, "x", 2),
                                          {file.get(), file.get(), file.get(), file.get()}));
    EXPECT_EQ(ReadOutcome::failed, small.readOnce(flood.reader.get(), frames, &error));
    EXPECT_EQ("Peer sent more descriptors than accepted.", error.localizedDescription());
  }
  EXPECT_LE(test::openDescriptorCount(), before);
}

// Writes all that is queued, waiting whenever the socket is full.
OutgoingFrames::FlushOutcome flushAll(OutgoingFrames& queue, int socket, NSError* error) {
  while (true) {
    const auto outcome = queue.flush(socket, error);
    if (outcome != OutgoingFrames::FlushOutcome::wouldBlock) {
      return outcome;
    }
    pollfd writable{socket, POLLOUT, 0};
    ::poll(&writable, 1, -1);
  }
}

TEST(OutgoingFramesTest, WritesLargeFramesAcrossShortWritesWithDescriptorsWithinTheBudget) {
  SocketPair pair;
  int size = 4096;
  ::setsockopt(pair.writer.get(), SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
  auto budget = std::make_shared<BufferBudget>(4 << 20);
  OutgoingFrames queue(budget);
  const Bytes payload(3 << 20, 0x5a);
  Message message{payload, {}};
  message.descriptors.emplace_back(::open("/proc/self/stat", O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(
      queue.push(FrameHeader{FrameKind::callWithoutReply, 1, 3 << 20, 0}, std::move(message)));
  EXPECT_EQ(kFrameHeaderSize + payload.size(), budget->used());
  // A frame that would overdraw the budget is refused whole.
  EXPECT_FALSE(
      queue.push(FrameHeader{FrameKind::reply, 0, 2 << 20, 7}, Message{Bytes(2 << 20), {}}));
  EXPECT_EQ(kFrameHeaderSize + payload.size(), queue.bytes());

  std::vector<ReceivedFrame> frames;
  std::thread reading([&] {
    FrameReader reader{TransportLimits{}};
    while (frames.empty()) {
      test::waitReadable(pair.reader.get());
      if (reader.readOnce(pair.reader.get(), frames, nullptr) == ReadOutcome::failed) {
        return;
      }
    }
  });
  NSError error;
  EXPECT_EQ(OutgoingFrames::FlushOutcome::drained, flushAll(queue, pair.writer.get(), &error));
  reading.join();
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ(payload, frames[0].payload);
  EXPECT_EQ(1u, frames[0].descriptors.size());
  EXPECT_EQ(0u, budget->used());

  pair.reader.reset();
  ASSERT_TRUE(queue.push(FrameHeader{}, Message{payload, {}}));
  EXPECT_EQ(OutgoingFrames::FlushOutcome::failed, queue.flush(pair.writer.get(), &error));
  EXPECT_EQ(static_cast<int64_t>(TransportErrorCode::ioFailure), error.code());
  queue.clear();
  EXPECT_EQ(0u, budget->used());
}

} // namespace
} // namespace platform::xpc
