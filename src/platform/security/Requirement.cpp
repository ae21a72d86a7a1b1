#include "platform/security/Requirement.h"

#include "platform/security/RequirementLexer.h"
#include "platform/security/VersionCompare.h"

#include <charconv>

namespace platform::security {

namespace {

using Node = RequirementNode;
using NodePtr = std::shared_ptr<Node>;
using Token = RequirementToken;

constexpr size_t kMaxRequirementLength = 16 * 1024;
constexpr int kMaxNesting = 64;
constexpr int kMaxCertificateIndex = 32;

// Words of the platform's requirement language that this layer recognises but does not
// evaluate: they compile to errSecCSReqUnsupported rather than to a silent "no".
bool isUnsupportedKeyword(const std::string& word) {
  static const char* const kWords[] = {"cdhash",  "entitlement", "platform",   "notarized",
                                       "program", "legacy",      "designated", "library",
                                       "host",    "guest",       "cert-group", "=>"};
  for (const char* keyword : kWords) {
    if (word == keyword) {
      return true;
    }
  }
  return false;
}

bool isReservedWord(const std::string& word) {
  return word == "and" || word == "or";
}

// Recursive-descent parser over the token list; stops at the first failure.
class Parser {
public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  NodePtr parseRequirement() {
    NodePtr node = parseDisjunction(0);
    if (node && peek().kind != Token::Kind::end) {
      return invalid("unexpected " + describe(peek()));
    }
    return node;
  }

  const SecStatus& failure() const { return failure_; }

private:
  const Token& peek() const { return tokens_[position_]; }
  const Token& take() {
    const Token& token = tokens_[position_];
    if (token.kind != Token::Kind::end) {
      ++position_;
    }
    return token;
  }
  bool takeWord(const char* word) {
    if (peek().kind == Token::Kind::word && peek().text == word) {
      take();
      return true;
    }
    return false;
  }
  bool takeKind(Token::Kind kind) {
    if (peek().kind == kind) {
      take();
      return true;
    }
    return false;
  }

  static std::string describe(const Token& token) {
    if (token.kind == Token::Kind::end) {
      return "end of requirement";
    }
    return "token at offset " + std::to_string(token.offset) +
           (token.text.empty() ? std::string() : " (\"" + token.text + "\")");
  }

  NodePtr fail(OSStatus code, const std::string& message) {
    if (failure_.ok()) {
      failure_ = SecStatus(code, message);
    }
    return nullptr;
  }
  NodePtr invalid(const std::string& message) {
    return fail(errSecCSReqInvalid, "invalid requirement: " + message);
  }
  NodePtr unsupported(const std::string& what) {
    return fail(errSecCSReqUnsupported, "unsupported requirement: " + what);
  }

  static NodePtr combine(Node::Kind kind, NodePtr left, NodePtr right) {
    auto node = std::make_shared<Node>();
    node->kind = kind;
    node->children = {std::move(left), std::move(right)};
    return node;
  }

  NodePtr parseDisjunction(int depth) {
    NodePtr left = parseConjunction(depth);
    while (left && takeWord("or")) {
      NodePtr right = parseConjunction(depth);
      if (!right) {
        return nullptr;
      }
      left = combine(Node::Kind::disjunction, left, right);
    }
    return left;
  }

  NodePtr parseConjunction(int depth) {
    NodePtr left = parseFactor(depth);
    while (left && takeWord("and")) {
      NodePtr right = parseFactor(depth);
      if (!right) {
        return nullptr;
      }
      left = combine(Node::Kind::conjunction, left, right);
    }
    return left;
  }

  NodePtr parseFactor(int depth) {
    if (depth > kMaxNesting) {
      return invalid("nested too deeply");
    }
    const Token& token = peek();
    if (takeKind(Token::Kind::bang)) {
      NodePtr operand = parseFactor(depth + 1);
      if (!operand) {
        return nullptr;
      }
      auto node = std::make_shared<Node>();
      node->kind = Node::Kind::negation;
      node->children = {operand};
      return node;
    }
    if (takeKind(Token::Kind::leftParen)) {
      NodePtr inner = parseDisjunction(depth + 1);
      if (!inner) {
        return nullptr;
      }
      if (!takeKind(Token::Kind::rightParen)) {
        return invalid("expected \")\" but found " + describe(peek()));
      }
      return inner;
    }
    if (token.kind != Token::Kind::word) {
      return invalid("unexpected " + describe(token));
    }
    std::string keyword = take().text;
    if (keyword == "always" || keyword == "true" || keyword == "never" || keyword == "false") {
      auto node = std::make_shared<Node>();
      node->kind =
          keyword == "always" || keyword == "true" ? Node::Kind::always : Node::Kind::never;
      return node;
    }
    if (keyword == "identifier") {
      return parseIdentifier();
    }
    if (keyword == "info") {
      return parseInfo();
    }
    if (keyword == "anchor") {
      return parseAnchor();
    }
    if (keyword == "certificate" || keyword == "cert") {
      return parseCertificate();
    }
    if (isUnsupportedKeyword(keyword)) {
      return unsupported("\"" + keyword + "\"");
    }
    return invalid("unknown keyword \"" + keyword + "\" at offset " + std::to_string(token.offset));
  }

