// Load through a web server: N clients, each on its own kept-open loopback
// connection, send a mix of requests for T seconds and check every answer.
//
//   gets, puts, queries and listings on a few databases, stores, offer opens
//
// - every answer has status 200 and Content-Type text/html;
// - a get answers a whole version of the database that some put wrote (each
//   version names its writer and number, so its bytes can be made again);
//   a query answers that version's price section, every price doubled;
// - a listing shows exactly the databases: no offer, no put in progress;
// - every stored offer is opened twice, often by two clients at once, and is
//   shown exactly once, whole; the other opening finds it gone;
// - afterwards the data directory holds the databases and nothing else.
//
// With --header-only the same requests go to a CGI program that writes only
// the header; only status and an empty body are checked. Given several
// ports (servers sharing one data directory), the clients take them in
// turn; --login sends a basic-authentication login with every request. With
// --big MB a put and a store of MB megabytes follow the load, and come back
// whole.
//
// Prints requests a second and latency (p50, p99, max); exits 1 on any
// wrong answer, 2 on a usage or setup error.
//
// Usage: talvenplan_load --port PORT [--port PORT...] --data DIR
//                        [--clients N] [--seconds T] [--path /talvenplan.cgi]
//                        [--login USER:PASSWORD] [--header-only] [--big MB]
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "protocol/letter_pair.h"
#include "protocol/wire.h"

namespace {

using talvenplan::IsOfferName;
using talvenplan::OfferLinkQuery;

using Clock = std::chrono::steady_clock;

constexpr int kDatabases = 4;
constexpr int kMaxClients = 256;
constexpr char kGone[] = "error on server: can't open temp file";
constexpr char kPageStart[] =
    "<html><head><title>Offer</title></head>"
    "<body>\n<h1 align=\"center\">Offer</h1>\n";
constexpr char kPageEnd[] = "</body></html>\n";

struct Options {
  std::vector<int> ports;
  std::string authorization;  // the header line, or empty
  std::string data;
  int clients = 8;
  double seconds = 10;
  std::string path = "/talvenplan.cgi";
  bool header_only = false;
  long big_megabytes = 0;
};

Options g_options;

// Wrong answers: counted, and the first few described.
std::atomic<long> g_wrong{0};
std::mutex g_report_mutex;

void Wrong(const std::string& what, std::string_view answer = {}) {
  long n = ++g_wrong;
  if (n > 10) return;
  std::lock_guard lock(g_report_mutex);
  std::string shown(answer.substr(0, 300));
  for (char& c : shown) {
    if (c == '\n') c = '|';
  }
  std::fprintf(stderr, "WRONG: %s\n", what.c_str());
  if (!answer.empty()) {
    std::fprintf(stderr, "  answer: %s%s\n", shown.c_str(),
                 answer.size() > 300 ? "..." : "");
  }
}

std::uint64_t Mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15u;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
  return x ^ (x >> 31);
}

// (Appended rather than added: g++ 12 warns wrongly about "k" + string.)
std::string DatabaseName(int db) {
  return std::string("load").append(std::to_string(db));
}
std::string DatabaseKey(int db) {
  return std::string("k").append(std::to_string(db));
}

// The price lines of a version: a few to a few hundred whole prices.
struct Version {
  int db, writer, number;
};

std::uint64_t VersionSeed(const Version& v) {
  return Mix((static_cast<std::uint64_t>(v.db) << 48) ^
             (static_cast<std::uint64_t>(v.writer) << 32) ^
             static_cast<std::uint64_t>(v.number));
}

int PriceCount(const Version& v) {
  std::uint64_t seed = VersionSeed(v);
  // Mostly small lists, now and then a long one (a few KB).
  return seed % 8 == 0 ? 100 + static_cast<int>(seed % 300)
                       : 1 + static_cast<int>(seed % 30);
}

unsigned Price(const Version& v, int line) {
  return static_cast<unsigned>(Mix(VersionSeed(v) + line) % 1000000);
}

std::string HeaderLineA(const Version& v) {
  return "v " + std::to_string(v.db) + " " + std::to_string(v.writer) + " " +
         std::to_string(v.number);
}

