// The cost of judging a client at the handshake: a signed, set-group-ID copy of this program
// connects to a socket of ours, and the agent's client rule judges it again and again.
//   ours: the rule with the hardened-runtime checks (group, AT_SECURE, library validation)
//   peer: the same rule without them, the signature and requirement checks alone
// Both include finding the peer's code (DynamicCode::create), as a handshake does. Rounds
// alternate; prints the medians in microseconds:
//   handshake_us: ours=<us> peer=<us> ratio=<ours/peer>
// Needs root (to install the set-group-ID client); prints a note and succeeds otherwise.
#include "TestPKI.h"
#include "ipc/server/XPCServerEngine.h"
#include "platform/security/CodeSigner.h"
#include "platform/security/DynamicCode.h"
#include "platform/xpc/PeerIdentity.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace platform::security;
using Clock = std::chrono::steady_clock;

namespace {

constexpr gid_t kClientsGroup = 54321;
constexpr int kRounds = 15;
constexpr int kHandshakesPerRound = 20;

const std::vector<std::string> kRequirements = {
    "identifier \"com.quillby.Lumora5\" and info [CFBundleShortVersionString] >= \"0.0.1\" and "
    "anchor apple generic and certificate leaf[subject.OU] = \"Q4W7ZK2M9T\"",
    "identifier \"com.quillby.Lumora5.Menu\" and info [CFBundleShortVersionString] >= \"0.0.1\" "
    "and anchor apple generic and certificate leaf[subject.OU] = \"Q4W7ZK2M9T\"",
    "identifier \"com.quillby.Lumora5.HealthMonitor\" and info [CFBundleShortVersionString] >= "
    "\"0.0.1\" and anchor apple generic and certificate leaf[subject.OU] = \"Q4W7ZK2M9T\""};

// The client: connects to `path` and waits until its standard input ends.
int runClient(const char* path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path, sizeof address.sun_path - 1);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return 1;
  }
  char byte;
  while (::read(STDIN_FILENO, &byte, 1) > 0) {
  }
  return 0;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Microseconds per handshake judgement of `rule` over the connected peer.
double judge(const ipc::AnyAuthorizationRule& rule, const platform::xpc::PeerIdentity& peer) {
  const auto& ids = peer.credentials();
  const auto start = Clock::now();
  for (int index = 0; index < kHandshakesPerRound; ++index) {
    std::shared_ptr<DynamicCode> code;
    if (!DynamicCode::create(AuditToken{ids.pid, ids.uid, ids.gid}, peer.pidfd(), code) ||
        !rule->isAuthorized(ipc::XPCCredentials{code, "Connection<BENCH>"})) {
      std::fprintf(stderr, "bench_handshake: the client was refused\n");
      std::exit(1);
    }
  }
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count() /
         kHandshakesPerRound;
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--client") == 0) {
    return runClient(argv[2]);
  }
  if (::geteuid() != 0) {
    std::printf("bench_handshake: skipped, installing a set-group-ID client needs root\n");
    return 0;
  }
  testing::TemporaryDirectory directory;
  ::chmod(directory.path().c_str(), 0755);
  testing::TestPKI pki(directory.path());
  auto root = pki.makeRoot("root", {"Bench Root", "", "Bench", "GB"});
  auto leaf = pki.makeLeaf("leaf", {"Bench Leaf", "Q4W7ZK2M9T", "Bench", "GB"}, root);
  ValidationOptions options;
  options.anchorsDirectory = directory.file("anchors");
  std::filesystem::create_directory(*options.anchorsDirectory);
  std::filesystem::copy_file(root.certificatePath, *options.anchorsDirectory + "/root.pem");

  const std::string program = directory.file("client");
  std::filesystem::copy_file("/proc/self/exe", program);
  platform::NSError error;
  if (!signFile(program, leaf.signingParameters("com.quillby.Lumora5"), &error) ||
      ::chown(program.c_str(), 0, kClientsGroup) != 0 || ::chmod(program.c_str(), 02755) != 0) {
    std::fprintf(stderr, "bench_handshake: cannot install the client\n");
    return 1;
  }
  // The digest cache keeps only files whose times are two seconds old, as a deployed client's are.
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));

  const std::string socketPath = directory.file("socket");
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 1) != 0) {
    std::perror("bench_handshake: listen");
    return 1;
  }
  int input[2];
  if (::pipe2(input, O_CLOEXEC) != 0) {
    return 1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  std::string clientFlag = "--client";
  std::string path = program;
  std::string socketArgument = socketPath;
  char* arguments[] = {path.data(), clientFlag.data(), socketArgument.data(), nullptr};
  char* environment[] = {nullptr};
  pid_t client = 0;
  if (::posix_spawn(&client, program.c_str(), &actions, nullptr, arguments, environment) != 0) {
    std::perror("bench_handshake: spawn");
    return 1;
  }
  ::close(input[0]);
  const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  auto peer = platform::xpc::PeerIdentity::ofSocket(connection, nullptr);
  if (!peer) {
    std::fprintf(stderr, "bench_handshake: no peer\n");
    return 1;
  }

  const auto withRuntime = ipc::XPCServerEngine::Descriptor::privilegedHelper(
                               "bench", kRequirements, RuntimePolicy{kClientsGroup}, options)
                               .requirement.rule;
  const auto signatureOnly = ipc::XPCServerEngine::Descriptor::privilegedHelper(
                                 "bench", kRequirements, std::nullopt, options)
                                 .requirement.rule;
  judge(withRuntime, *peer);
  judge(signatureOnly, *peer);
  std::vector<double> ours;
  std::vector<double> peerTimes;
  for (int round = 0; round < kRounds; ++round) {
    ours.push_back(judge(withRuntime, *peer));
    peerTimes.push_back(judge(signatureOnly, *peer));
  }
  ::close(input[1]);
  int status = 0;
  ::waitpid(client, &status, 0);
  const double oursMedian = median(ours);
  const double peerMedian = median(peerTimes);
  std::printf("handshake_us: ours=%.1f peer=%.1f ratio=%.2f\n", oursMedian, peerMedian,
              oursMedian / peerMedian);
  return 0;
}