  // A quoted string or a bare word that is not "and"/"or".
  bool parseString(std::string& value) {
    const Token& token = peek();
    if (token.kind == Token::Kind::string ||
        (token.kind == Token::Kind::word && !isReservedWord(token.text))) {
      value = take().text;
      return true;
    }
    invalid("expected a string but found " + describe(token));
    return false;
  }

  NodePtr parseIdentifier() {
    takeKind(Token::Kind::equal);
    auto node = std::make_shared<Node>();
    node->kind = Node::Kind::identifier;
    if (!parseString(node->value)) {
      return nullptr;
    }
    return node;
  }

  bool parseMatch(Node& node) {
    if (takeWord("exists")) {
      node.match = Node::Match::exists;
      return true;
    }
    switch (peek().kind) {
    case Token::Kind::equal:
      node.match = Node::Match::equal;
      break;
    case Token::Kind::less:
      node.match = Node::Match::less;
      break;
    case Token::Kind::lessEqual:
      node.match = Node::Match::lessOrEqual;
      break;
    case Token::Kind::greater:
      node.match = Node::Match::greater;
      break;
    case Token::Kind::greaterEqual:
      node.match = Node::Match::greaterOrEqual;
      break;
    default:
      invalid("expected a comparison but found " + describe(peek()));
      return false;
    }
    take();
    return parseString(node.value);
  }

  // "[" KEY "]" with KEY a bare word or a quoted string.
  bool parseBracketedKey(std::string& key) {
    if (!takeKind(Token::Kind::leftBracket)) {
      invalid("expected \"[\" but found " + describe(peek()));
      return false;
    }
    if (!parseString(key)) {
      return false;
    }
    if (!takeKind(Token::Kind::rightBracket)) {
      invalid("expected \"]\" but found " + describe(peek()));
      return false;
    }
    return true;
  }

  NodePtr parseInfo() {
    auto node = std::make_shared<Node>();
    node->kind = Node::Kind::infoValue;
    if (!parseBracketedKey(node->key) || !parseMatch(*node)) {
      return nullptr;
    }
    return node;
  }

  NodePtr parseAnchor() {
    auto node = std::make_shared<Node>();
    node->kind = Node::Kind::anchorTrusted;
    if (takeWord("trusted")) {
      return node;
    }
    if (takeWord("apple")) {
      if (takeWord("generic")) {
        return node;
      }
      return unsupported("\"anchor apple\" without \"generic\"");
    }
    if (peek().kind == Token::Kind::equal) {
      return unsupported("anchor hashes");
    }
    return invalid("expected \"apple generic\" or \"trusted\" after \"anchor\" but found " +
                   describe(peek()));
  }

  bool parseCertificatePosition(int& index) {
    const Token& token = peek();
    if (token.kind != Token::Kind::word) {
      invalid("expected a certificate position but found " + describe(token));
      return false;
    }
    std::string word = take().text;
    if (word == "leaf") {
      index = 0;
      return true;
    }
    if (word == "root" || word == "anchor") {
      index = -1;
      return true;
    }
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), index);
    if (error != std::errc() || end != word.data() + word.size() || index > kMaxCertificateIndex ||
        index < -kMaxCertificateIndex) {
      invalid("bad certificate position \"" + word + "\"");
      return false;
    }
    return true;
  }

  NodePtr parseCertificate() {
    auto node = std::make_shared<Node>();
    if (!parseCertificatePosition(node->certificateIndex)) {
      return nullptr;
    }
    if (takeKind(Token::Kind::equal)) {
      if (peek().kind != Token::Kind::hash) {
        return invalid("expected H\"...\" but found " + describe(peek()));
      }
      node->kind = Node::Kind::certificateHash;
      node->value = take().text;
      for (char& c : node->value) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
      return node;
    }
    if (peek().kind == Token::Kind::word && peek().text == "trusted") {
      return unsupported("\"certificate ... trusted\"");
    }
    std::string field;
    if (!parseBracketedKey(field)) {
      return nullptr;
    }
    constexpr std::string_view kSubject = "subject.";
    if (field.rfind(kSubject, 0) != 0) {
      return unsupported("certificate field \"" + field + "\"");
    }
    node->kind = Node::Kind::certificateField;
    node->key = field.substr(kSubject.size());
    if (subjectFieldNid(node->key) == 0) {
      return invalid("unknown subject field \"" + node->key + "\"");
    }
    if (!parseMatch(*node)) {
      return nullptr;
    }
    return node;
  }

  std::vector<Token> tokens_;
  size_t position_ = 0;
  SecStatus failure_;
};