// The whole database file of a version.
std::string DatabaseText(const Version& v) {
  std::string text = DatabaseKey(v.db) + "\n2\nretail 1.0\ndouble 2\n" +
                     HeaderLineA(v) + "\n\"load\"\n";
  int count = PriceCount(v);
  text += std::to_string(count) + "\n";
  for (int i = 0; i < count; ++i) {
    text +=
        "item" + std::to_string(i) + " " + std::to_string(Price(v, i)) + "\n";
  }
  text += "end " + std::to_string(v.writer) + "\n";
  return text;
}

// The answer to a query for the factor "double" on a version.
std::string QueryAnswer(const Version& v) {
  std::string text = "s" + HeaderLineA(v) + "\n\"load\"\n";
  int count = PriceCount(v);
  text += std::to_string(count) + "\n";
  for (int i = 0; i < count; ++i) {
    text += "item" + std::to_string(i) + " " +
            std::to_string(2 * static_cast<unsigned long>(Price(v, i))) +
            ".000000\n";
  }
  text += "end " + std::to_string(v.writer) + "\n";
  return text;
}

// The versions issued so far: writer w has started puts up to number
// issued[db][w] on database db (writer 0 is the setup).
std::atomic<int> g_issued[kDatabases][kMaxClients + 1];

// Reads "v DB WRITER NUMBER" from the start of `line`.
bool ParseVersion(std::string_view line, Version& v) {
  std::string text(line.substr(0, line.find('\n')));
  char tail = 0;
  return std::sscanf(text.c_str(), "v %d %d %d%c", &v.db, &v.writer, &v.number,
                     &tail) == 3;
}

bool Issued(const Version& v, int db) {
  return v.db == db && v.writer >= 0 && v.writer <= kMaxClients &&
         v.number >= 0 && v.number <= g_issued[db][v.writer].load();
}

// Offers: each is opened twice; exactly one opening must show it.
struct Offer {
  std::string name;
  std::string text;
  std::atomic<int> shown{0};
  std::atomic<int> gone{0};
};

std::mutex g_offers_mutex;
std::vector<std::unique_ptr<Offer>> g_offers;
std::deque<Offer*> g_tickets;

// One kept-open HTTP/1.1 connection to the server on the loopback address.
class Connection {
 public:
  explicit Connection(int port) : port_(port) {}
  ~Connection() { Close(); }

