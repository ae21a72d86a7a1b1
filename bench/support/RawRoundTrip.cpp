#include "RawRoundTrip.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace bench {

Measurement summarize(std::vector<double>& latencies, Clock::duration elapsed) {
  std::sort(latencies.begin(), latencies.end());
  Measurement result;
  result.p50Microseconds = latencies[latencies.size() / 2];
  result.p99Microseconds = latencies[latencies.size() * 99 / 100];
  result.maxMicroseconds = latencies.back();
  result.messagesPerSecond =
      static_cast<double>(latencies.size()) / std::chrono::duration<double>(elapsed).count();
  return result;
}

double median(std::vector<Measurement> rounds, double Measurement::*field) {
  std::sort(rounds.begin(), rounds.end(),
            [field](const Measurement& left, const Measurement& right) {
              return left.*field < right.*field;
            });
  return rounds[rounds.size() / 2].*field;
}

double median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

double microsecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

namespace {

bool readFully(int fd, uint8_t* buffer, size_t size) {
  while (size > 0) {
    const ssize_t got = ::read(fd, buffer, size);
    if (got <= 0) {
      return false;
    }
    buffer += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

bool writeFully(int fd, const uint8_t* buffer, size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd, buffer, size);
    if (put <= 0) {
      return false;
    }
    buffer += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

// Raw peer: `callers` socketpairs, each with an echo thread and a calling thread.
} // namespace

Measurement measureRaw(int callers, int iterations, std::size_t messageSize) {
  std::vector<std::vector<double>> latencies(callers);
  std::vector<std::thread> threads;
  std::vector<int> ends;
  for (int index = 0; index < callers; ++index) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
      std::perror("socketpair");
      std::exit(1);
    }
    ends.push_back(pair[0]);
    ends.push_back(pair[1]);
    threads.emplace_back([fd = pair[1], messageSize] {
      std::vector<uint8_t> buffer(messageSize);
      while (readFully(fd, buffer.data(), messageSize) &&
             writeFully(fd, buffer.data(), messageSize)) {
      }
    });
  }
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  Clock::time_point start;
  std::vector<std::thread> callerThreads;
  for (int index = 0; index < callers; ++index) {
    callerThreads.emplace_back([&, index, fd = ends[2 * index]] {
      std::vector<uint8_t> message(messageSize, '{');
      std::vector<uint8_t> answer(messageSize);
      latencies[index].reserve(iterations);
      ready.fetch_add(1);
      while (!go.load()) {
        std::this_thread::yield();
      }
      for (int iteration = 0; iteration < iterations; ++iteration) {
        const auto sent = Clock::now();
        writeFully(fd, message.data(), messageSize);
        readFully(fd, answer.data(), messageSize);
        latencies[index].push_back(microsecondsSince(sent));
      }
    });
  }
  while (ready.load() < callers) {
    std::this_thread::yield();
  }
  start = Clock::now();
  go.store(true);
  for (auto& thread : callerThreads) {
    thread.join();
  }
  const auto elapsed = Clock::now() - start;
  for (int index = 0; index < callers; ++index) {
    ::shutdown(ends[2 * index], SHUT_RDWR);
  }
  for (auto& thread : threads) {
    thread.join();
  }
  for (int fd : ends) {
    ::close(fd);
  }
  std::vector<double> all;
  for (auto& list : latencies) {
    all.insert(all.end(), list.begin(), list.end());
  }
  return summarize(all, elapsed);
}

Measurement measureRawBetweenProcesses(int iterations, std::size_t messageSize) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    std::perror("socketpair");
    std::exit(1);
  }
  const pid_t child = ::fork();
  if (child < 0) {
    std::perror("fork");
    std::exit(1);
  }
  if (child == 0) {
    ::close(pair[0]);
    std::vector<uint8_t> buffer(messageSize);
    while (readFully(pair[1], buffer.data(), messageSize) &&
           writeFully(pair[1], buffer.data(), messageSize)) {
    }
    ::_exit(0);
  }
  ::close(pair[1]);
  std::vector<uint8_t> message(messageSize, '{');
  std::vector<uint8_t> answer(messageSize);
  std::vector<double> latencies;
  latencies.reserve(iterations);
  const auto start = Clock::now();
  for (int iteration = 0; iteration < iterations; ++iteration) {
    const auto sent = Clock::now();
    writeFully(pair[0], message.data(), messageSize);
    readFully(pair[0], answer.data(), messageSize);
    latencies.push_back(microsecondsSince(sent));
  }
  const auto elapsed = Clock::now() - start;
  ::close(pair[0]);
  ::waitpid(child, nullptr, 0);
  return summarize(latencies, elapsed);
}

} // namespace bench