bool matches(const Node& node, const std::string& actual) {
  int order = compareNumerically(actual, node.value);
  switch (node.match) {
  case Node::Match::exists:
    return true;
  case Node::Match::equal:
    return actual == node.value;
  case Node::Match::less:
    return order < 0;
  case Node::Match::lessOrEqual:
    return order <= 0;
  case Node::Match::greater:
    return order > 0;
  case Node::Match::greaterOrEqual:
    return order >= 0;
  }
  return false;
}

const Certificate* certificateAt(const RequirementContext& context, int index) {
  int count = static_cast<int>(context.chain.size());
  int position = index >= 0 ? index : count + index;
  if (position < 0 || position >= count) {
    return nullptr;
  }
  return &context.chain[static_cast<size_t>(position)];
}

bool evaluate(const Node& node, const RequirementContext& context) {
  switch (node.kind) {
  case Node::Kind::always:
    return true;
  case Node::Kind::never:
    return false;
  case Node::Kind::negation:
    return !evaluate(*node.children[0], context);
  case Node::Kind::conjunction:
    return evaluate(*node.children[0], context) && evaluate(*node.children[1], context);
  case Node::Kind::disjunction:
    return evaluate(*node.children[0], context) || evaluate(*node.children[1], context);
  case Node::Kind::identifier:
    return context.identifier == node.value;
  case Node::Kind::infoValue: {
    if (context.info == nullptr) {
      return false;
    }
    PlistRef value = context.info->root()[node.key];
    if (value.isNull()) {
      return false;
    }
    if (node.match == Node::Match::exists) {
      return true;
    }
    auto text = value.stringValue();
    return text && matches(node, *text);
  }
  case Node::Kind::anchorTrusted:
    return context.anchorTrusted;
  case Node::Kind::certificateField: {
    const Certificate* certificate = certificateAt(context, node.certificateIndex);
    if (certificate == nullptr) {
      return false;
    }
    for (const std::string& value : certificate->subjectValues(node.key)) {
      if (matches(node, value)) {
        return true;
      }
    }
    return false;
  }
  case Node::Kind::certificateHash: {
    const Certificate* certificate = certificateAt(context, node.certificateIndex);
    return certificate != nullptr && certificate->sha1Hex == node.value;
  }
  }
  return false;
}

std::string quoted(const std::string& value) {
  std::string out = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
    }
    out.push_back(c);
  }
  return out + "\"";
}

std::string matchText(const Node& node) {
  switch (node.match) {
  case Node::Match::exists:
    return " exists";
  case Node::Match::equal:
    return " = " + quoted(node.value);
  case Node::Match::less:
    return " < " + quoted(node.value);
  case Node::Match::lessOrEqual:
    return " <= " + quoted(node.value);
  case Node::Match::greater:
    return " > " + quoted(node.value);
  case Node::Match::greaterOrEqual:
    return " >= " + quoted(node.value);
  }
  return "";
}

std::string positionText(int index) {
  return index == 0 ? "leaf" : index == -1 ? "root" : std::to_string(index);
}

std::string canonical(const Node& node) {
  switch (node.kind) {
  case Node::Kind::always:
    return "always";
  case Node::Kind::never:
    return "never";
  case Node::Kind::negation:
    return "!" + canonical(*node.children[0]);
  case Node::Kind::conjunction:
    return "(" + canonical(*node.children[0]) + " and " + canonical(*node.children[1]) + ")";
  case Node::Kind::disjunction:
    return "(" + canonical(*node.children[0]) + " or " + canonical(*node.children[1]) + ")";
  case Node::Kind::identifier:
    return "identifier " + quoted(node.value);
  case Node::Kind::infoValue:
    return "info [" + node.key + "]" + matchText(node);
  case Node::Kind::anchorTrusted:
    return "anchor apple generic";
  case Node::Kind::certificateField:
    return "certificate " + positionText(node.certificateIndex) + "[subject." + node.key + "]" +
           matchText(node);
  case Node::Kind::certificateHash:
    return "certificate " + positionText(node.certificateIndex) + " = H\"" + node.value + "\"";
  }
  return "";
}

} // namespace

SecStatus Requirement::compile(std::string_view text, Requirement& requirement) {
  if (text.size() > kMaxRequirementLength) {
    return SecStatus(errSecCSReqInvalid, "invalid requirement: text too long");
  }
  std::vector<Token> tokens;
  std::string failure;
  if (!tokenizeRequirement(text, tokens, failure)) {
    return SecStatus(errSecCSReqInvalid, "invalid requirement: " + failure);
  }
  Parser parser(std::move(tokens));
  NodePtr root = parser.parseRequirement();
  if (!root) {
    return parser.failure();
  }
  requirement.text_ = std::string(text);
  requirement.root_ = std::move(root);
  return SecStatus::success();
}

bool Requirement::isSatisfiedBy(const RequirementContext& context) const {
  return root_ != nullptr && evaluate(*root_, context);
}

std::string Requirement::canonicalText() const {
  return root_ != nullptr ? canonical(*root_) : std::string();
}

} // namespace platform::security