  // Sends a request and reads the answer's status and body. False when the
  // answer is not a well-formed HTTP response (reported as wrong).
  bool Send(std::string_view method, const std::string& target,
            std::string_view body, int& status, std::string& answer) {
    std::string request = std::string(method) + " " + target +
                          " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                          g_options.authorization;
    if (method == "POST") {
      request += "Content-Type: application/octet-stream\r\nContent-Length: " +
                 std::to_string(body.size()) + "\r\n";
    }
    request += "\r\n";
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (fd_ < 0 && !Connect()) return false;
      bool fresh = !used_;
      if (!WriteAll(request) || !WriteAll(body)) {
        Close();
        if (fresh) return false;
        continue;  // the server closed a kept-open connection: once more
      }
      used_ = true;
      if (!ReadResponse(status, answer)) {
        Close();
        if (fresh || received_) return Malformed("no whole response");
        continue;
      }
      return true;
    }
    return false;
  }

 private:
  bool Connect() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval timeout{60, 0};  // a stuck server is a failure, not a hang
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) !=
        0) {
      std::perror("connect");
      Close();
      return false;
    }
    used_ = false;
    buffer_.clear();
    return true;
  }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  bool WriteAll(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  // Makes sure at least `want` bytes are buffered.
  bool Fill(std::size_t want) {
    char chunk[65536];
    while (buffer_.size() < want) {
      ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return false;
      received_ = true;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
    return true;
  }

  // Reads up to and including the next CRLF; the line without it.
  bool ReadLine(std::string& line) {
    std::size_t end;
    while ((end = buffer_.find("\r\n")) == std::string::npos) {
      if (!Fill(buffer_.size() + 1)) return false;
    }
    line = buffer_.substr(0, end);
    buffer_.erase(0, end + 2);
    return true;
  }

  bool Take(std::size_t size, std::string& out) {
    if (!Fill(size)) return false;
    out.append(buffer_, 0, size);
    buffer_.erase(0, size);
    return true;
  }

  bool Malformed(const char* what) {
    Wrong(std::string("malformed HTTP response: ") + what);
    return false;
  }

  bool ReadResponse(int& status, std::string& answer) {
    received_ = !buffer_.empty();
    std::string line;
    if (!ReadLine(line)) return false;
    if (line.size() < 12 || line.compare(0, 9, "HTTP/1.1 ") != 0) {
      return Malformed("status line");
    }
    status = std::atoi(line.c_str() + 9);
    long length = -1;
    bool chunked = false, close = false, html = false;
    for (;;) {
      if (!ReadLine(line)) return false;
      if (line.empty()) break;
      std::string lower = line;
      for (char& c : lower) c = static_cast<char>(std::tolower(c));
      if (lower.starts_with("content-length:")) {
        length = std::atol(lower.c_str() + 15);
      } else if (lower.starts_with("transfer-encoding:") &&
                 lower.find("chunked") != std::string::npos) {
        chunked = true;
      } else if (lower.starts_with("connection:") &&
                 lower.find("close") != std::string::npos) {
        close = true;
      } else if (lower.starts_with("content-type:") &&
                 lower.find("text/html") != std::string::npos) {
        html = true;
      }
    }
    answer.clear();
    if (chunked) {
      for (;;) {
        if (!ReadLine(line)) return false;
        long size = std::strtol(line.c_str(), nullptr, 16);
        if (size < 0) return Malformed("chunk size");
        if (size == 0) {
          do {
            if (!ReadLine(line)) return false;
          } while (!line.empty());
          break;
        }
        if (!Take(static_cast<std::size_t>(size), answer)) return false;
        if (!ReadLine(line) || !line.empty()) return Malformed("chunk end");
      }
    } else if (length >= 0) {
      if (!Take(static_cast<std::size_t>(length), answer)) return false;
    } else {
      return Malformed("neither Content-Length nor chunked");
    }
    if (!html && status == 200) Wrong("no Content-Type text/html", answer);
    if (close) Close();
    return true;
  }

  int port_;
  int fd_ = -1;
  bool used_ = false;
  bool received_ = false;
  std::string buffer_;
};

struct Counts {
  long requests = 0;
  long gets = 0, puts = 0, queries = 0, lists = 0, stores = 0, opens = 0;
  std::vector<std::uint32_t> micros;
};

class Client {
 public:
  Client(int id, Counts& counts)
      : id_(id),
        counts_(counts),
        random_(Mix(id) ^ ::getpid()),
        connection_(g_options.ports[static_cast<std::size_t>(id) %
                                    g_options.ports.size()]) {}

  // One request, timed; false when its answer was not a well-formed 200.
  bool Request(std::string_view method, const std::string& target,
               std::string_view body, std::string& answer) {
    auto start = Clock::now();
    int status = 0;
    bool sent = connection_.Send(method, target, body, status, answer);
    auto took = std::chrono::duration_cast<std::chrono::microseconds>(
        Clock::now() - start);
    counts_.requests++;
    counts_.micros.push_back(static_cast<std::uint32_t>(took.count()));
    if (!sent) {
      Wrong("no answer to " + std::string(method) + " " + target);
      return false;
    }
    if (status != 200) {
      Wrong("status " + std::to_string(status), answer);
      return false;
    }
    if (g_options.header_only && !answer.empty()) {
      Wrong("header-only program answered a body", answer);
      return false;
    }
    return !g_options.header_only;
  }

  bool Post(const std::string& body, std::string& answer) {
    return Request("POST", g_options.path, body, answer);
  }

  std::string Command(char letter, const std::string& rest) {
    return std::string(1, letter) + "\n" + g_options.data + "\n" + rest;
  }

  void Get(int db) {
    counts_.gets++;
    std::string answer;
    if (!Post(Command('g', DatabaseKey(db) + " " + DatabaseName(db) + "\n"),
              answer)) {
      return;
    }
    // "s", the key line, then the rest: the whole file after "s".
    Version v{};
    std::size_t a = 0;
    for (int line = 0; line < 4 && a != std::string::npos; ++line) {
      a = answer.find('\n', a);
      if (a != std::string::npos) ++a;
    }
    if (a == std::string::npos || !ParseVersion(answer.substr(a), v) ||
        !Issued(v, db)) {
      Wrong("get " + DatabaseName(db) + ": no version a put wrote", answer);
    } else if (answer != "s" + DatabaseText(v)) {
      Wrong("get " + DatabaseName(db) + ": not the whole version", answer);
    }
  }

  void Put(int db) {
    counts_.puts++;
    Version v{db, id_, 0};
    v.number = ++g_issued[db][id_];
    std::string answer;
    if (Post(Command('p', DatabaseKey(db) + " " + DatabaseName(db) + "\n") +
                 DatabaseText(v),
             answer) &&
        answer != "s") {
      Wrong("put " + DatabaseName(db), answer);
    }
  }

  void Query(int db) {
    counts_.queries++;
    std::string answer;
    if (!Post(Command('q', "double " + DatabaseName(db) + "\n"), answer)) {
      return;
    }
    Version v{};
    if (!answer.starts_with("s") || !ParseVersion(answer.substr(1), v) ||
        !Issued(v, db)) {
      Wrong("query " + DatabaseName(db) + ": no version a put wrote", answer);
    } else if (answer != QueryAnswer(v)) {
      Wrong("query " + DatabaseName(db) + ": not that version's prices",
            answer);
    }
  }

  void List() {
    counts_.lists++;
    std::string answer;
    if (!Post(Command('l', ""), answer)) return;
    std::set<std::string> names;
    std::size_t at = 1;
    while (at < answer.size()) {
      std::size_t end = answer.find('\n', at);
      if (end == std::string::npos) break;
      names.insert(answer.substr(at, end - at));
      at = end + 1;
    }
    std::set<std::string> expected;
    for (int db = 0; db < kDatabases; ++db) expected.insert(DatabaseName(db));
    if (!answer.starts_with("s") || at != answer.size() || names != expected) {
      Wrong("listing: not exactly the databases", answer);
    }
  }

  void Store() {
    counts_.stores++;
    auto offer = std::make_unique<Offer>();
    offer->text = "<p>offer " + std::to_string(id_) + " " +
                  std::to_string(stored_++) + "</p>\n";
    offer->text.append(random_() % 4000, "abcdefgh\n"[random_() % 9]);
    offer->text += "\n";
    std::string answer;
    if (!Post(Command('s', offer->text), answer)) return;
    if (!answer.starts_with("s") || !IsOfferName(answer.substr(1))) {
      Wrong("store: no offer name", answer);
      return;
    }
    offer->name = answer.substr(1);
    std::lock_guard lock(g_offers_mutex);
    g_tickets.push_back(offer.get());
    g_tickets.push_back(offer.get());
    g_offers.push_back(std::move(offer));
  }

  // Opens an offer that some client stored; false when there is none.
  bool Open() {
    Offer* offer = nullptr;
    {
      std::lock_guard lock(g_offers_mutex);
      if (g_tickets.empty()) return false;
      // The other ticket is often still near the front: two clients may
      // open the same offer at once.
      std::size_t pick = random_() % std::min<std::size_t>(4, g_tickets.size());
      offer = g_tickets[pick];
      g_tickets.erase(g_tickets.begin() + static_cast<long>(pick));
    }
    OpenOffer(offer->name, offer);
    return true;
  }

  void OpenOffer(const std::string& name, Offer* offer) {
    counts_.opens++;
    std::string target =
        g_options.path + "?" + OfferLinkQuery(name, g_options.data);
    std::string answer;
    if (!Request("GET", target, {}, answer) || offer == nullptr) return;
    if (answer == kGone) {
      offer->gone++;
    } else if (answer == kPageStart + offer->text + kPageEnd) {
      offer->shown++;
    } else {
      Wrong("offer " + name + ": neither the page nor gone", answer);
    }
  }

  void Run(Clock::time_point end) {
    while (Clock::now() < end) {
      int db = static_cast<int>(random_() % kDatabases);
      unsigned pick = random_() % 100;
      if (g_options.header_only && pick >= 85) {
        OpenOffer(".AAAAAA", nullptr);  // the same request, nothing to show
      } else if (pick < 30) {
        Get(db);
      } else if (pick < 45) {
        Put(db);
      } else if (pick < 65) {
        Query(db);
      } else if (pick < 75) {
        List();
      } else if (pick < 85) {
        Store();
      } else if (!Open()) {
        Get(db);
      }
    }
  }

  int id_;
  Counts& counts_;
  std::mt19937_64 random_;
  long stored_ = 0;
  Connection connection_;
};

// The names in a directory, "." and ".." left out.
std::set<std::string> DirectoryNames(const std::string& path) {
  std::set<std::string> names;
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return names;
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.insert(name);
  }
  ::closedir(dir);
  return names;
}

// A put and a store of `megabytes` MB, each read back whole.
void BigRequests(Client& client, long megabytes) {
  std::size_t size = static_cast<std::size_t>(megabytes) << 20;
  std::string answer;
  std::string text = "big\n1\nretail 1.0\nBig\n\"\"\n0\n";
  std::string line = "a trailing line of the big database, to fill it up\n";
  while (text.size() + line.size() <= size) text += line;
  text.append(size - text.size(), 'x');
  text.back() = '\n';
  if (!client.Post(client.Command('c', "big big\n"), answer) || answer != "s") {
    Wrong("create big", answer);
  }
  if (!client.Post(client.Command('p', "big big\n") + text, answer) ||
      answer != "s") {
    Wrong("put of " + std::to_string(megabytes) + " MB", answer);
  }
  if (!client.Post(client.Command('g', "big big\n"), answer) ||
      answer != "s" + text) {
    Wrong("get of the " + std::to_string(megabytes) + " MB put: not whole",
          answer.substr(0, 100));
  }
  if (!client.Post(client.Command('r', "big big\n"), answer) || answer != "s") {
    Wrong("remove big", answer);
  }
  text[0] = '<';  // an offer's text starts with a printable byte
  if (!client.Post(client.Command('s', text), answer) ||
      !IsOfferName(answer.substr(std::min<std::size_t>(1, answer.size())))) {
    Wrong("store of " + std::to_string(megabytes) + " MB", answer);
    return;
  }
  Offer offer;
  offer.name = answer.substr(1);
  offer.text = std::move(text);
  client.OpenOffer(offer.name, &offer);
  if (offer.shown != 1) {
    Wrong("the " + std::to_string(megabytes) + " MB offer was not shown whole");
  }
}

// "Authorization: Basic ..." for USER:PASSWORD.
std::string BasicAuthorization(std::string_view login) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out = "Authorization: Basic ";
  for (std::size_t i = 0; i < login.size(); i += 3) {
    std::uint32_t n = static_cast<unsigned char>(login[i]) << 16;
    if (i + 1 < login.size())
      n |= static_cast<unsigned char>(login[i + 1]) << 8;
    if (i + 2 < login.size()) n |= static_cast<unsigned char>(login[i + 2]);
    out += kDigits[(n >> 18) & 63];
    out += kDigits[(n >> 12) & 63];
    out += i + 1 < login.size() ? kDigits[(n >> 6) & 63] : '=';
    out += i + 2 < login.size() ? kDigits[n & 63] : '=';
  }
  return out + "\r\n";
}

double Percentile(const std::vector<std::uint32_t>& sorted, double p) {
  if (sorted.empty()) return 0;
  std::size_t at = static_cast<std::size_t>(p * (sorted.size() - 1) + 0.5);
  return sorted[at] / 1000.0;
}

[[noreturn]] void Usage() {
  std::fprintf(stderr,
               "usage: talvenplan_load --port PORT [--port PORT...] --data DIR "
               "[--clients N] [--seconds T] [--path PATH] "
               "[--login USER:PASSWORD] [--header-only] [--big MB]\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  Options& o = g_options;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    bool has_value = i + 1 < argc;
    if (arg == "--header-only") {
      o.header_only = true;
    } else if (!has_value) {
      Usage();
    } else if (arg == "--port") {
      o.ports.push_back(std::atoi(argv[++i]));
    } else if (arg == "--login") {
      o.authorization = BasicAuthorization(argv[++i]);
    } else if (arg == "--data") {
      o.data = argv[++i];
    } else if (arg == "--clients") {
      o.clients = std::atoi(argv[++i]);
    } else if (arg == "--seconds") {
      o.seconds = std::atof(argv[++i]);
    } else if (arg == "--path") {
      o.path = argv[++i];
    } else if (arg == "--big") {
      o.big_megabytes = std::atol(argv[++i]);
    } else {
      Usage();
    }
  }
  bool ports_valid = !o.ports.empty();
  for (int port : o.ports)
    ports_valid = ports_valid && port > 0 && port <= 65535;
  if (!ports_valid || !o.data.starts_with("/") || o.clients < 1 ||
      o.clients > kMaxClients || o.seconds <= 0 || o.seconds > 3600 ||
      o.big_megabytes < 0) {
    Usage();
  }

  // The databases, in their first versions (writer 0, number 0).
  Counts setup_counts;
  Client setup(0, setup_counts);
  if (!o.header_only) {
    for (int db = 0; db < kDatabases; ++db) {
      std::string answer;
      std::string name = DatabaseKey(db) + " " + DatabaseName(db) + "\n";
      if (!setup.Post(setup.Command('c', name), answer) || answer != "s" ||
          !setup.Post(setup.Command('p', name) + DatabaseText({db, 0, 0}),
                      answer) ||
          answer != "s") {
        std::fprintf(stderr, "could not set up %s: %s\n",
                     DatabaseName(db).c_str(), answer.c_str());
        return 2;
      }
    }
  }

  std::vector<Counts> counts(static_cast<std::size_t>(o.clients));
  std::vector<std::thread> threads;
  auto start = Clock::now();
  auto end = start + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(o.seconds));
  for (int id = 1; id <= o.clients; ++id) {
    threads.emplace_back([id, end, &counts] {
      Client client(id, counts[static_cast<std::size_t>(id - 1)]);
      client.Run(end);
    });
  }
  for (std::thread& thread : threads) thread.join();
  double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

  // Offers whose second ticket was not used: open them now, so that each
  // offer has been asked for twice.
  Counts drain_counts;
  Client drain(0, drain_counts);
  while (drain.Open()) {
  }
  long offers = 0;
  for (const auto& offer : g_offers) {
    ++offers;
    if (offer->shown != 1 || offer->gone != 1) {
      Wrong("offer " + offer->name + " shown " +
            std::to_string(offer->shown.load()) + " times, gone " +
            std::to_string(offer->gone.load()) + " times");
    }
  }

  Counts total;
  std::vector<std::uint32_t> micros;
  for (const Counts& c : counts) {
    total.requests += c.requests;
    total.gets += c.gets;
    total.puts += c.puts;
    total.queries += c.queries;
    total.lists += c.lists;
    total.stores += c.stores;
    total.opens += c.opens;
    micros.insert(micros.end(), c.micros.begin(), c.micros.end());
  }
  std::sort(micros.begin(), micros.end());

  if (o.big_megabytes > 0 && !o.header_only)
    BigRequests(setup, o.big_megabytes);

  // Nothing but the databases may be left: no offer, no put's temporary.
  if (!o.header_only) {
    std::set<std::string> expected;
    for (int db = 0; db < kDatabases; ++db) expected.insert(DatabaseName(db));
    std::set<std::string> found = DirectoryNames(o.data);
    // .versions holds what the puts replaced, where TALVEN_VERSIONS is set.
    expected.insert(".versions");
    for (const std::string& name : found) {
      if (!expected.contains(name))
        Wrong("left in the data directory: " + name);
    }
  }

  std::printf(
      "%s, %d client%s, %.1f s: %ld requests, %.0f req/s, latency p50 %.2f "
      "ms, p99 %.2f ms, max %.2f ms\n",
      o.path.c_str() + 1, o.clients, o.clients == 1 ? "" : "s", elapsed,
      total.requests, total.requests / elapsed, Percentile(micros, 0.50),
      Percentile(micros, 0.99), micros.empty() ? 0 : micros.back() / 1000.0);
  if (!o.header_only) {
    std::printf(
        "checked: %ld gets, %ld puts, %ld queries, %ld listings, %ld stores, "
        "%ld offer opens (%ld offers)%s; %ld wrong\n",
        total.gets, total.puts, total.queries, total.lists, total.stores,
        total.opens + drain_counts.opens, offers,
        o.big_megabytes > 0 ? (", a put and a store of " +
                               std::to_string(o.big_megabytes) + " MB")
                                  .c_str()
                            : "",
        g_wrong.load());
  }
  std::fflush(stdout);
  return g_wrong.load() == 0 ? 0 : 1;
}
